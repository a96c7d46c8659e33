#include "ui/session_relay.h"

#include <QMetaObject>
#include <QObject>
#include <QSemaphore>
#include <QThread>
#include <algorithm>

namespace kestrel {

struct SessionRelay::Call {
    std::function<void(SessionHost&)> work;
    QSemaphore done;
    bool finished = false;  // guarded by the relay's mutex
};

SessionRelay::SessionRelay(SessionHost* window, QObject* windowObject)
    : window_(window), windowObject_(windowObject), windowThread_(windowObject->thread()) {}

void SessionRelay::detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = nullptr;
    while (!waiting_.empty())
        finish(waiting_.back());
}

void SessionRelay::finish(const std::shared_ptr<Call>& call) {
    if (!call->finished) {
        call->finished = true;
        call->done.release();
    }
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), call), waiting_.end());
}

void SessionRelay::carryOut(std::function<void(SessionHost&)> work) {
    if (QThread::currentThread() == windowThread_) {
        // Already on the window's thread: waiting for our own event loop would never end.
        SessionHost* window;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            window = window_;
        }
        if (window) work(*window);
        return;
    }
    auto call = std::make_shared<Call>();
    call->work = std::move(work);
    {
        // Posting under the lock: the window cannot detach (and go away) in between. Calls
        // still queued when the window is destroyed are discarded with it.
        std::lock_guard<std::mutex> lock(mutex_);
        if (!window_) return;
        waiting_.push_back(call);
        QMetaObject::invokeMethod(
            windowObject_, [this, call] { runOnWindowThread(call); }, Qt::QueuedConnection);
    }
    call->done.acquire();
}

void SessionRelay::runOnWindowThread(const std::shared_ptr<Call>& call) {
    SessionHost* window;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (call->finished) return;
        window = window_;
    }
    // Detaching happens on this same thread, so the window stays valid during the call.
    if (window) call->work(*window);
    std::lock_guard<std::mutex> lock(mutex_);
    finish(call);
}

void SessionRelay::readFields(SessionFields* fields) {
    carryOut([fields](SessionHost& w) { w.readFields(fields); });
}

void SessionRelay::setStatus(const char* text) {
    carryOut([text](SessionHost& w) { w.setStatus(text); });
}

void SessionRelay::setProgressRange(int32_t maximum) {
    carryOut([maximum](SessionHost& w) { w.setProgressRange(maximum); });
}

void SessionRelay::setProgressPosition(int32_t position) {
    carryOut([position](SessionHost& w) { w.setProgressPosition(position); });
}

void SessionRelay::enableStart() {
    carryOut([](SessionHost& w) { w.enableStart(); });
}

}  // namespace kestrel
