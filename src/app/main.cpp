// The program: application title, the three forms in their order, the message loop.
#include <QFile>
#include <QStringList>
#include <cstdio>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"

int main(int argc, char** argv) {
    qorvel::TApplication app(argc, argv);

    // One optional argument, so a launcher can point the program at a device: --port NAME.
    QString port;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--port") && i + 1 < args.size()) {
            port = args[++i];
        } else {
            std::fprintf(stderr, "usage: qorvel-terminal [--port NAME]\n");
            return 2;
        }
    }

    qorvel::TForm1 form1;
    qorvel::TForm2 form2;
    qorvel::TForm3 form3;
    form1.AttachDialogs(&form2, &form3);
    if (!port.isEmpty()) form2.SetComText(port);
    form1.show();
    return app.exec();
}
