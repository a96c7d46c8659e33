#include "session/session_outcome.h"

namespace kestrel {

namespace {

// In the order of SessionResult: the stable name machines read, and the words people read.
struct ResultNames {
    const char* name;
    const char* description;
};
constexpr ResultNames kResults[] = {
    {"succeeded", "succeeded"},
    {"port-not-opened", "port not opened"},
    {"image-unreadable", "firmware image unreadable"},
    {"download-mode-not-entered", "download mode not entered"},
    {"usb-port-not-reopened", "USB port not reopened"},
    {"no-start-signal", "no start signal"},
    {"transfer-failed", "transfer failed"},
    {"hand-back-failed", "hand-back failed"},
    {"interrupted", "interrupted"},
};
static_assert(sizeof kResults / sizeof kResults[0] ==
                  static_cast<size_t>(SessionResult::Interrupted) + 1,
              "a name for every result");

// In the order of BlockFailure.
constexpr const char* kBlockFailures[] = {"none",         "no-answer",    "too-many-retries",
                                          "fatal-answer", "image-broken", "stray-answer"};
static_assert(sizeof kBlockFailures / sizeof kBlockFailures[0] ==
                  static_cast<size_t>(BlockFailure::StrayAnswer) + 1,
              "a name for every block failure");

}  // namespace

const char* describeResult(SessionResult result) {
    const auto i = static_cast<size_t>(result);
    return i < sizeof kResults / sizeof kResults[0] ? kResults[i].description : "unknown result";
}

const char* resultName(SessionResult result) {
    const auto i = static_cast<size_t>(result);
    return i < sizeof kResults / sizeof kResults[0] ? kResults[i].name : "unknown";
}

const char* blockFailureName(BlockFailure failure) {
    const auto i = static_cast<size_t>(failure);
    return i < sizeof kBlockFailures / sizeof kBlockFailures[0] ? kBlockFailures[i] : "unknown";
}

}  // namespace kestrel
