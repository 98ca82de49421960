// The fake device: what the driver's tests rely on it to record, script and inject.
#include "platform/comm_fake.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>

namespace qorvel::platform {
namespace {

using namespace std::chrono_literals;

TEST(FakeComm, OpensOnlyKnownPortsOnce) {
    TFakeCommApi api;
    auto port = api.AddPort("COM2");
    EXPECT_EQ(api.CreateFile("COM9"), nullptr);
    EXPECT_EQ(GetLastError(), ENOENT);
    auto device = api.CreateFile("COM2");
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(api.CreateFile("COM2"), nullptr);
    EXPECT_EQ(GetLastError(), EBUSY);
    device.reset();
    EXPECT_FALSE(port->IsOpen());
    EXPECT_NE(api.CreateFile("COM2"), nullptr);
    EXPECT_EQ(port->OpenCount(), 2);
}

TEST(FakeComm, RecordsWhatItReceives) {
    TFakeCommApi api;
    auto port = api.AddPort("COM1");
    auto device = api.CreateFile("COM1");
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    dcb.BaudRate = 57600;
    dcb.ByteSize = 7;
    ASSERT_TRUE(device->SetCommMask(0x1FFB));
    ASSERT_TRUE(device->SetCommState(dcb));
    ASSERT_TRUE(device->PurgeComm(0x0F));
    ASSERT_TRUE(device->SetupComm(2048, 1024));
    ASSERT_TRUE(device->SetCommTimeouts({1, 0, 1, 0, 1}));
    std::uint32_t n = 0;
    ASSERT_TRUE(device->WriteFile("abc", 3, n, 200));

    EXPECT_EQ(port->Calls(),
              (std::vector<std::string>{"CreateFile", "SetCommMask", "SetCommState", "PurgeComm", "SetupComm",
                                        "SetCommTimeouts", "WriteFile"}));
    ASSERT_EQ(port->States().size(), 1u);
    EXPECT_EQ(port->States()[0], dcb);
    EXPECT_EQ(port->Masks(), std::vector<std::uint32_t>{0x1FFB});
    EXPECT_EQ(port->Purges(), std::vector<std::uint32_t>{0x0F});
    EXPECT_EQ(port->QueueSizes(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{2048, 1024}}));
    EXPECT_EQ(port->TimeoutRecords(), (std::vector<COMMTIMEOUTS>{{1, 0, 1, 0, 1}}));
    EXPECT_EQ(port->WriteLimits(), std::vector<std::uint32_t>{200});
    EXPECT_EQ(port->Output(), "abc");
    COMMPROP prop{};
    ASSERT_TRUE(device->GetCommProperties(prop));
    EXPECT_EQ(prop.dwCurrentRxQueue, 2048u);
    port->SetReportedQueues(0, 0);
    ASSERT_TRUE(device->GetCommProperties(prop));
    EXPECT_EQ(prop.dwCurrentRxQueue, 0u);
}

TEST(FakeComm, InjectedFailuresCarryTheirErrorAndCount) {
    TFakeCommApi api;
    auto port = api.AddPort("COM1");
    port->Fail(TFakeOp::foCreateFile, ENOENT, 1);
    EXPECT_EQ(api.CreateFile("COM1"), nullptr);
    EXPECT_EQ(GetLastError(), ENOENT);
    auto device = api.CreateFile("COM1");
    ASSERT_NE(device, nullptr);

    port->Fail(TFakeOp::foSetCommState, EINVAL, 2);
    DCB dcb{};
    EXPECT_FALSE(device->SetCommState(dcb));
    EXPECT_FALSE(device->SetCommState(dcb));
    EXPECT_TRUE(device->SetCommState(dcb));

    port->Fail(TFakeOp::foWriteFile, EACCES);
    std::uint32_t n = 7;
    EXPECT_FALSE(device->WriteFile("x", 1, n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(GetLastError(), EACCES);
    EXPECT_FALSE(device->WriteFile("x", 1, n));
    port->ClearFailures();
    EXPECT_TRUE(device->WriteFile("x", 1, n));
    EXPECT_EQ(port->CallCount(TFakeOp::foWriteFile), 3);
}

TEST(FakeComm, ScriptedInputAndEventsReachTheWaiter) {
    TFakeCommApi api;
    auto port = api.AddPort("COM1");
    auto device = api.CreateFile("COM1");
    DCB dcb{};
    dcb.EvtChar = '\n';
    ASSERT_TRUE(device->SetCommState(dcb));
    ASSERT_TRUE(device->SetCommMask(0x1FFB));
    TStopEvent stop;
    std::uint32_t events = 0;
    auto wait = std::async(std::launch::async, [&] { return device->WaitCommEvent(events, &stop); });
    ASSERT_TRUE(port->WaitUntilWaiting(10000));
    port->PushInput("ok\n");
    ASSERT_EQ(wait.get(), TWaitResult::wrReady);
    EXPECT_EQ(events, EV_RXCHAR | EV_RXFLAG);

    port->PushEvents(EV_CTS | EV_TXEMPTY); // EV_TXEMPTY is not in the mask
    ASSERT_EQ(device->WaitCommEvent(events, &stop), TWaitResult::wrReady);
    EXPECT_EQ(events, EV_CTS);

    COMSTAT stat{};
    ASSERT_TRUE(device->ClearCommError(nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 3u);
    char buffer[8];
    std::uint32_t n = 0;
    ASSERT_TRUE(device->ReadFile(buffer, 2, n));
    EXPECT_EQ(std::string(buffer, n), "ok");
    EXPECT_EQ(port->InputWaiting(), 1u);

    stop.SetEvent();
    EXPECT_EQ(device->WaitCommEvent(events, &stop), TWaitResult::wrStopped);
}

TEST(FakeComm, HangUpAndWaitFailureEndWaits) {
    TFakeCommApi api;
    auto port = api.AddPort("COM1");
    auto device = api.CreateFile("COM1");
    ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
    std::uint32_t events = 0;
    auto failed = std::async(std::launch::async, [&] { return device->WaitCommEvent(events, nullptr); });
    ASSERT_TRUE(port->WaitUntilWaiting(10000));
    port->Fail(TFakeOp::foWaitCommEvent, EIO, 1);
    EXPECT_EQ(failed.get(), TWaitResult::wrFailed);

    port->SetOutQueue(100);
    ASSERT_TRUE(device->SetupComm(128, 100));
    EXPECT_EQ(device->WaitForOutputRoom(10), TWaitResult::wrTimeout);
    EXPECT_EQ(device->WaitForInput(10), TWaitResult::wrTimeout);
    port->HangUp();
    EXPECT_EQ(device->WaitCommEvent(events, nullptr), TWaitResult::wrFailed);
    EXPECT_EQ(device->WaitForInput(10000), TWaitResult::wrFailed);
    EXPECT_EQ(device->WaitForOutputRoom(10000), TWaitResult::wrFailed);
    char c;
    std::uint32_t n = 0;
    EXPECT_FALSE(device->ReadFile(&c, 1, n));
    EXPECT_EQ(GetLastError(), EIO);
}

} // namespace
} // namespace qorvel::platform
