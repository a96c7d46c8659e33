#include "station/port_identity.h"

namespace kestrel {

namespace {

// A COM port keeps its number when its device returns, so the name is identity enough.
class NameOnlyLookup final : public IdentityLookup {
  public:
    PortIdentity identityOf(const std::string&) override { return {}; }
};

}  // namespace

std::unique_ptr<IdentityLookup> createPlatformIdentityLookup() {
    return std::make_unique<NameOnlyLookup>();
}

}  // namespace kestrel
