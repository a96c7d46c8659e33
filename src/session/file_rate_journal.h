// The rate journal kept in files under `folder` (created when first needed). Linux only.
#pragma once

#include <memory>
#include <string>

#include "session/rate_journal.h"

namespace kestrel {

std::unique_ptr<RateJournal> createFileRateJournal(const std::string& folder);

}  // namespace kestrel
