#include "platform/mainthread.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace qorvel::platform {

namespace {

struct TSyncCall {
    const std::function<void()>* Method;
    std::exception_ptr Error;
    bool Done = false;
    // A queued call that nobody waits for: the queue owns it and deletes it once run.
    std::function<void()> Owned;
};

struct TSyncQueue {
    std::mutex Lock;
    // Signalled when a call is queued, a call is done, or a waited-for condition may have changed.
    std::condition_variable Changed;
    std::deque<TSyncCall*> Calls;
    WakeHook Wake;
    // Counts NotifyMainThreadWaiters calls, so a waiter cannot miss one that came while it tested.
    unsigned long Generation = 0;
    std::thread::id MainId = std::this_thread::get_id();
};

TSyncQueue& TheQueue() {
    static TSyncQueue queue;
    return queue;
}

// Captures the process's initial thread during static initialisation.
[[maybe_unused]] const bool kMainCaptured = (TheQueue(), true);

// Runs the calls queued so far. Calls queued meanwhile wait for the next turn (the wake hook has
// been called for them), so a thread that keeps queueing cannot hold the main thread for ever.
void RunCalls(std::unique_lock<std::mutex>& lock) {
    TSyncQueue& q = TheQueue();
    for (std::size_t left = q.Calls.size(); left > 0 && !q.Calls.empty(); --left) {
        TSyncCall* call = q.Calls.front();
        q.Calls.pop_front();
        lock.unlock();
        if (call->Owned) {
            // Nobody waits for it; noexcept by contract.
            call->Owned();
            delete call;
            lock.lock();
            ++q.Generation;
            q.Changed.notify_all();
            continue;
        }
        try {
            (*call->Method)();
        } catch (...) {
            call->Error = std::current_exception();
        }
        lock.lock();
        call->Done = true;
        ++q.Generation;
        q.Changed.notify_all();
    }
}

} // namespace

void SetMainThread() {
    std::lock_guard lock(TheQueue().Lock);
    TheQueue().MainId = std::this_thread::get_id();
}

bool IsMainThread() {
    std::lock_guard lock(TheQueue().Lock);
    return TheQueue().MainId == std::this_thread::get_id();
}

void Synchronize(const std::function<void()>& method) {
    if (IsMainThread()) {
        method();
        return;
    }
    TSyncQueue& q = TheQueue();
    TSyncCall call{&method, nullptr, false, {}};
    WakeHook wake;
    {
        std::lock_guard lock(q.Lock);
        q.Calls.push_back(&call);
        wake = q.Wake;
        q.Changed.notify_all();
    }
    if (wake) wake();
    std::unique_lock lock(q.Lock);
    q.Changed.wait(lock, [&] { return call.Done; });
    if (call.Error) std::rethrow_exception(call.Error);
}

void Queue(std::function<void()> method) {
    TSyncQueue& q = TheQueue();
    auto* call = new TSyncCall{nullptr, nullptr, false, {}};
    call->Owned = std::move(method);
    WakeHook wake;
    {
        std::lock_guard lock(q.Lock);
        q.Calls.push_back(call);
        wake = q.Wake;
        q.Changed.notify_all();
    }
    if (wake) wake();
}

bool CheckSynchronize(unsigned timeoutMs) {
    TSyncQueue& q = TheQueue();
    std::unique_lock lock(q.Lock);
    if (q.MainId != std::this_thread::get_id()) return false;
    if (q.Calls.empty() && timeoutMs > 0)
        q.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !q.Calls.empty(); });
    if (q.Calls.empty()) return false;
    RunCalls(lock);
    return true;
}

WakeHook SetWakeMainThread(WakeHook hook) {
    std::lock_guard lock(TheQueue().Lock);
    std::swap(TheQueue().Wake, hook);
    return hook;
}

bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    TSyncQueue& q = TheQueue();
    const auto deadline = limit >= std::chrono::hours(24 * 365) ? std::chrono::steady_clock::time_point::max()
                                                                : std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(q.Lock);
    const bool serve = q.MainId == std::this_thread::get_id();
    for (;;) {
        if (serve) RunCalls(lock);
        const unsigned long seen = q.Generation;
        lock.unlock();
        const bool finished = done();
        lock.lock();
        if (finished) return true;
        const auto woken = [&] { return q.Generation != seen || (serve && !q.Calls.empty()); };
        if (deadline == std::chrono::steady_clock::time_point::max())
            q.Changed.wait(lock, woken);
        else if (!q.Changed.wait_until(lock, deadline, woken))
            return false;
    }
}

void NotifyMainThreadWaiters() {
    std::lock_guard lock(TheQueue().Lock);
    ++TheQueue().Generation;
    TheQueue().Changed.notify_all();
}

TThread::~TThread() {
    if (FThread.joinable()) WaitFor();
}

void TThread::Start() {
    FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
    try {
        Execute();
    } catch (...) {
        FFatalException = std::current_exception();
    }
    FFinished.store(true, std::memory_order_release);
    NotifyMainThreadWaiters();
}

void TThread::WaitFor() {
    if (!FThread.joinable()) return;
    WaitServing([this] { return Finished(); });
    FThread.join();
}

} // namespace qorvel::platform
