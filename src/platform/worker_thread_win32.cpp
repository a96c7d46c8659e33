#include <windows.h>

#include "platform/worker_thread.h"

namespace kestrel {

namespace {

struct Start {
    WorkerThread::Entry entry;
    void* argument;
};

DWORD WINAPI run(LPVOID start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.entry(s.argument);
    return 0;
}

}  // namespace

WorkerThread::~WorkerThread() {
    join();
}

bool WorkerThread::start(Entry entry, void* argument) {
    if (handle_ != nullptr) return false;
    auto* start = new Start{entry, argument};
    HANDLE thread = CreateThread(nullptr, 0, run, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        return false;
    }
    handle_ = thread;
    return true;
}

void WorkerThread::join() {
    if (handle_ == nullptr) return;
    WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

// A slim reader/writer lock taken exclusively: no kernel object, nothing to destroy.
Mutex::Mutex() : handle_(new SRWLOCK) {
    InitializeSRWLock(static_cast<SRWLOCK*>(handle_));
}

Mutex::~Mutex() {
    delete static_cast<SRWLOCK*>(handle_);
}

void Mutex::lock() {
    AcquireSRWLockExclusive(static_cast<SRWLOCK*>(handle_));
}

void Mutex::unlock() {
    ReleaseSRWLockExclusive(static_cast<SRWLOCK*>(handle_));
}

}  // namespace kestrel
