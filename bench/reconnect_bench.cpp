// Figures of reconnecting, against an emulated USB adapter in a sandboxed /sys and /dev (umockdev;
// run under umockdev-wrapper): time from udev's add event to the window connected again, and CPU use
// while the window waits for the lost port.
// glib's headers first: they use "signals" as a name, which Qt's headers make a keyword.
#include "serial_testbed.h"

#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <sys/resource.h>

#include "app/application.h"
#include "app/desktop.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/port_list.h"
#include "serial/xcomm.h"

namespace qorvel {
namespace {

const char kById[] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

double CpuSeconds(int Who) {
    rusage usage{};
    ::getrusage(Who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Spin(const std::function<bool()>& Done) {
    QElapsedTimer clock;
    clock.start();
    while (!Done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

// The window connected to the adapter by its stable name, with reconnecting on.
struct Window {
    Window() {
        TDesktopHooks quiet;
        quiet.MessageBox = [](TMessageKind, const QString&, const QString&) {};
        SetDesktopHooks(std::move(quiet));
        Plug();
        Form.AttachDialogs(&Settings, &About);
        Settings.AttachPorts(&Ports);
        Form.AttachPorts(&Ports);
        Settings.SetComText(QString::fromLatin1(kById));
        Settings.CheckBox1->setChecked(true);
        Form.Button1Click();
    }
    ~Window() {
        if (Form.COM->Opened()) Form.Button1Click();
        SetDesktopHooks({});
    }
    void Plug() { Sys = Bed.Add(test::FtdiAdapter(), "ttyUSB" + std::to_string(Plugs++)); }
    void Unplug() {
        Bed.Unplug(Sys);
        Spin([&] { return !Form.COM->Opened(); });
    }

    test::SerialTestbed Bed;
    int Plugs = 0;
    std::string Sys;
    TPortList Ports;
    TForm1 Form;
    TForm2 Settings;
    TForm3 About;
};

// From the moment the add event is on udev's socket (umockdev sends it as the last step of plugging
// the adapter in) to the port open again.
void BM_ReconnectAfterAddEvent(benchmark::State& state) {
    Window w;
    for (auto _ : state) {
        w.Unplug();
        w.Plug();
        QElapsedTimer clock;
        clock.start();
        Spin([&] { return w.Form.COM->Opened(); });
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        if (!w.Form.COM->Opened()) state.SkipWithError("did not reconnect");
    }
}
BENCHMARK(BM_ReconnectAfterAddEvent)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// CPU while waiting for the lost port: the whole process (which includes umockdev's own thread) and
// the program's main thread alone, the only thread the window has while disconnected.
void BM_IdleCpuWaitingForPort(benchmark::State& state) {
    for (auto _ : state) {
        Window w;
        w.Unplug();
        const double process0 = CpuSeconds(RUSAGE_SELF);
        const double thread0 = CpuSeconds(RUSAGE_THREAD);
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(state.range(0)), &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(wall);
        state.counters["cpu_percent_process"] = (CpuSeconds(RUSAGE_SELF) - process0) / wall * 100.0;
        state.counters["cpu_percent_main_thread"] = (CpuSeconds(RUSAGE_THREAD) - thread0) / wall * 100.0;
        state.counters["waiting"] = w.Form.ReconnectPath().empty() ? 0 : 1;
    }
}
BENCHMARK(BM_IdleCpuWaitingForPort)
    ->Arg(10000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace qorvel
