// Threads and a lock for the front ends that run several sessions at once. Behind this seam
// so that the Windows console program stays one small static file (std::thread would pull
// a threading runtime into it).
#pragma once

namespace kestrel {

class WorkerThread {
  public:
    using Entry = void (*)(void* argument);

    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    // A started thread must be joined before its object goes.
    ~WorkerThread();

    // Runs entry(argument) on a new thread. False when no thread could be made.
    bool start(Entry entry, void* argument);
    // Waits for the thread to return; nothing when none was started.
    void join();

  private:
    void* handle_ = nullptr;
};

// A plain mutual-exclusion lock, not recursive.
class Mutex {
  public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock();
    void unlock();

  private:
    void* handle_;
};

class MutexHold {
  public:
    explicit MutexHold(Mutex& m) : m_(m) { m_.lock(); }
    ~MutexHold() { m_.unlock(); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

  private:
    Mutex& m_;
};

}  // namespace kestrel
