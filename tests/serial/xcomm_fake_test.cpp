// The serial component against the in-memory device: control blocks, setter and getter rules,
// error codes and texts, chunked transfers and batch dispatch.
#include "platform/comm_fake.h"
#include "platform/mainthread.h"
#include "serial/xcomm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qorvel {
namespace {

using namespace platform;
using DE = TDeviceEvent;

class XCommFake : public ::testing::Test {
protected:
    void SetUp() override {
        Port = Api.AddPort("COM2");
        Comm = std::make_unique<TXComm>(Api);
    }

    void Open() { ASSERT_TRUE(Comm->OpenDevice()); }

    // The calls made by the main thread, without the event thread's waits and mask changes.
    std::vector<std::string> SettingCalls() const {
        std::vector<std::string> calls = Port->Calls();
        std::erase_if(calls, [](const std::string& c) {
            return c == "WaitCommEvent" || c == "SetCommMask" || c == "GetCommMask";
        });
        return calls;
    }

    // Runs `fn`, which must raise EDeviceError, and returns the error.
    template <typename Fn> static EDeviceError Raised(Fn fn) {
        try {
            fn();
        } catch (const EDeviceError& e) {
            return e;
        }
        ADD_FAILURE() << "no EDeviceError raised";
        return EDeviceError("", 0);
    }

    TFakeCommApi Api;
    std::shared_ptr<TFakePort> Port;
    std::unique_ptr<TXComm> Comm;
};

// ---- Errors ------------------------------------------------------------------------------------

TEST(DeviceError, SystemTextIsStrippedOfTrailingStopsAndBlanks) {
    EXPECT_EQ(StripSystemText("Access is denied.\r\n"), "Access is denied");
    EXPECT_EQ(StripSystemText("Done. . \t"), "Done");
    EXPECT_EQ(StripSystemText("v1.2 ok"), "v1.2 ok");
    EXPECT_EQ(StripSystemText(std::string(300, 'x')).size(), 256u);
    EXPECT_EQ(FormatLastDeviceError("Unable to write to port.", EIO),
              "Unable to write to port. (Win32 error 5: Input/output error)");
    EXPECT_EQ(FormatCannotOpen("COM9"), "Cannot open device COM9");
}

TEST_F(XCommFake, EveryFailureRaisesItsCodeAndText) {
    struct Row {
        const char* Name;
        std::function<void(TXComm&, TFakePort&)> Act;
        int Code;
        std::string Message;
    };
    char buf[4];
    const Row rows[] = {
        {"close closed", [](TXComm& c, TFakePort&) { c.CloseDevice(); }, 1, "Device not opened."},
        {"send closed", [&](TXComm& c, TFakePort&) { c.SendData(buf, 1); }, 1, "Device not opened."},
        {"read closed", [&](TXComm& c, TFakePort&) { c.ReadData(buf, 1); }, 1, "Device not opened."},
        {"in queue closed", [](TXComm& c, TFakePort&) { c.InQueueCount(); }, 1, "Device not opened."},
        {"out queue closed", [](TXComm& c, TFakePort&) { c.OutQueueCount(); }, 1, "Device not opened."},
        {"empty string closed", [](TXComm& c, TFakePort&) { c.SendString(""); }, 1, "Device not opened."},
        {"open twice",
         [](TXComm& c, TFakePort&) {
             c.OpenDevice();
             c.OpenDevice();
         },
         2, "Device is allready opened."},
        {"dcb refused",
         [](TXComm& c, TFakePort& p) {
             p.Fail(TFakeOp::foSetCommState, EINVAL);
             c.OpenDevice();
         },
         3, "Unable to update device control block."},
        {"queues refused",
         [](TXComm& c, TFakePort& p) {
             p.Fail(TFakeOp::foSetupComm, EINVAL);
             c.OpenDevice();
         },
         6, "Unable to update IO buffers."},
        {"timeouts refused",
         [](TXComm& c, TFakePort& p) {
             p.Fail(TFakeOp::foSetCommTimeouts, EINVAL);
             c.OpenDevice();
         },
         7, "Unable to update Timeouts."},
        {"read fails",
         [&](TXComm& c, TFakePort& p) {
             c.OpenDevice();
             p.Fail(TFakeOp::foReadFile, EIO);
             p.PushInput("abc");
             c.ReadData(buf, 3);
         },
         10, "Unable to read from port. (Win32 error 5: Input/output error)"},
        {"write fails",
         [](TXComm& c, TFakePort& p) {
             c.OpenDevice();
             p.Fail(TFakeOp::foWriteFile, EACCES);
             c.SendString("x");
         },
         11, "Unable to write to port. (Win32 error 13: Permission denied)"},
        {"unknown device",
         [](TXComm& c, TFakePort&) {
             c.SetDeviceName("COM9");
             c.OpenDevice();
         },
         65535, "Cannot open device COM9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        TFakeCommApi api;
        auto port = api.AddPort("COM2");
        TXComm comm(api);
        const EDeviceError e = Raised([&] { row.Act(comm, *port); });
        EXPECT_EQ(e.ErrorCode(), row.Code);
        EXPECT_EQ(std::string(e.what()), row.Message);
    }
}

TEST_F(XCommFake, FailedSettingsPushLeavesTheComponentClosedAndReopenable) {
    for (TFakeOp op : {TFakeOp::foSetCommState, TFakeOp::foSetupComm, TFakeOp::foSetCommTimeouts}) {
        SCOPED_TRACE(FakeOpName(op));
        Port->Fail(op, EINVAL, 1);
        EXPECT_THROW(Comm->OpenDevice(), EDeviceError);
        EXPECT_FALSE(Comm->Opened());
        EXPECT_FALSE(Port->IsOpen());
        Open();
        Comm->CloseDevice();
    }
}

TEST_F(XCommFake, MissingDeviceFailsTheSameWayTwice) {
    Comm->SetDeviceName("COM9");
    for (int attempt = 0; attempt < 2; ++attempt) {
        const EDeviceError e = Raised([&] { Comm->OpenDevice(); });
        EXPECT_EQ(e.ErrorCode(), 65535);
        EXPECT_FALSE(Comm->Opened());
    }
}

// ---- Opening and the control block -------------------------------------------------------------

TEST_F(XCommFake, OpenPushesMaskThenControlBlockQueuesAndTimeouts) {
    Open();
    EXPECT_EQ(Port->Masks().front(), 0x1FFBu);
    const std::vector<std::string> expected = {"CreateFile", "SetCommState", "PurgeComm", "SetupComm",
                                               "SetCommTimeouts"};
    EXPECT_EQ(SettingCalls(), expected);
    EXPECT_EQ(Port->Purges(), std::vector<std::uint32_t>{0x0F});
    EXPECT_EQ(Port->QueueSizes().back(), std::make_pair(2048u, 2048u));
    EXPECT_EQ(Port->TimeoutRecords().back(), (COMMTIMEOUTS{1, 0, 1, 0, 1}));

    const DCB dcb = Port->State();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.XonLim, 512);
    EXPECT_EQ(dcb.XoffLim, 512);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.EvtChar, 0x0A);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_DISABLE);

    Comm->CloseDevice();
    EXPECT_FALSE(Port->IsOpen());
    EXPECT_EQ(Port->Masks().back(), 0u);
    Open(); // settings survive a close and a reopen
    EXPECT_EQ(Port->State(), dcb);
}

TEST_F(XCommFake, FlowControlRowsGiveTheirControlBlock) {
    struct Row {
        TFlowControl Flow;
        bool LeaveDtrOpen;
        std::uint32_t Dtr, Rts;
        bool CtsOut, DsrOut, OutX, InX;
    };
    const Row rows[] = {
        {TFlowControl::fcNone, false, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, false, false, false, false},
        {TFlowControl::fcRtsCts, false, DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, true, false, false, false},
        {TFlowControl::fcDtrDsr, false, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, false, true, false, false},
        {TFlowControl::fcSoftware, false, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, false, false, true, true},
        {TFlowControl::fcNone, true, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, false, false, false, false},
        {TFlowControl::fcRtsCts, true, DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, true, false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(FlowControlNames[static_cast<int>(row.Flow)]);
        TXComm comm(Api);
        if (row.LeaveDtrOpen) comm.SetOptions({TCommOption::coLeaveDTROpen});
        comm.SetFlowControl(TFlowControl::fcCustom); // so that fcNone is a change too
        comm.SetFlowControl(row.Flow);
        ASSERT_TRUE(comm.OpenDevice());
        const DCB dcb = Port->State();
        EXPECT_EQ(dcb.fDtrControl, row.Dtr);
        EXPECT_EQ(dcb.fRtsControl, row.Rts);
        EXPECT_EQ(dcb.fOutxCtsFlow, row.CtsOut);
        EXPECT_EQ(dcb.fOutxDsrFlow, row.DsrOut);
        EXPECT_EQ(dcb.fOutX, row.OutX);
        EXPECT_EQ(dcb.fInX, row.InX);
        if (row.Flow == TFlowControl::fcNone) {
            EXPECT_TRUE(comm.RTSSettings().Empty());
        }
        comm.CloseDevice();
    }
}

TEST_F(XCommFake, OptionsAndCharactersReachTheControlBlock) {
    Comm->SetOptions({TCommOption::coParityCheck, TCommOption::coDSRSensitivity, TCommOption::coErrorChar,
                      TCommOption::coDiscardNull, TCommOption::coAbortOnError,
                      TCommOption::coTXContinueOnXOff});
    Comm->DataControl().SetDataBits(TDataBits::db5);
    Comm->DataControl().SetParity(TParity::paMark);
    Comm->DataControl().SetStopBits(TStopBits::sb2);
    Comm->EventChars().SetErrorChar('?');
    Comm->EventChars().SetEofChar(0x1A);
    Comm->Buffers().SetInputSize(1000);
    Open();
    const DCB dcb = Port->State();
    EXPECT_TRUE(dcb.fParity && dcb.fDsrSensitivity && dcb.fErrorChar && dcb.fNull && dcb.fAbortOnError &&
                dcb.fTXContinueOnXoff);
    EXPECT_EQ(dcb.ByteSize, 5);
    EXPECT_EQ(dcb.Parity, MARKPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EofChar, 0x1A);
    EXPECT_EQ(dcb.XonLim, 250);
}

TEST_F(XCommFake, DeviceFlagsDecodeIntoTheFourSets) {
    Open();
    DCB dcb = Port->State();
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fOutxDsrFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutX = 1;
    dcb.fParity = 1;
    dcb.fNull = 1;
    Port->SetDeviceState(dcb);
    EXPECT_EQ(Comm->DTRSettings(), (TDTRSettings{TDTRSetting::fsDTRHandshake, TDTRSetting::fsDSROut}));
    EXPECT_EQ(Comm->RTSSettings(),
              (TRTSSettings{TRTSSetting::fsRTSHandshake, TRTSSetting::fsRTSEnabled, TRTSSetting::fsCTSOut}));
    EXPECT_EQ(Comm->XOnXOffSettings(), TXOnXOffSettings{TXOnXOffSetting::fsOutX});
    EXPECT_EQ(Comm->Options(), (TCommOptions{TCommOption::coParityCheck, TCommOption::coDiscardNull}));
    // The stored sets now hold what was read back.
    Comm->CloseDevice();
    EXPECT_EQ(Comm->XOnXOffSettings(), TXOnXOffSettings{TXOnXOffSetting::fsOutX});
}

// ---- Setter and getter rules -------------------------------------------------------------------

TEST_F(XCommFake, BaudRateAndBaudValueRules) {
    Comm->SetBaudValue(19200); // ignored unless brCustom
    EXPECT_EQ(Comm->BaudValue(), 9600u);
    EXPECT_EQ(Comm->BaudRate(), TBaudRate::br9600);
    Comm->SetBaudRate(TBaudRate::br57600);
    EXPECT_EQ(Comm->BaudValue(), 57600u);
    Comm->SetBaudRate(TBaudRate::brCustom);
    EXPECT_EQ(Comm->BaudValue(), 57600u);
    Comm->SetBaudValue(19200);
    EXPECT_EQ(Comm->BaudValue(), 19200u);

    Open();
    EXPECT_EQ(Port->State().BaudRate, 19200u);
    EXPECT_EQ(Comm->BaudRate(), TBaudRate::brCustom); // no lookup once custom
    Comm->SetBaudValue(250000);
    EXPECT_EQ(Port->State().BaudRate, 250000u);
    Comm->SetBaudRate(TBaudRate::br115200);
    EXPECT_EQ(Port->State().BaudRate, 115200u);
    EXPECT_EQ(Comm->BaudRate(), TBaudRate::br115200); // found in the table again

    DCB dcb = Port->State();
    dcb.BaudRate = 38400; // the device changed it
    Port->SetDeviceState(dcb);
    EXPECT_EQ(Comm->BaudRate(), TBaudRate::br38400);
    dcb.BaudRate = 31250;
    Port->SetDeviceState(dcb);
    EXPECT_EQ(Comm->BaudRate(), TBaudRate::brCustom);
    EXPECT_EQ(Comm->BaudValue(), 31250u);
}

TEST_F(XCommFake, BufferSizesAreClampedByTheVersionQuery) {
    struct Row {
        std::uint16_t Written;
        TVersionQuery Version;
        std::uint16_t Stored;
    };
    const TVersionQuery win9x = [] { return TOSVersionInfo{4, 10, VER_PLATFORM_WIN32_WINDOWS}; };
    const TVersionQuery nt351 = [] { return TOSVersionInfo{3, 51, VER_PLATFORM_WIN32_NT}; };
    const Row rows[] = {{100, nullptr, 128},   {0, nullptr, 128},    {10000, nullptr, 4096},
                        {4096, nullptr, 4096}, {10000, win9x, 8192}, {10000, nt351, 8192},
                        {65535, win9x, 8192},  {200, win9x, 200}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Written);
        const TVersionQuery previous = SetVersionQuery(row.Version);
        TCommBuffers buffers;
        buffers.SetInputSize(row.Written);
        buffers.SetOutputSize(row.Written);
        EXPECT_EQ(buffers.InputSize(), row.Stored);
        EXPECT_EQ(buffers.OutputSize(), row.Stored);
        SetVersionQuery(previous);
    }
}

TEST_F(XCommFake, DtrSettingsKeepTheNewerOfEnabledAndHandshake) {
    using S = TDTRSetting;
    struct Row {
        TDTRSettings Stored, Written, Expected;
        bool LeaveDtrOpen;
    };
    const Row rows[] = {
        {{S::fsDTRHandshake}, {S::fsDTREnabled, S::fsDTRHandshake}, {S::fsDTREnabled}, false},
        {{}, {S::fsDTREnabled, S::fsDTRHandshake}, {S::fsDTRHandshake}, false},
        {{S::fsDTREnabled}, {S::fsDTREnabled, S::fsDTRHandshake}, {S::fsDTRHandshake}, false},
        {{}, {S::fsDTRHandshake, S::fsDSROut}, {S::fsDTREnabled, S::fsDSROut}, true},
    };
    for (const Row& row : rows) {
        TXComm comm(Api);
        if (row.LeaveDtrOpen) comm.SetOptions({TCommOption::coLeaveDTROpen});
        comm.SetFlowControl(TFlowControl::fcCustom);
        comm.SetDTRSettings(row.Stored);
        comm.SetDTRSettings(row.Written);
        EXPECT_EQ(comm.DTRSettings(), row.Expected) << int(row.Written.Mask());
    }
}

TEST_F(XCommFake, LineSettingsChangeOnlyWithCustomFlowControl) {
    Comm->SetRTSSettings({TRTSSetting::fsRTSEnabled});
    Comm->SetXOnXOffSettings({TXOnXOffSetting::fsInX});
    Comm->SetDTRSettings({TDTRSetting::fsDTREnabled});
    EXPECT_TRUE(Comm->RTSSettings().Empty());
    EXPECT_TRUE(Comm->XOnXOffSettings().Empty());
    EXPECT_TRUE(Comm->DTRSettings().Empty());

    Comm->SetFlowControl(TFlowControl::fcSoftware);
    Comm->SetFlowControl(TFlowControl::fcCustom); // the sets keep their contents
    EXPECT_EQ(Comm->XOnXOffSettings(), (TXOnXOffSettings{TXOnXOffSetting::fsInX, TXOnXOffSetting::fsOutX}));
    Open();
    Comm->SetRTSSettings({TRTSSetting::fsRTSEnabled, TRTSSetting::fsRTSHandshake});
    EXPECT_EQ(Port->State().fRtsControl, RTS_CONTROL_TOGGLE);
    // Closed with custom flow control, an Options write keeps the custom sets.
    Comm->CloseDevice();
    Comm->SetOptions({TCommOption::coLeaveDTROpen});
    EXPECT_EQ(Comm->RTSSettings(), (TRTSSettings{TRTSSetting::fsRTSEnabled, TRTSSetting::fsRTSHandshake}));
    Comm->SetFlowControl(TFlowControl::fcNone);
    EXPECT_TRUE(Comm->RTSSettings().Empty());
    EXPECT_EQ(Comm->DTRSettings(), TDTRSettings{TDTRSetting::fsDTREnabled});
}

TEST_F(XCommFake, LeaveDtrOpenCannotChangeWhileOpen) {
    Open();
    Comm->SetOptions({TCommOption::coLeaveDTROpen});
    EXPECT_FALSE(Comm->Options().Contains(TCommOption::coLeaveDTROpen));
    Comm->CloseDevice();
    Comm->SetOptions({TCommOption::coLeaveDTROpen});
    Open();
    Comm->SetOptions({});
    EXPECT_TRUE(Comm->Options().Contains(TCommOption::coLeaveDTROpen));
}

TEST_F(XCommFake, DeviceNameChangesOnlyWhileClosed) {
    Port = Api.AddPort("ttyUSB0");
    Comm->SetDeviceName("ttyUSB0");
    Open();
    Comm->SetDeviceName("COM2");
    EXPECT_EQ(Comm->DeviceName(), "ttyUSB0");
}

TEST_F(XCommFake, WritingTheStoredValueNeverPushesOrPurges) {
    Open();
    const int states = Port->CallCount(TFakeOp::foSetCommState);
    const int purges = Port->CallCount(TFakeOp::foPurgeComm);
    const int timeouts = Port->CallCount(TFakeOp::foSetCommTimeouts);
    Comm->SetBaudRate(TBaudRate::br9600);
    Comm->SetFlowControl(TFlowControl::fcNone);
    Comm->SetOptions({});
    Comm->DataControl().SetDataBits(TDataBits::db8);
    Comm->EventChars().SetEventChar('\n');
    Comm->Buffers().SetInputSize(2048);
    Comm->Buffers().SetOutputSize(5000); // clamps to 4096, a change
    Comm->Buffers().SetOutputSize(4096);
    Comm->Timeouts().SetReadInterval(1);
    EXPECT_EQ(Port->CallCount(TFakeOp::foSetCommState), states);
    EXPECT_EQ(Port->CallCount(TFakeOp::foPurgeComm), purges + 1);
    EXPECT_EQ(Port->CallCount(TFakeOp::foSetCommTimeouts), timeouts);
}

TEST_F(XCommFake, OpenSettersPushAndGettersReadTheDevice) {
    Open();
    Comm->DataControl().SetDataBits(TDataBits::db7);
    EXPECT_EQ(Port->State().ByteSize, 7);
    EXPECT_EQ(Comm->DataControl().DataBits(), TDataBits::db7);
    Comm->EventChars().SetEventChar('>');
    EXPECT_EQ(Port->State().EvtChar, '>');
    Comm->Timeouts().SetWriteConstant(50);
    EXPECT_EQ(Port->TimeoutRecords().back(), (COMMTIMEOUTS{1, 0, 1, 0, 50}));
    Comm->Buffers().SetInputSize(1024);
    EXPECT_EQ(Port->QueueSizes().back(), std::make_pair(1024u, 2048u));
    EXPECT_EQ(Port->Purges().back(), 0x0Fu);

    DCB dcb = Port->State();
    dcb.ByteSize = 6;
    dcb.Parity = EVENPARITY;
    dcb.XonChar = 'q';
    Port->SetDeviceState(dcb);
    EXPECT_EQ(Comm->DataControl().DataBits(), TDataBits::db6);
    EXPECT_EQ(Comm->DataControl().Parity(), TParity::paEven);
    EXPECT_EQ(Comm->EventChars().XonChar(), 'q');
    Port->SetReportedQueues(0, 512); // 0 means "use the stored size"
    EXPECT_EQ(Comm->Buffers().InputSize(), 1024);
    EXPECT_EQ(Comm->Buffers().OutputSize(), 512);
    // These getters do not write back what they read.
    Comm->CloseDevice();
    EXPECT_EQ(Comm->DataControl().DataBits(), TDataBits::db7);
    EXPECT_EQ(Comm->Buffers().OutputSize(), 2048);
}

TEST_F(XCommFake, WholeObjectAssignmentCopiesWithoutClampingAndPushes) {
    Open();
    TCommBuffers buffers;
    buffers.SetInputTimeout(42);
    Comm->SetBuffers(buffers);
    EXPECT_EQ(Comm->Buffers().InputTimeout(), 42);
    EXPECT_EQ(Port->QueueSizes().back(), std::make_pair(2048u, 2048u));

    TCommDataControl data;
    data.SetDataBits(TDataBits::db7);
    const int states = Port->CallCount(TFakeOp::foSetCommState);
    Comm->SetDataControl(data);
    EXPECT_EQ(Port->State().ByteSize, 7);
    Comm->SetDataControl(Comm->DataControl()); // itself: nothing
    EXPECT_EQ(Port->CallCount(TFakeOp::foSetCommState), states + 1);

    TCommTimeoutsEx timeouts;
    timeouts.SetReadConstant(99);
    Comm->SetTimeouts(timeouts);
    EXPECT_EQ(Port->TimeoutRecords().back(), (COMMTIMEOUTS{1, 0, 99, 0, 1}));
}

// ---- Transfers ---------------------------------------------------------------------------------

TEST_F(XCommFake, SendDataChunksByFreeRoomAndReportsEachChunk) {
    Comm->Buffers().SetOutputSize(128);
    std::vector<TDeviceEvents> events;
    int sends = 0;
    Comm->SetOnCommEvent([&](TCustomComm*, TDeviceEvents e) { events.push_back(e); });
    Comm->SetOnSend([&](TCustomComm*) { ++sends; });
    Open();
    Port->SetOutQueue(100); // room 28
    const std::string data(60, 'z');
    EXPECT_EQ(Comm->SendData(data.data(), 60), 60u);
    EXPECT_EQ(Port->Output(), data);
    EXPECT_EQ(sends, 3); // 28 + 28 + 4
    EXPECT_EQ(events, std::vector<TDeviceEvents>(3, TDeviceEvents{DE::deOutEmpty}));

    // A queue fuller than OutputSize wraps the room to a large number: one chunk.
    Port->SetOutQueue(500);
    EXPECT_EQ(Comm->SendData(data.data(), 60), 60u);
    EXPECT_EQ(sends, 4);

    // Without deOutEmpty in MonitorEvents, OnCommEvent stays quiet.
    Comm->SetMonitorEvents({DE::deChar});
    EXPECT_TRUE(Comm->SendString("ab"));
    EXPECT_EQ(events.size(), 4u);
    EXPECT_TRUE(Comm->SendString(""));
    EXPECT_EQ(sends, 5);
    EXPECT_TRUE(Comm->SendByte(0xFF));
    EXPECT_EQ(Port->Output().back(), '\xFF');
}

TEST_F(XCommFake, SendDataGivesUpAfterItsLimitWithoutProgress) {
    Open();
    Port->SetWriteAccept(0);
    Comm->Timeouts().SetWriteConstant(0); // no per-request limit: the call's own bounds the chunk
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Comm->SendData("abc", 3, 100), 0u);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, std::chrono::seconds(10));
    for (std::uint32_t limit : Port->WriteLimits())
        EXPECT_LE(limit, 100u);
    EXPECT_FALSE(Comm->SendString("x")); // OutputTimeout 500 by default
}

TEST_F(XCommFake, ReadDataReturnsWhatWaitedAfterInputTimeout) {
    Comm->Buffers().SetInputTimeout(150);
    int reads = 0;
    Comm->SetOnRead([&](TCustomComm*) { ++reads; });
    Open();
    char buf[16] = {};
    EXPECT_EQ(Comm->ReadData(buf, 0), 0u);
    Port->PushInput("1234");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Comm->ReadData(buf, 10), 4u);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(std::string(buf, 4), "1234");
    EXPECT_GE(took, std::chrono::milliseconds(150));
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(Comm->InQueueCount(), 0u);
}

TEST_F(XCommFake, TransfersOnAVanishedDeviceRaiseWithTheSystemText) {
    Open();
    Port->HangUp();
    char buf[4];
    const EDeviceError r = Raised([&] { Comm->ReadData(buf, 4, 50); });
    EXPECT_EQ(r.ErrorCode(), 10);
    EXPECT_EQ(std::string(r.what()), "Unable to read from port. (Win32 error 5: Input/output error)");
    EXPECT_EQ(Raised([&] { Comm->SendString("x"); }).ErrorCode(), 11);
    EXPECT_TRUE(WaitServing([&] { return Comm->EventLoopFailed(); }, std::chrono::seconds(20)));
    Comm->CloseDevice();
    EXPECT_FALSE(Comm->Opened());
}

TEST_F(XCommFake, ClosingDiscardsOutputThatMakesNoProgressAndLetsMovingOutputDrain) {
    constexpr std::uint32_t kDiscard = PURGE_TXABORT | PURGE_TXCLEAR;
    const auto discards = [&] { return std::ranges::count(Port->Purges(), kDiscard); };
    const struct {
        const char* Name;
        void (*Prepare)(TFakePort&);
        bool Discarded;
    } kCases[] = {
        {"nothing pending", [](TFakePort&) {}, false},
        {"held back (CTS low, XOFF)", [](TFakePort& p) { p.SetOutQueue(300); }, true},
        {"device gone", [](TFakePort& p) { p.SetOutQueue(300), p.HangUp(); }, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Name);
        Open();
        const auto before = discards();
        c.Prepare(*Port);
        const auto start = std::chrono::steady_clock::now();
        Comm->CloseDevice();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)); // not a 30 s freeze
        EXPECT_EQ(discards() - before, c.Discarded ? 1 : 0);
        EXPECT_FALSE(Port->IsOpen());
        Port->SetOutQueue(0);
        Port->ClearFailures();
    }

    // Output that keeps moving is left to drain, for as long as the line needs and 2 s at most.
    const struct {
        TBaudRate Baud;
        std::uint32_t Pending, Step, EveryMs, WithinMs;
        bool Discarded;
    } kMoving[] = {{TBaudRate::br9600, 300, 20, 5, 1000, false}, // at the line's pace
                   {TBaudRate::br9600, 60, 1, 200, 1000, true},  // slower than 9600 baud
                   {TBaudRate::br300, 60, 1, 200, 2600, true}};  // slow on a 300 baud line
    for (const auto& c : kMoving) {
        SCOPED_TRACE(c.EveryMs);
        Comm->SetBaudRate(c.Baud);
        Open();
        Port->SetOutQueue(c.Pending);
        std::atomic<bool> closed{false};
        std::thread line([&] {
            for (std::uint32_t left = c.Pending; left > 0 && !closed; left -= c.Step) {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.EveryMs));
                Port->SetOutQueue(left - c.Step);
            }
        });
        const auto before = discards();
        const auto start = std::chrono::steady_clock::now();
        Comm->CloseDevice();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.WithinMs));
        closed = true;
        line.join();
        EXPECT_EQ(discards() - before, c.Discarded ? 1 : 0);
        Port->SetOutQueue(0);
    }
    Comm->SetBaudRate(TBaudRate::br9600);
    const auto before = discards();

    // The destructor closes the same way.
    auto other = std::make_unique<TXComm>(Api);
    ASSERT_TRUE(other->OpenDevice());
    Port->SetOutQueue(10);
    other.reset();
    EXPECT_EQ(discards(), before + 1);
}

TEST_F(XCommFake, NoStopSignalFailsTheOpenWithAClearError) {
    // One open first: the sanitizers' type checks then hit their cache instead of needing a
    // descriptor of their own below.
    Open();
    Comm->CloseDevice();
    EXPECT_EQ(Raised([&] { Comm->CloseDevice(); }).ErrorCode(), kErrNotOpened);
    // Use up every descriptor, so the event thread's stop signal cannot be made.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 1024);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken;
    for (int fd; (fd = dup(0)) >= 0;)
        taken.push_back(fd);
    const EDeviceError e = Raised([&] { Comm->OpenDevice(); });
    for (int fd : taken)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(e.ErrorCode(), kErrStopSignal);
    EXPECT_EQ(std::string(e.what()),
              "Unable to create the event thread's stop signal. (Win32 error 24: Too many open files)");
    EXPECT_FALSE(Comm->Opened());
    EXPECT_FALSE(Port->IsOpen());
    Open();
    Comm->CloseDevice();
}

TEST_F(XCommFake, BusyLocksStopReentryAndAreReleased) {
    int sendCode = 0, readCode = 0;
    char buf[4];
    Comm->SetOnSend([&](TCustomComm* c) {
        EXPECT_EQ(c->GetLockState(), kLockSend);
        try {
            c->SendString("again");
        } catch (const EDeviceError& e) {
            sendCode = e.ErrorCode();
        }
    });
    Comm->SetOnRead([&](TCustomComm* c) {
        try {
            c->ReadData(buf, 1);
        } catch (const EDeviceError& e) {
            readCode = e.ErrorCode();
        }
        throw std::runtime_error("handler failed"); // the lock is still released
    });
    EXPECT_EQ(Comm->GetLockState(), kLockSend | kLockRead); // closed
    Open();
    EXPECT_EQ(Comm->GetLockState(), 0);
    EXPECT_TRUE(Comm->SendString("a"));
    EXPECT_EQ(sendCode, 4);
    Port->PushInput("x");
    EXPECT_THROW(Comm->ReadData(buf, 1), std::runtime_error);
    EXPECT_EQ(readCode, 5);
    EXPECT_EQ(Comm->GetLockState(), 0);
    Comm->SetOnSend(nullptr);
    Comm->SetOnRead(nullptr);
    EXPECT_TRUE(Comm->SendString("b"));
    Port->PushInput("y");
    EXPECT_EQ(Comm->ReadData(buf, 1), 1u);
}

// ---- Batches -----------------------------------------------------------------------------------

TEST_F(XCommFake, BatchesBecomeOneDataNotificationAndFilteredEvents) {
    struct Row {
        const char* Name;
        TDeviceEvents Monitor, Batch;
        int DataCalls;
        std::vector<TDeviceEvents> CommEvents;
    };
    const TDeviceEvents defaults{DE::deChar, DE::deFlag, DE::deOutEmpty};
    const Row rows[] = {
        {"char and cts", defaults, {DE::deChar, DE::deCTS}, 1, {{DE::deChar}}},
        {"char and flag", defaults, {DE::deChar, DE::deFlag}, 1, {{DE::deChar, DE::deFlag}}},
        {"nothing monitored", {}, {DE::deChar, DE::deFlag}, 1, {}},
        {"modem line only", defaults + TDeviceEvents{DE::deRing}, {DE::deRing}, 0, {{DE::deRing}}},
        {"error not monitored", defaults, {DE::deError}, 0, {}},
    };
    bool handed = false;
    Comm->SetOnData([&](TCustomComm*, std::uint32_t) { handed = true; });
    Open();
    Port->PushInput("abc");
    // Let the event thread's own batch pass first, so only the batches below are seen.
    ASSERT_TRUE(WaitServing([&] { return handed; }, std::chrono::seconds(20)));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        std::vector<std::uint32_t> received;
        std::vector<TDeviceEvents> events;
        Comm->SetOnData([&](TCustomComm*, std::uint32_t n) { received.push_back(n); });
        Comm->SetOnCommEvent([&](TCustomComm*, TDeviceEvents e) { events.push_back(e); });
        Comm->SetMonitorEvents(row.Monitor);
        Comm->HandleEvents(row.Batch);
        EXPECT_EQ(received, std::vector<std::uint32_t>(row.DataCalls, 3u));
        EXPECT_EQ(events, row.CommEvents);
        Comm->SetOnData(nullptr);
        Comm->SetOnCommEvent(nullptr);
    }
    Comm->CloseDevice();
    int calls = 0;
    Comm->SetOnData([&](TCustomComm*, std::uint32_t) { ++calls; });
    Comm->HandleEvents({DE::deChar}); // closed: dropped
    EXPECT_EQ(calls, 0);
}

TEST_F(XCommFake, LineControlReachesTheDeviceAndInputChangesAreEvents) {
    EXPECT_EQ(Raised([&] { Comm->SetBreak(true); }).ErrorCode(), kErrNotOpened);
    Comm->SetMonitorEvents({DE::deCTS, DE::deRLSD});
    std::vector<TDeviceEvents> events;
    Comm->SetOnCommEvent([&](TCustomComm*, TDeviceEvents e) { events.push_back(e); });
    Open();
    EXPECT_TRUE(Comm->SetBreak(true) && Port->BreakOn());
    EXPECT_TRUE(Comm->SetBreak(false) && Comm->SetDTR(false) && Comm->SetRTS(false));
    EXPECT_FALSE(Port->Dtr() || Port->Rts() || Port->BreakOn());
    EXPECT_EQ(Port->LineCalls().size(), 4u);

    Port->SetModemInputs(MS_CTS_ON | MS_DSR_ON);
    ASSERT_TRUE(WaitServing([&] { return !events.empty(); }, std::chrono::seconds(20)));
    EXPECT_EQ(events.front(), TDeviceEvents{DE::deCTS}); // deDSR is not monitored
    const std::optional<TModemLines> lines = Comm->ModemLines();
    ASSERT_TRUE(lines);
    EXPECT_TRUE(lines->CTS && lines->DSR && !lines->DCD && !lines->RI && !lines->DTR && !lines->RTS);

    // The flow control owns RTS; a port without modem lines says so.
    Comm->SetFlowControl(TFlowControl::fcRtsCts);
    EXPECT_FALSE(Comm->SetRTS(true));
    EXPECT_EQ(Comm->LineControlError(), "RTS is controlled by the flow control");
    Port->SetModemLinesSupported(false);
    EXPECT_FALSE(Comm->SetDTR(true));
    EXPECT_EQ(Comm->LineControlError(), "not supported by this port");
    EXPECT_FALSE(Comm->ModemLines());
    Port->SetModemLinesSupported(true);
    EXPECT_TRUE(Comm->SetDTR(true));
    EXPECT_EQ(Comm->LineControlError(), "");
}

TEST_F(XCommFake, AHandlerClosingWhileACloseRunsItsBatchLeavesTheCloseToFinish) {
    std::atomic<bool> queued{false};
    const WakeHook previous = SetWakeMainThread([&] { queued = true; });
    int calls = 0;
    Comm->SetOnData([&](TCustomComm* Sender, std::uint32_t) {
        ++calls;
        Sender->CloseDevice();
    });
    Open();
    Port->PushInput("abc");
    for (int i = 0; i < 500 && !queued; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(queued);
    Comm->CloseDevice(); // ending the event thread runs the batch, whose handler closes again
    SetWakeMainThread(previous);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(Comm->Opened() || Port->IsOpen());
    Comm->SetOnData(nullptr);
    Open();
    Comm->CloseDevice();
}

} // namespace
} // namespace qorvel
