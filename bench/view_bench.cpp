// Figures of the terminal view: the time of one full repaint of the main window's 25 x 132 view,
// and the throughput of a received stream written in blocks to a shown view while the event loop
// runs and paints, with and without a selection.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <random>
#include <string>
#include <vector>

#include "emulvt/emul_vt.h"

namespace qorvel {
namespace {

constexpr int kRows = 25;
constexpr int kCols = 132;
constexpr int kCellWidth = 5;
constexpr int kLineHeight = 12;
constexpr std::size_t kStreamBytes = 16u << 20;
constexpr std::size_t kBlockBytes = 4096;

// What a device typically sends: coloured text lines, prompts, cursor addressing, erasing and
// line-drawing, deterministic for a given size.
std::string MixedStream(std::size_t Size) {
    std::mt19937 rng(1234);
    std::string s;
    s.reserve(Size + 256);
    const char* words[] = {"status", "OK",    "error",    "temp=21.5", "volts",
                           "0x1F3A", "ready", "QLX7400>", "ch1"};
    while (s.size() < Size) {
        switch (rng() % 8) {
        case 0:
            s += "\x1b[" + std::to_string(30 + rng() % 8) + ";" + std::to_string(40 + rng() % 8) + "m";
            break;
        case 1: s += "\x1b[0m"; break;
        case 2:
            s += "\x1b[" + std::to_string(1 + rng() % 25) + ";" + std::to_string(1 + rng() % 132) + "H";
            break;
        case 3: s += "\x1b[K"; break;
        case 4: s += "\x1b(0lqqqqqqqqk\x1b(B"; break;
        default: break;
        }
        for (int w = 0, n = int(rng() % 12); w < n; ++w) {
            s += words[rng() % std::size(words)];
            s += ' ';
        }
        s += "\r\n";
    }
    s.resize(Size);
    return s;
}

class TBenchVT : public TEmulVT {
public:
    explicit TBenchVT(int CharWidth, int LineHeight) {
        SetRows(kRows);
        SetCols(kCols);
        SetCharWidth(CharWidth);
        SetLineHeight(LineHeight);
        resize(kCols * CharWidth + LeftMargin() + RightMargin() + kScrollBarWidth,
               kRows * LineHeight + TopMargin() + BottomMargin());
    }
    int Paints = 0;

protected:
    void paintEvent(QPaintEvent* Event) override {
        ++Paints;
        TEmulVT::paintEvent(Event);
    }
};

// Every eight cells a new attribute, so each row is drawn as 17 runs.
void FillStriped(TEmulVT& View) {
    TScreen& s = *View.Screen();
    for (int r = 0; r < kRows; ++r) {
        TLine& line = *s.GetLine(r);
        for (int k = 0; k < kLineCells; ++k) {
            line.Txt[k] = uint8_t(0x21 + (r * 7 + k) % 0xD0);
            line.Att[k] = uint8_t(((k / 8 + r) * 37) & 0xFF);
        }
    }
}

void FullRepaint(benchmark::State& State, int CharWidth, int LineHeight, bool Mono) {
    TBenchVT view(CharWidth, LineHeight);
    view.SetMonoChrome(Mono);
    FillStriped(view);
    QImage target(view.size(), QImage::Format_RGB32);
    view.render(&target, QPoint(), QRegion(), QWidget::RenderFlags()); // glyphs prepared once
    std::vector<double> times;
    QElapsedTimer t;
    for (auto _ : State) {
        t.start();
        view.render(&target, QPoint(), QRegion(), QWidget::RenderFlags());
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        benchmark::DoNotOptimize(target.constBits());
    }
    std::nth_element(times.begin(), times.begin() + long(times.size() / 2), times.end());
    State.counters["median_ms"] = times[times.size() / 2];
}

void BM_FullRepaint_MainWindowCells(benchmark::State& State) {
    FullRepaint(State, kCellWidth, kLineHeight, false);
}
void BM_FullRepaint_DefaultFont(benchmark::State& State) {
    FullRepaint(State, 7, 14, false);
}
void BM_FullRepaint_MonoChrome(benchmark::State& State) {
    FullRepaint(State, kCellWidth, kLineHeight, true);
}

// Blocks are handed over one per event-loop turn, like received data arriving from the port.
// With Selected, a selection over most of the screen stays active: it is made again whenever the
// stream scrolled it away, so every paint draws it.
void StreamToShownView(benchmark::State& State, bool Selected) {
    const std::string stream = MixedStream(kStreamBytes);
    int paints = 0;
    for (auto _ : State) {
        TBenchVT view(kCellWidth, kLineHeight);
        view.show();
        QEventLoop loop;
        std::size_t offset = 0;
        QTimer feeder;
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            const std::size_t n = std::min(kBlockBytes, stream.size() - offset);
            view.WriteText(std::string_view(stream).substr(offset, n));
            if (Selected && !view.HasSelection()) view.Select({2, 10}, {22, 100});
            offset += n;
            if (offset >= stream.size()) {
                feeder.stop();
                loop.quit();
            }
        });
        QElapsedTimer t;
        t.start();
        feeder.start(0);
        loop.exec();
        QCoreApplication::processEvents(); // the last repaint belongs to the stream
        State.SetIterationTime(double(t.nsecsElapsed()) / 1e9);
        paints = view.Paints;
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(stream.size()));
    State.counters["MB_per_s"] = benchmark::Counter(double(stream.size()) * double(State.iterations()) / 1e6,
                                                    benchmark::Counter::kIsRate);
    State.counters["paints"] = paints;
}

void BM_StreamToShownView(benchmark::State& State) {
    StreamToShownView(State, false);
}
void BM_StreamToShownView_WithSelection(benchmark::State& State) {
    StreamToShownView(State, true);
}

BENCHMARK(BM_FullRepaint_MainWindowCells)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FullRepaint_DefaultFont)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FullRepaint_MonoChrome)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_StreamToShownView)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_StreamToShownView_WithSelection)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

} // namespace
} // namespace qorvel

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
