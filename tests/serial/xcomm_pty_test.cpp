// The serial component on real pseudo-terminals: lifecycle, byte transparency, the event thread
// and its hand-over to the main thread, busy locks, closing during a dispatch, hang-up.
#include "../platform/pty_helper.h"
#include "platform/mainthread.h"
#include "serial/xcomm.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using DE = TDeviceEvent;
constexpr auto kLimit = std::chrono::seconds(20); // generous: a loaded CI machine

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i)
        s += char(i);
    return s;
}

class XCommPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Pty.Name.empty());
        Comm.SetDeviceName(Pty.Name);
    }
    void TearDown() override { platform::SetWakeMainThread(nullptr); }

    // Serves main-thread calls until `done` holds.
    static bool Until(const std::function<bool()>& done) { return platform::WaitServing(done, kLimit); }

    test::TPty Pty;
    TXComm Comm;
};

TEST_F(XCommPty, OpensExclusivelyClosesAndReopens) {
    ASSERT_TRUE(Comm.OpenDevice());
    TXComm second;
    second.SetDeviceName(Pty.Name);
    try {
        second.OpenDevice();
        FAIL() << "second open succeeded";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode(), 65535);
        EXPECT_EQ(std::string(e.what()), "Cannot open device " + Pty.Name);
    }
    EXPECT_FALSE(second.Opened());
    Comm.CloseDevice();
    ASSERT_TRUE(second.OpenDevice());
    second.CloseDevice();
    ASSERT_TRUE(Comm.OpenDevice());
    EXPECT_TRUE(Comm.SendString("again"));
    EXPECT_EQ(Pty.Receive(5), "again");
}

TEST_F(XCommPty, AllByteValuesRoundTripBothWays) {
    Comm.Buffers().SetOutputSize(128); // several chunks
    ASSERT_TRUE(Comm.OpenDevice());
    const std::string all = AllBytes();
    EXPECT_EQ(Comm.SendData(all.data(), 256), 256u);
    EXPECT_EQ(Pty.Receive(256), all);

    ASSERT_TRUE(Pty.Send(all));
    std::string got(256, '\0');
    EXPECT_EQ(Comm.ReadData(got.data(), 256, 5000), 256u);
    EXPECT_EQ(got, all);
}

// A pseudo-terminal has no modem lines: each line-control call says so and changes nothing else.
TEST_F(XCommPty, LineControlIsNotSupportedAndThePortKeepsWorking) {
    ASSERT_TRUE(Comm.OpenDevice());
    const auto refused = [&](bool done) {
        return !done && Comm.LineControlError() == "not supported by this port";
    };
    EXPECT_TRUE(refused(Comm.SetBreak(true)) && refused(Comm.SetBreak(false)));
    EXPECT_TRUE(refused(Comm.SetDTR(false)) && refused(Comm.SetRTS(true)));
    EXPECT_TRUE(refused(Comm.ModemLines().has_value()));
    EXPECT_TRUE(Comm.SendString("still"));
    EXPECT_EQ(Pty.Receive(5), "still");
    ASSERT_TRUE(Pty.Send("fine"));
    std::string got(4, '\0');
    EXPECT_EQ(Comm.ReadData(got.data(), 4, 5000), 4u);
    EXPECT_EQ(got, "fine");
    EXPECT_FALSE(Comm.EventLoopFailed());
}

TEST_F(XCommPty, ReadDataReturnsWhatWaitsAfterInputTimeout) {
    Comm.Buffers().SetInputTimeout(200);
    ASSERT_TRUE(Comm.OpenDevice());
    ASSERT_TRUE(Pty.Send("1234"));
    ASSERT_TRUE(Until([&] { return Comm.InQueueCount() == 4; }));
    char buf[10];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Comm.ReadData(buf, 10), 4u);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(std::string(buf, 4), "1234");
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, kLimit);
}

TEST_F(XCommPty, OnDataRunsOnTheMainThreadAndCountsWhatWaitsWhenHandled) {
    const auto mainId = std::this_thread::get_id();
    std::vector<std::uint32_t> received;
    Comm.SetOnData([&](TCustomComm* c, std::uint32_t n) {
        EXPECT_EQ(std::this_thread::get_id(), mainId);
        received.push_back(n);
        if (received.size() == 1) {
            // More arrives while this batch is handled; the next batch counts it with the rest.
            ASSERT_TRUE(Pty.Send("XYZ"));
            const auto deadline = std::chrono::steady_clock::now() + kLimit;
            while (c->InQueueCount() < n + 3 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_TRUE(Comm.OpenDevice());
    ASSERT_TRUE(Pty.Send("abc"));
    ASSERT_TRUE(Until([&] { return received.size() >= 2; }));
    EXPECT_EQ(received[1], received[0] + 3);
    std::string got(6, '\0');
    EXPECT_EQ(Comm.ReadData(got.data(), 6, 1000), 6u);
    EXPECT_EQ(got, "abcXYZ");
}

TEST_F(XCommPty, EventCharacterAndDataMakeOneNotificationPerBatch) {
    struct Row {
        const char* Name;
        TDeviceEvents Monitor;
        bool ExpectCommEvents;
    };
    const Row rows[] = {{"default monitor", {DE::deChar, DE::deFlag, DE::deOutEmpty}, true},
                        {"nothing monitored", {}, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        test::TPty pty;
        TXComm comm;
        comm.SetDeviceName(pty.Name);
        comm.SetMonitorEvents(row.Monitor);
        std::string log; // "D" per OnData, "E<mask>" per OnCommEvent
        std::string text;
        bool sawFlag = false;
        comm.SetOnData([&](TCustomComm* c, std::uint32_t n) {
            log += "D";
            std::string buf(n, '\0');
            text.append(buf.data(), c->ReadData(buf.data(), n, 1000));
        });
        comm.SetOnCommEvent([&](TCustomComm*, TDeviceEvents e) {
            log += "E" + std::to_string(e.Mask());
            sawFlag |= e.Contains(DE::deFlag);
        });
        ASSERT_TRUE(comm.OpenDevice());
        ASSERT_TRUE(pty.Send("line\n"));
        ASSERT_TRUE(Until([&] { return text.size() == 5; }));
        comm.CloseDevice();
        EXPECT_EQ(text, "line\n");
        if (row.ExpectCommEvents) {
            EXPECT_TRUE(sawFlag) << log;
            // Every event batch is preceded by exactly one data notification.
            for (std::size_t i = 0; i < log.size(); ++i)
                if (log[i] == 'E') {
                    EXPECT_GT(i, 0u);
                    EXPECT_EQ(log[i - 1], 'D') << log;
                }
            EXPECT_EQ(log.find("DD"), std::string::npos) << log;
        } else {
            EXPECT_EQ(log.find('E'), std::string::npos) << log;
        }
    }
}

TEST_F(XCommPty, EachChunkSentReportsOutEmptyOnce) {
    Comm.Buffers().SetOutputSize(128);
    int outEmpty = 0, sends = 0;
    Comm.SetOnCommEvent([&](TCustomComm*, TDeviceEvents e) { outEmpty += e.Contains(DE::deOutEmpty); });
    Comm.SetOnSend([&](TCustomComm*) { ++sends; });
    ASSERT_TRUE(Comm.OpenDevice());
    const std::string data(1000, 'q');
    EXPECT_EQ(Comm.SendData(data.data(), 1000, 5000), 1000u);
    EXPECT_EQ(Pty.Receive(1000), data);
    EXPECT_GE(sends, 8); // at most 128 bytes per chunk
    EXPECT_EQ(outEmpty, sends);
}

TEST_F(XCommPty, CloseWhileABatchWaitsForTheMainThreadRunsItFirst) {
    std::atomic<bool> queued{false};
    platform::SetWakeMainThread([&] { queued = true; });
    int dataCalls = 0;
    Comm.SetOnData([&](TCustomComm* c, std::uint32_t) {
        ++dataCalls;
        EXPECT_TRUE(c->Opened()); // the device is closed only after the batch ran
    });
    ASSERT_TRUE(Comm.OpenDevice());
    ASSERT_TRUE(Pty.Send("x"));
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (!queued && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(queued);
    Comm.CloseDevice();
    EXPECT_EQ(dataCalls, 1);
    EXPECT_FALSE(Comm.Opened());
}

TEST_F(XCommPty, WhileTheMainThreadHandlesABatchTheLineIsStillRead) {
    // A slow handler: meanwhile the event thread keeps moving the line's bytes into the device's
    // queue, so the next batch is larger than the pseudo-terminal holds, and every byte arrives
    // once, in order.
    std::string all;
    for (int i = 0; i < 512; ++i)
        all += AllBytes();
    std::string text;
    std::vector<std::uint32_t> batches;
    std::thread writer;
    Comm.SetOnData([&](TCustomComm* c, std::uint32_t n) {
        batches.push_back(n);
        std::string buf(n, '\0');
        text.append(buf.data(), c->ReadData(buf.data(), n, 1000));
        if (batches.size() == 1) {
            writer = std::thread([&] { Pty.Send(all.substr(1)); });
            std::this_thread::sleep_for(300ms);
        }
    });
    ASSERT_TRUE(Comm.OpenDevice());
    ASSERT_TRUE(Pty.Send(all.substr(0, 1)));
    const bool complete = Until([&] { return text.size() >= all.size(); });
    if (writer.joinable()) writer.join();
    Comm.CloseDevice();
    ASSERT_TRUE(complete);
    EXPECT_TRUE(text == all);
    ASSERT_GE(batches.size(), 2u);
    EXPECT_GT(batches[1], 8192u);
}

TEST_F(XCommPty, BatchesHandedOverDuringAHandlerWaitForTheNextTurnOfTheMainThread) {
    // While the first batch is handled more data comes; its batch runs in a later turn of the main
    // thread, so input and repaints get their turn in between during a flood.
    std::vector<std::uint32_t> batches;
    std::string text;
    Comm.SetOnData([&](TCustomComm* c, std::uint32_t n) {
        batches.push_back(n);
        std::string buf(n, '\0');
        text.append(buf.data(), c->ReadData(buf.data(), n, 1000));
        if (batches.size() == 1) {
            ASSERT_TRUE(Pty.Send("second"));
            std::this_thread::sleep_for(200ms); // the event thread reads and hands it over
        }
    });
    ASSERT_TRUE(Comm.OpenDevice());
    ASSERT_TRUE(Pty.Send("first"));
    for (int i = 0; i < 50 && batches.empty(); ++i)
        platform::CheckSynchronize(100);
    EXPECT_EQ(batches.size(), 1u);
    const bool complete = Until([&] { return text.size() >= 11; });
    Comm.CloseDevice();
    ASSERT_TRUE(complete);
    EXPECT_EQ(text, "firstsecond");
    EXPECT_EQ(batches.size(), 2u);
}

TEST_F(XCommPty, WithoutSynchronizeOnDataRunsOnTheEventThread) {
    Comm.SetSynchronize(false);
    const auto mainId = std::this_thread::get_id();
    std::mutex lock;
    std::string text;
    bool otherThread = true;
    Comm.SetOnData([&](TCustomComm* c, std::uint32_t n) {
        std::string buf(n, '\0');
        const std::uint32_t got = c->ReadData(buf.data(), n, 1000);
        {
            std::lock_guard guard(lock);
            otherThread &= std::this_thread::get_id() != mainId;
            text.append(buf.data(), got);
        }
        platform::NotifyMainThreadWaiters(); // Until re-tests its condition
    });
    ASSERT_TRUE(Comm.OpenDevice());
    const std::string all = AllBytes();
    ASSERT_TRUE(Pty.Send(all));
    ASSERT_TRUE(Until([&] {
        std::lock_guard guard(lock);
        return text.size() >= all.size();
    }));
    Comm.CloseDevice();
    EXPECT_TRUE(otherThread);
    EXPECT_EQ(text, all);
}

TEST_F(XCommPty, ExceptionFromOnDataEndsTheLoopUntilReopened) {
    // The counters outlive this body: the second failure is reported on the event thread, which
    // may run on until the fixture closes the port.
    auto counts = std::make_shared<std::array<std::atomic<int>, 2>>();
    std::atomic<int>& calls = (*counts)[0];
    std::atomic<int>& failures = (*counts)[1];
    Comm.SetOnData([counts](TCustomComm*, std::uint32_t) {
        ++(*counts)[0];
        throw std::runtime_error("handler failed");
    });
    Comm.SetOnEventLoopFailed([counts](TCustomComm*, const std::string& reason) {
        EXPECT_EQ(reason, "handler failed");
        ++(*counts)[1];
    });
    ASSERT_TRUE(Comm.OpenDevice());
    ASSERT_TRUE(Pty.Send("a"));
    ASSERT_TRUE(Until([&] { return Comm.EventLoopFailed(); }));
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(Pty.Send("b"));
    char buf[2];
    EXPECT_EQ(Comm.ReadData(buf, 2, 300), 2u); // transfers still work
    EXPECT_FALSE(platform::WaitServing([&] { return calls > 1; }, 300ms));
    Comm.CloseDevice();
    EXPECT_EQ(failures, 1);
    ASSERT_TRUE(Comm.OpenDevice());
    EXPECT_FALSE(Comm.EventLoopFailed());
    ASSERT_TRUE(Pty.Send("c"));
    ASSERT_TRUE(Until([&] { return calls == 2; }));
    Comm.CloseDevice();
    EXPECT_EQ(failures, 2);
}

TEST_F(XCommPty, HangUpOfTheOtherSideEndsTheLoopAndFailsTransfers) {
    std::atomic<int> failures{0};
    Comm.SetOnEventLoopFailed([&](TCustomComm*, const std::string&) { ++failures; });
    ASSERT_TRUE(Comm.OpenDevice());
    Pty.CloseMaster();
    ASSERT_TRUE(Until([&] { return Comm.EventLoopFailed(); }));
    char buf[4];
    try {
        Comm.ReadData(buf, 4, 100);
        ADD_FAILURE() << "read after hang-up succeeded";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode(), 10);
        EXPECT_EQ(std::string(e.what()).rfind("Unable to read from port. (Win32 error ", 0), 0u) << e.what();
    }
    try {
        Comm.SendData("x", 1, 100);
        ADD_FAILURE() << "send after hang-up succeeded";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode(), 11);
    }
    Comm.CloseDevice();
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(Comm.Opened());
}

TEST_F(XCommPty, ClosingWithHeldBackOutputReturnsPromptly) {
    const struct {
        const char* Name;
        bool Xoff; // else the far end just stops reading
    } kCases[] = {{"XOFF received", true}, {"far end not reading", false}};
    const std::string block(4096, 'x');
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Name);
        Comm.SetFlowControl(c.Xoff ? TFlowControl::fcSoftware : TFlowControl::fcNone);
        ASSERT_TRUE(Comm.OpenDevice());
        if (c.Xoff) {
            ASSERT_TRUE(Pty.Send("\x13"));
            // The line discipline takes the XOFF in a moment: send until output stops.
            const auto deadline = std::chrono::steady_clock::now() + kLimit;
            while (Comm.SendData("y", 1, 50) != 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(5ms);
            ASSERT_EQ(Comm.SendData("y", 1, 50), 0u);
        } else {
            while (Comm.SendData(block.data(), std::uint32_t(block.size()), 50) == block.size()) {
            }
        }
        const auto start = std::chrono::steady_clock::now();
        Comm.CloseDevice();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)); // not a 30 s freeze
        tcflush(Pty.Master, TCIOFLUSH);
        ASSERT_TRUE(Comm.OpenDevice()); // the line is usable again
        Comm.CloseDevice();
    }
}

TEST(XCommPtyFormats, EveryDialogFormatOpensAndReportsWhatThePseudoTerminalHolds) {
    for (int bits = 5; bits <= 8; ++bits)
        for (TParity parity : {TParity::paNone, TParity::paOdd, TParity::paEven})
            for (TStopBits stop : {TStopBits::sb1, TStopBits::sb2}) {
                SCOPED_TRACE(std::to_string(bits) + std::string(ParityNames[static_cast<int>(parity)]) +
                             std::string(StopBitsNames[static_cast<int>(stop)]));
                test::TPty pty;
                TXComm comm;
                comm.SetDeviceName(pty.Name);
                comm.DataControl().SetDataBits(TDataBits(bits - 4));
                comm.DataControl().SetParity(parity);
                comm.DataControl().SetStopBits(stop);
                try {
                    ASSERT_TRUE(comm.OpenDevice());
                } catch (const EDeviceError& e) {
                    FAIL() << e.what();
                }
                EXPECT_EQ(comm.DataControl().DataBits(), TDataBits::db8);
                EXPECT_EQ(comm.DataControl().Parity(), TParity::paNone);
                EXPECT_EQ(comm.DataControl().StopBits(), stop);
                EXPECT_EQ((pty.Termios().c_cflag & CSTOPB) != 0, stop == TStopBits::sb2);
                EXPECT_TRUE(comm.SendString("ok"));
                EXPECT_EQ(pty.Receive(2), "ok");
                comm.CloseDevice();
            }
}

TEST_F(XCommPty, FormatChangesWhileOpenAreAccepted) {
    ASSERT_TRUE(Comm.OpenDevice());
    Comm.DataControl().SetParity(TParity::paEven); // only the parity changes: the pty keeps none
    Comm.DataControl().SetDataBits(TDataBits::db7);
    Comm.DataControl().SetParity(TParity::paNone);
    Comm.DataControl().SetStopBits(TStopBits::sb2);
    EXPECT_EQ(Comm.DataControl().StopBits(), TStopBits::sb2);
    // 1.5 stop bits exist only beside 5 data bits.
    try {
        Comm.DataControl().SetStopBits(TStopBits::sb1p5);
        ADD_FAILURE() << "1.5 stop bits at 7 data bits were accepted";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode(), kErrUpdateDCB);
        EXPECT_EQ(std::string(e.what()), "Unable to update device control block.");
    }
    EXPECT_EQ(Comm.DataControl().StopBits(), TStopBits::sb2); // the device kept the old format
    Comm.DataControl().SetDataBits(TDataBits::db5);
    Comm.DataControl().SetStopBits(TStopBits::sb2);
    Comm.DataControl().SetStopBits(TStopBits::sb1p5);

    EXPECT_TRUE(Comm.SendString("still"));
    EXPECT_EQ(Pty.Receive(5), "still");
}

} // namespace
} // namespace qorvel
