// The main-thread call service: hand-over, exceptions, and waiting for a thread that is itself
// waiting for the main thread.
#include "platform/mainthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace qorvel::platform {
namespace {

using namespace std::chrono_literals;

class TLambdaThread : public TThread {
public:
    explicit TLambdaThread(std::function<void(TLambdaThread&)> body) : FBody(std::move(body)) {}
    ~TLambdaThread() override { WaitFor(); }
    using TThread::Synchronize;

protected:
    void Execute() override { FBody(*this); }

private:
    std::function<void(TLambdaThread&)> FBody;
};

TEST(MainThread, SynchronizeRunsOnTheMainThreadAndWaits) {
    ASSERT_TRUE(IsMainThread());
    std::atomic<int> wakes{0};
    auto previous = SetWakeMainThread([&] { ++wakes; });
    std::thread::id ranOn;
    bool returned = false;
    TLambdaThread thread([&](TLambdaThread& self) {
        EXPECT_FALSE(IsMainThread());
        self.Synchronize([&] { ranOn = std::this_thread::get_id(); });
        returned = true; // read by the main thread only after WaitFor
    });
    thread.Start();
    EXPECT_TRUE(WaitServing([&] { return thread.Finished(); }, 10s));
    thread.WaitFor();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(returned);
    EXPECT_EQ(wakes.load(), 1);
    SetWakeMainThread(previous);
}

TEST(MainThread, QueuedCallsRunLaterOnTheMainThreadInOrderWithSynchronize) {
    std::atomic<int> wakes{0};
    auto previous = SetWakeMainThread([&] { ++wakes; });
    std::vector<std::string> order; // touched on the main thread only
    bool mainOnly = true;
    std::atomic<bool> queued{false};
    TLambdaThread thread([&](TLambdaThread& self) {
        Queue([&] {
            mainOnly &= IsMainThread();
            order.push_back("queued 1");
        });
        queued = true;
        // Returns only once it ran, so the first queued call has run before it.
        self.Synchronize([&] { order.push_back("synchronized"); });
        Queue([&] {
            mainOnly &= IsMainThread();
            order.push_back("queued 2");
        });
    });
    thread.Start();
    // The thread does not wait for a queued call.
    while (!queued)
        std::this_thread::yield();
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(WaitServing([&] { return thread.Finished(); }, 10s));
    CheckSynchronize(0);
    EXPECT_EQ(order, (std::vector<std::string>{"queued 1", "synchronized", "queued 2"}));
    EXPECT_TRUE(mainOnly);
    EXPECT_EQ(wakes, 3);
    // Queued on the main thread itself: still later, not at once.
    Queue([&] { order.push_back("from main"); });
    EXPECT_EQ(order.size(), 3u);
    EXPECT_TRUE(CheckSynchronize(0));
    EXPECT_EQ(order.back(), "from main");
    SetWakeMainThread(std::move(previous));
}

TEST(MainThread, CallsQueuedWhileTheQueueRunsWaitForTheNextTurn) {
    // A producer that keeps queueing must not hold the main thread: each turn runs what was queued
    // before it began, and every later call asks for a turn of its own.
    std::atomic<int> wakes{0};
    auto previous = SetWakeMainThread([&] { ++wakes; });
    int runs = 0;
    std::function<void()> again = [&] {
        if (++runs < 3) Queue(again);
    };
    Queue(again);
    for (int turn = 1; turn <= 3; ++turn) {
        EXPECT_TRUE(CheckSynchronize(0));
        EXPECT_EQ(runs, turn);
    }
    EXPECT_FALSE(CheckSynchronize(0));
    EXPECT_EQ(wakes, 3);
    SetWakeMainThread(std::move(previous));
}

TEST(MainThread, ExceptionsTravelBackToTheCaller) {
    std::string caught;
    TLambdaThread thread([&](TLambdaThread& self) {
        try {
            self.Synchronize([] { throw std::runtime_error("Unable to read from port."); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        self.Synchronize([] { throw std::logic_error("ends Execute"); });
    });
    thread.Start();
    thread.WaitFor();
    EXPECT_EQ(caught, "Unable to read from port.");
    ASSERT_TRUE(thread.FatalException());
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::logic_error);
}

TEST(MainThread, WaitingForAThreadServesItsPendingCall) {
    // The thread is blocked handing a call to the main thread when the main thread starts
    // waiting for it to end: WaitFor must run the call, or both would wait for ever.
    std::atomic<bool> stop{false};
    int served = 0;
    TLambdaThread thread([&](TLambdaThread& self) {
        while (!stop)
            self.Synchronize([&] { ++served; });
    });
    thread.Start();
    while (served == 0)
        CheckSynchronize(10);
    stop = true;
    thread.WaitFor();
    EXPECT_GE(served, 1);
    EXPECT_FALSE(CheckSynchronize());
}

TEST(MainThread, OtherThreadsDoNotServeAndMainThreadCallsRunDirectly) {
    bool ran = false;
    Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
    std::thread other([] {
        EXPECT_FALSE(IsMainThread());
        EXPECT_FALSE(CheckSynchronize(1));
    });
    other.join();
    std::atomic<bool> flag{false};
    EXPECT_FALSE(WaitServing([&] { return flag.load(); }, 20ms));
    std::thread setter([&] {
        flag = true;
        NotifyMainThreadWaiters();
    });
    EXPECT_TRUE(WaitServing([&] { return flag.load(); }, 10s));
    setter.join();
}

} // namespace
} // namespace qorvel::platform
