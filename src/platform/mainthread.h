#pragma once
// "Run this on the main thread and wait": worker threads queue calls, the main thread runs them
// in CheckSynchronize. The application connects the wake hook to its event loop; a thread that
// the main thread waits for keeps being served, so closing never deadlocks with a pending call.
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <thread>

namespace qorvel::platform {

// The main thread is the one that started the process unless SetMainThread names another.
void SetMainThread();
bool IsMainThread();

// Runs `method` on the main thread and returns when it has run; an exception it throws is
// rethrown here. Called on the main thread, it runs `method` at once.
void Synchronize(const std::function<void()>& method);

// Queues `method` to run on the main thread and returns at once; calls run in the order they
// were queued, mixed in order with Synchronize calls. Called on the main thread, it still only
// queues. `method` must not throw (it runs inside the event loop, where nobody could take it).
void Queue(std::function<void()> method);

// Main thread only: runs every queued call; if none is queued, first waits up to `timeoutMs`
// for one. Returns whether any call ran.
bool CheckSynchronize(unsigned timeoutMs = 0);

// Called on the queuing thread each time a call is queued, so the application can post a
// "run CheckSynchronize" request into its event loop. Returns the previous hook.
using WakeHook = std::function<void()>;
WakeHook SetWakeMainThread(WakeHook hook);

// Waits until `done()` is true, serving queued calls meanwhile when called on the main thread.
// `done` is re-evaluated after every NotifyMainThreadWaiters() and every served call.
// Returns false if `limit` passed first.
bool WaitServing(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::milliseconds::max());
// Wakes WaitServing so it re-evaluates its condition (call after changing what it tests).
void NotifyMainThreadWaiters();

// A thread object with a run method, like the toolkit thread the driver expects: created
// suspended, started with Start(), and WaitFor() ends it while serving the main-thread queue.
class TThread {
public:
    TThread() = default;
    virtual ~TThread(); // waits for the thread (serving queued calls); Execute must be ending
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    // Waits until Execute has returned (serving queued calls on the main thread), then joins.
    void WaitFor();
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    std::thread::id ThreadId() const { return FThread.get_id(); }
    // The exception that ended Execute, if any (valid once Finished()).
    std::exception_ptr FatalException() const { return FFatalException; }

protected:
    virtual void Execute() = 0;
    // Runs `method` on the main thread and waits for it.
    void Synchronize(const std::function<void()>& method) { platform::Synchronize(method); }

private:
    void Run();

    std::thread FThread;
    std::atomic<bool> FFinished{false};
    std::exception_ptr FFatalException;
};

} // namespace qorvel::platform
