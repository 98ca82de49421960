// The smaller commands of the main window: prompt list, Save Log, Clear Terminal, Help and About.
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>
#include <stdexcept>

#include "app/desktop.h"
#include "app/form1.h"
#include "app/form3.h"
#include "emulvt/emul_vt.h"

namespace qorvel {

namespace {

constexpr char kHelpFile[] = "help.html";

// The save dialog's default extension goes onto a name whose file part has no dot, as the dialog
// itself does with a typed name.
QString WithDefaultSuffix(const QFileDialog* Dialog, const QString& Name) {
    const QFileInfo info(Name);
    if (Dialog->defaultSuffix().isEmpty() || info.isDir() || info.fileName().contains(QLatin1Char('.')))
        return Name;
    return Name + QLatin1Char('.') + Dialog->defaultSuffix();
}

} // namespace

std::optional<QString> TForm1::ExecFileDialog(QFileDialog* Dialog) {
    if (DesktopHooks().FileDialog) {
        std::optional<QString> name = DesktopHooks().FileDialog(Dialog);
        if (name && !name->isEmpty()) return WithDefaultSuffix(Dialog, *name);
        return std::nullopt;
    }
    if (Dialog->exec() != QDialog::Accepted || Dialog->selectedFiles().isEmpty()) return std::nullopt;
    return Dialog->selectedFiles().front();
}

// ---- Prompt list

void TForm1::Button4Click() {
    const std::optional<QString> chosen = ExecFileDialog(OpenDialog());
    if (!chosen || !QFileInfo::exists(*chosen)) return;
    LoadPromptList(QFile::encodeName(*chosen).toStdString());
}

void TForm1::ComboBox4Change() {
    try {
        Button5->setEnabled(true);
        ShowState();
    } catch (const std::exception&) {
        // A change of the prompt never reports an error.
    }
}

// ---- Log and terminal

void TForm1::Button9Click() {
    // An existing file is replaced only after the dialog's usual question.
    SaveDialog()->setOption(QFileDialog::DontConfirmOverwrite, false);
    const std::optional<QString> chosen = ExecFileDialog(SaveDialog1);
    if (!chosen) return;
    // Raises when the file cannot be written, so nothing is cleared then.
    Terminal.SaveToFile(QFile::encodeName(*chosen).toStdString());
    Button3Click();
}

void TForm1::Button3Click() {
    Terminal.Clear();
    Terminal2->ClearScreen();
    Terminal2->WriteText(std::string_view());
    ClearHexDump();
}

// ---- Help and About

QString TForm1::HelpPage() const {
    // The page in the working folder comes first; a program started elsewhere (from the desktop menu)
    // still finds the copy beside the build's executable or the installed one under share/.
    QFileInfo page(QDir::current(), QString::fromLatin1(kHelpFile));
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (const QString& fallback :
         {QString::fromLatin1(kHelpFile),
          QStringLiteral("../share/qorvel-terminal/") + QString::fromLatin1(kHelpFile)}) {
        if (page.exists()) break;
        const QFileInfo candidate(programDir, fallback);
        if (candidate.exists()) page = candidate;
    }
    if (!page.exists())
        throw std::runtime_error(std::string("The help page ") + kHelpFile + " was not found");
    return page.absoluteFilePath();
}

// The help in a window of the program's own: it works where no browser is installed.
void TForm1::Help2Click() {
    const QString page = HelpPage();
    if (!FHelpWindow) {
        auto* window = new QWidget(this, Qt::Window);
        window->setObjectName(QStringLiteral("HelpWindow"));
        window->setWindowTitle(QStringLiteral("Qorvel Terminal Help"));
        auto* browser = new QTextBrowser(window);
        browser->setObjectName(QStringLiteral("HelpBrowser"));
        // Links to other sites go to the desktop's browser; the page's own anchors stay here.
        browser->setOpenExternalLinks(true);
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(browser);
        window->resize(720, 600);
        FHelpWindow = window;
    }
    auto* browser = FHelpWindow->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
    browser->setSource(QUrl::fromLocalFile(page));
    FHelpWindow->show();
    FHelpWindow->raise();
    FHelpWindow->activateWindow();
}

void TForm1::HelpInBrowser1Click() {
    const QString page = HelpPage();
    if (!OpenUrl(QUrl::fromLocalFile(page)))
        throw std::runtime_error("No browser opened the help page " + page.toStdString() +
                                 ". Help > Help shows it in a window of its own");
}

void TForm1::About1Click() {
    if (FForm3) FForm3->exec();
}

} // namespace qorvel
