// What the worker thread holds instead of the window: each call is carried out on the
// window's thread while the worker waits, in the order made. Once the window has detached,
// calls do nothing and return at once, and a call still waiting is released, so a session
// never touches a destroyed window and never waits for one forever.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "session/status_reporter.h"

class QObject;
class QThread;

namespace kestrel {

class SessionRelay : public SessionHost {
  public:
    // `window` is the window's own SessionHost, `windowObject` the same window as a QObject;
    // the calls are queued to it. Both are used on the window's thread only.
    SessionRelay(SessionHost* window, QObject* windowObject);
    SessionRelay(const SessionRelay&) = delete;
    SessionRelay& operator=(const SessionRelay&) = delete;

    // On the window's thread, before the window goes away.
    void detach();

    void readFields(SessionFields* fields) override;
    void setStatus(const char* text) override;
    void setProgressRange(int32_t maximum) override;
    void setProgressPosition(int32_t position) override;
    void enableStart() override;

    // Any other work for the window, carried out the same way: on the window's thread while
    // the caller waits, and not at all once the window has detached.
    void carryOut(std::function<void(SessionHost&)> work);

  private:
    struct Call;
    void runOnWindowThread(const std::shared_ptr<Call>& call);
    void finish(const std::shared_ptr<Call>& call);  // with mutex_ held

    std::mutex mutex_;
    SessionHost* window_;  // null once detached; guarded by mutex_
    QObject* windowObject_;
    QThread* windowThread_;
    std::vector<std::shared_ptr<Call>> waiting_;  // calls whose worker waits; guarded by mutex_
};

}  // namespace kestrel
