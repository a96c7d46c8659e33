#include "session/update_session.h"
