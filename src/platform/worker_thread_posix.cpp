#include <pthread.h>

#include "platform/worker_thread.h"

namespace kestrel {

namespace {

struct Start {
    WorkerThread::Entry entry;
    void* argument;
};

void* run(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.entry(s.argument);
    return nullptr;
}

}  // namespace

WorkerThread::~WorkerThread() {
    join();
}

bool WorkerThread::start(Entry entry, void* argument) {
    if (handle_ != nullptr) return false;
    auto* thread = new pthread_t;
    auto* start = new Start{entry, argument};
    if (pthread_create(thread, nullptr, run, start) != 0) {
        delete start;
        delete thread;
        return false;
    }
    handle_ = thread;
    return true;
}

void WorkerThread::join() {
    if (handle_ == nullptr) return;
    auto* thread = static_cast<pthread_t*>(handle_);
    pthread_join(*thread, nullptr);
    delete thread;
    handle_ = nullptr;
}

Mutex::Mutex() : handle_(new pthread_mutex_t) {
    pthread_mutex_init(static_cast<pthread_mutex_t*>(handle_), nullptr);
}

Mutex::~Mutex() {
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(handle_));
    delete static_cast<pthread_mutex_t*>(handle_);
}

void Mutex::lock() {
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(handle_));
}

void Mutex::unlock() {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(handle_));
}

}  // namespace kestrel
