// ZMODEM costs in memory: the start recogniser that the window runs on every received batch, and
// one file through our sender and receiver (escaping, CRC-32, framing) without a line between.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "transfer/zmodem.h"

using namespace qorvel::transfer;

namespace {

std::string Bytes(bool Text, std::size_t Size) {
    std::mt19937 random(1);
    std::string bytes(Size, '\0');
    const std::string_view line = "[  12.345] ** boot: loading image *** done\r\n";
    for (std::size_t i = 0; i < Size; ++i)
        bytes[i] = Text ? line[i % line.size()] : static_cast<char>(random());
    return bytes;
}

void BM_DetectorScan(benchmark::State& State) {
    const std::string bytes = Bytes(State.range(0) == 0, 1 << 20);
    TZmodemDetector detector;
    for (auto _ : State)
        for (std::size_t at = 0; at < bytes.size(); at += 4096) { // batches as the port delivers them
            std::size_t end;
            benchmark::DoNotOptimize(detector.Scan(std::string_view(bytes).substr(at, 4096), end));
        }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * bytes.size()));
}
BENCHMARK(BM_DetectorScan)->Arg(0)->Arg(1)->ArgNames({"binary"});

struct TMemoryHost : THost {
    std::string File;
    std::size_t SendCount() const override { return 1; }
    TFileInfo SendInfo(std::size_t) const override { return {"f", File.size(), 0, 0644}; }
    std::ptrdiff_t ReadFile(std::size_t, std::uint64_t Offset, char* Buffer, std::size_t Count,
                            std::string&) override {
        return static_cast<std::ptrdiff_t>(File.copy(Buffer, Count, Offset));
    }
    bool BeginFile(const TFileInfo&, std::uint64_t&, std::string&) override { return true; }
    bool WriteFile(std::string_view, std::string&) override { return true; }
};

void BM_SenderToReceiver(benchmark::State& State) {
    TMemoryHost from, to;
    from.File = Bytes(false, 16 << 20);
    std::string line;
    for (auto _ : State) {
        auto sender = MakeZmodemSender(from, 0);
        auto receiver = MakeZmodemReceiver(to, 0);
        while (sender->State() == TState::Running) {
            line.clear();
            sender->Output(line, 65536, 0);
            receiver->Receive(line, 0);
            line.clear();
            receiver->Output(line, 65536, 0);
            sender->Receive(line, 0);
        }
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * from.File.size()));
}
BENCHMARK(BM_SenderToReceiver)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
