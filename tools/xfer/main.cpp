// qorvel-xfer: sends or receives files with XMODEM, YMODEM or ZMODEM over a serial port, a
// pseudo-terminal or a network port, driving the same transfer objects as the window.
#include "serial/xcomm.h"
#include "transfer/file_host.h"
#include "transfer/xymodem.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace qorvel;
using namespace qorvel::transfer;

namespace {

constexpr std::uint32_t kOutQueueLimit = 64 * 1024; // keeps a cancel from waiting behind megabytes
constexpr int kExitFailed = 1, kExitUsage = 2, kExitNotBuilt = 3;

std::atomic<bool> GInterrupted{false};

void OnSignal(int) {
    GInterrupted = true;
}

TMillis NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int Usage(const char* Why) {
    if (Why) std::fprintf(stderr, "qorvel-xfer: %s\n", Why);
    std::fprintf(
        stderr, "Usage: qorvel-xfer send -p PROTOCOL --port PORT [options] FILE...\n"
                "       qorvel-xfer receive -p PROTOCOL --port PORT --folder DIR [--name FILE] [options]\n"
                "PROTOCOL: xmodem, xmodem-crc, xmodem-1k, ymodem, zmodem\n"
                "PORT: a device path, rfc2217://HOST:PORT or tcp://HOST:PORT\n"
                "Options: --baud N (115200), --start-timeout SECONDS (60, XMODEM/YMODEM),\n"
                "         --quiet (only the final line), --trace FILE (the bytes each way, for debugging)\n");
    return kExitUsage;
}

struct TArgs {
    bool Send = false;
    std::optional<TProtocol> Protocol;
    std::string Port, Folder = ".", Name;
    std::uint32_t Baud = 115200;
    TMillis StartTimeout = 60000;
    bool Quiet = false;
    std::string Trace;
    std::vector<std::string> Files;
};

std::optional<TProtocol> ParseProtocol(std::string_view Name) {
    if (Name == "xmodem") return TProtocol::Xmodem;
    if (Name == "xmodem-crc") return TProtocol::XmodemCrc;
    if (Name == "xmodem-1k") return TProtocol::Xmodem1K;
    if (Name == "ymodem") return TProtocol::Ymodem;
    if (Name == "zmodem") return TProtocol::Zmodem;
    return std::nullopt;
}

// One line per batch: time, direction, length and the first bytes in hex.
void TraceBytes(FILE* Trace, TMillis Time, const char* Way, std::string_view Bytes) {
    if (!Trace || Bytes.empty()) return;
    std::fprintf(Trace, "%lld %s %zu:", static_cast<long long>(Time), Way, Bytes.size());
    for (std::size_t i = 0; i < Bytes.size() && i < 24; ++i)
        std::fprintf(Trace, " %02x", static_cast<unsigned char>(Bytes[i]));
    std::fprintf(Trace, Bytes.size() > 24 ? " ...\n" : "\n");
    std::fflush(Trace);
}

std::string Rate(std::uint64_t Bytes, double Seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f MiB/s", Seconds > 0 ? Bytes / Seconds / 1048576.0 : 0.0);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(nullptr);
    TArgs args;
    const std::string mode = argv[1];
    if (mode != "send" && mode != "receive") return Usage("the first word is send or receive");
    args.Send = mode == "send";
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "-p" || a == "--protocol") {
            const char* v = value();
            if (!v || !(args.Protocol = ParseProtocol(v))) return Usage("unknown protocol");
        } else if (a == "--port") {
            const char* v = value();
            if (!v) return Usage("--port needs a value");
            args.Port = v;
        } else if (a == "--folder") {
            const char* v = value();
            if (!v) return Usage("--folder needs a value");
            args.Folder = v;
        } else if (a == "--name") {
            const char* v = value();
            if (!v) return Usage("--name needs a value");
            args.Name = v;
        } else if (a == "--baud") {
            const char* v = value();
            if (!v || std::atol(v) <= 0) return Usage("--baud needs a positive number");
            args.Baud = static_cast<std::uint32_t>(std::atol(v));
        } else if (a == "--start-timeout") {
            const char* v = value();
            if (!v || std::atof(v) <= 0) return Usage("--start-timeout needs a positive number of seconds");
            args.StartTimeout = static_cast<TMillis>(std::atof(v) * 1000);
        } else if (a == "--trace") {
            const char* v = value();
            if (!v) return Usage("--trace needs a file");
            args.Trace = v;
        } else if (a == "--quiet" || a == "-q") {
            args.Quiet = true;
        } else if (a == "-h" || a == "--help") {
            Usage(nullptr);
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            return Usage(("unknown option " + a).c_str());
        } else {
            args.Files.push_back(a);
        }
    }
    if (!args.Protocol) return Usage("-p PROTOCOL is needed");
    if (args.Port.empty()) return Usage("--port PORT is needed");
    if (args.Send && args.Files.empty()) return Usage("no file to send");
    if (!args.Send && !args.Files.empty()) return Usage("receive takes no file names (use --name)");
    if (!args.Send && !IsBatch(*args.Protocol) && args.Name.empty())
        return Usage("XMODEM carries no file name: give one with --name");

    TFileHost host;
    host.SetFolder(args.Folder);
    host.SetXmodemName(args.Name);
    for (const std::string& path : args.Files) {
        std::string error;
        if (!host.AddSendFile(path, error)) {
            std::fprintf(stderr, "qorvel-xfer: %s\n", error.c_str());
            return kExitFailed;
        }
    }

    TXymodemTimes times;
    times.StartTimeout = args.StartTimeout;
    const TMillis start = NowMs();
    std::unique_ptr<TTransfer> transfer;
    if (*args.Protocol == TProtocol::Zmodem)
        transfer =
            args.Send ? MakeSender(*args.Protocol, host, start) : MakeReceiver(*args.Protocol, host, start);
    else
        transfer = args.Send ? MakeXymodemSender(*args.Protocol, host, start, times)
                             : MakeXymodemReceiver(*args.Protocol, host, start, times);
    if (!transfer) {
        std::fprintf(stderr, "qorvel-xfer: %s is not built\n",
                     std::string(ProtocolName(*args.Protocol)).c_str());
        return kExitNotBuilt;
    }

    // Received bytes are handed from the driver's event thread to this one.
    std::mutex lock;
    std::condition_variable arrived;
    std::string inbox;
    std::string lost;
    TXComm comm;
    comm.SetDeviceName(args.Port);
    comm.SetBaudValue(args.Baud);
    comm.SetSynchronize(false);
    comm.SetOnData([&](TCustomComm* c, std::uint32_t n) {
        std::string buffer(n, '\0');
        buffer.resize(c->ReadData(buffer.data(), n, 1000));
        std::lock_guard guard(lock);
        inbox += buffer;
        arrived.notify_one();
    });
    comm.SetOnEventLoopFailed([&](TCustomComm*, const std::string& reason) {
        std::lock_guard guard(lock);
        lost = reason.empty() ? "the port was lost" : reason;
        arrived.notify_one();
    });
    try {
        comm.OpenDevice();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qorvel-xfer: cannot open %s: %s\n", args.Port.c_str(), e.what());
        return kExitFailed;
    }

    FILE* trace = args.Trace.empty() ? nullptr : std::fopen(args.Trace.c_str(), "w");
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::string pending, received;
    TMillis nextReport = start + 1000;
    bool cancelled = false;
    std::string portError;
    while (transfer->State() == TState::Running || !pending.empty()) {
        TMillis now = NowMs();
        const TMillis wake = std::min({transfer->Deadline(), nextReport, now + (pending.empty() ? 200 : 5)});
        {
            std::unique_lock guard(lock);
            if (inbox.empty() && lost.empty() && wake > now)
                arrived.wait_for(guard, std::chrono::milliseconds(wake - now));
            received.swap(inbox);
            inbox.clear();
            if (!lost.empty() && portError.empty()) portError = lost;
        }
        now = NowMs();
        if (!portError.empty()) break;
        TraceBytes(trace, now - start, "in ", received);
        if (!received.empty()) transfer->Receive(received, now);
        received.clear();
        if (now >= transfer->Deadline()) transfer->Tick(now);
        if (GInterrupted && !cancelled) {
            cancelled = true;
            transfer->Cancel(now);
        }
        if (pending.empty()) {
            const std::uint32_t queued = comm.OutQueueCount();
            if (queued < kOutQueueLimit) transfer->Output(pending, kOutQueueLimit - queued, NowMs());
            TraceBytes(trace, now - start, "out", pending);
        }
        if (!pending.empty()) {
            const std::uint32_t sent =
                comm.SendData(pending.data(), static_cast<std::uint32_t>(pending.size()), 100);
            pending.erase(0, sent);
        }
        if (now >= nextReport && !args.Quiet) {
            const TProgress& p = transfer->Progress();
            const double seconds = (now - start) / 1000.0;
            std::fprintf(stderr, "%s  %llu%s bytes  %s  errors %u  retries %u%s%s\n", p.FileName.c_str(),
                         static_cast<unsigned long long>(p.FileDone),
                         p.FileSize ? (" of " + std::to_string(*p.FileSize)).c_str() : "",
                         Rate(p.TotalDone, seconds).c_str(), p.Errors, p.Retries,
                         p.LastError.empty() ? "" : "  last: ", p.LastError.c_str());
            nextReport = now + 1000;
        }
    }
    // Let what the transfer wrote last (an ACK, the CANs) reach the line before closing.
    for (int i = 0; i < 100 && comm.OutQueueCount() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    comm.CloseDevice();
    if (trace) std::fclose(trace);

    const TProgress& p = transfer->Progress();
    const double seconds = (NowMs() - start) / 1000.0;
    const TState state = portError.empty() ? transfer->State() : TState::Failed;
    std::fprintf(stderr, "%s %llu bytes in %.2f s (%s), %u errors, %u retries%s%s\n",
                 state == TState::Done        ? (args.Send ? "Sent" : "Received")
                 : state == TState::Cancelled ? "Cancelled after"
                                              : "Failed after",
                 static_cast<unsigned long long>(p.TotalDone), seconds, Rate(p.TotalDone, seconds).c_str(),
                 p.Errors, p.Retries, state == TState::Done ? "" : ": ",
                 (portError.empty() ? transfer->Error() : "Port: " + portError).c_str());
    for (const std::string& path : host.Received())
        std::fprintf(stderr, "received: %s\n", path.c_str());
    for (const std::string& path : host.Partial())
        std::fprintf(stderr, "partial file kept: %s\n", path.c_str());
    const std::string trailing = transfer->TakeTrailing();
    if (!trailing.empty()) std::fwrite(trailing.data(), 1, trailing.size(), stdout);
    return state == TState::Done ? 0 : kExitFailed;
}
