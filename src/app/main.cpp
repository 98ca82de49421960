// The program: application title, the three forms in their order, the message loop.
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <cstring>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/log_files.h"
#include "app/port_list.h"
#include "platform/ports.h"

namespace {

constexpr char kUsage[] = "usage: qorvel-terminal [--port NAME] [--log PATH]\n"
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

    qorvel::TApplication app(argc, argv);

    // A launcher can point the program at a device (--port NAME) and have it log to a file from the
    // first byte on (--log PATH, with the name template's fields).
    QString port;
    QString log;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--port") && i + 1 < args.size()) {
            port = args[++i];
        } else if (args[i] == QStringLiteral("--log") && i + 1 < args.size()) {
            log = args[++i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    qorvel::TForm1 form1;
    qorvel::TForm2 form2;
    qorvel::TForm3 form3;
    form1.AttachDialogs(&form2, &form3);
    qorvel::TPortList ports;
    form2.AttachPorts(&ports);
    form1.AttachPorts(&ports);
    if (!port.isEmpty()) form2.SetComText(port);
    // Before the window shows: its start-up connect comes after, so no byte is read unlogged.
    if (!log.isEmpty()) form1.LogFiles->StartFile(log, qorvel::ToBytes(form2.ComText()));
    form1.show();
    return app.exec();
}
