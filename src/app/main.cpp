// The program: application title, the three forms in their order, the message loop.
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/log_files.h"
#include "app/port_list.h"
#include "app/startup.h"
#include "platform/ports.h"

namespace {

constexpr char kUsage[] = "usage: qorvel-terminal [--session NAME] [--port NAME] [--log PATH] [--hex-dump]\n"
                          "       qorvel-terminal --list\n";

// One port a line, its stable path, a tab, its description; both in printable form, so a device's
// strings cannot start a terminal sequence or forge a line or a column.
int ListPorts() {
    for (const qorvel::platform::TPortInfo& port : qorvel::platform::ListPorts())
        std::printf("%s\t%s\n", qorvel::platform::PrintableText(port.Path).c_str(), port.Description.c_str());
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // Options that need no window are handled before the toolkit looks for a display.
    for (int i = 1; i < argc; ++i) {
        const bool list = std::strcmp(argv[i], "--list") == 0;
        const bool help = std::strcmp(argv[i], "--help") == 0;
        if (!list && !help) continue;
        if (argc != 2) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        if (help) return std::fputs(kUsage, stdout) >= 0 ? 0 : 1;
        return ListPorts();
    }

    // The toolkit would take "--session NAME" for its own session management: it is set aside first.
    std::vector<char*> args(argv, argv + argc);
    QStringList session;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (std::strcmp(args[i], "--session") != 0) continue;
        if (i + 1 == args.size()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        session << QStringLiteral("--session") << QString::fromLocal8Bit(args[i + 1]);
        args.erase(args.begin() + std::ptrdiff_t(i), args.begin() + std::ptrdiff_t(i) + 2);
        --i;
    }
    int count = int(args.size());
    args.push_back(nullptr);
    qorvel::TApplication app(count, args.data());

    // A launcher can start a saved session (--session NAME), point the program at a device
    // (--port NAME), have it log to a file from the first byte on (--log PATH, with the name
    // template's fields) and show the hex dump (--hex-dump).
    const std::optional<qorvel::TStartOptions> options = qorvel::ParseStartOptions(app.arguments() + session);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    qorvel::TForm1 form1;
    qorvel::TForm2 form2;
    qorvel::TForm3 form3;
    form1.AttachDialogs(&form2, &form3);
    qorvel::TPortList ports;
    form2.AttachPorts(&ports);
    form1.AttachPorts(&ports);
    try {
        qorvel::StartUp(form1, form2, *options);
    } catch (const qorvel::ETextError& error) {
        std::fprintf(stderr, "qorvel-terminal: %s\n", qPrintable(error.Text()));
        return 2;
    }
    // Before the window shows: its start-up connect comes after, so no byte is read unlogged.
    if (!options->Log.isEmpty()) form1.LogFiles->StartFile(options->Log, qorvel::ToBytes(form2.ComText()));
    form1.show();
    return app.exec();
}
