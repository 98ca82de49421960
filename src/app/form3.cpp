#include "app/form3.h"

#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include "app/desktop.h"
#include "app/font_scale.h"
#include "app/jpeg_image.h"

// The resource file lives in a static library: pull it in explicitly (outside any namespace).
static void InitDialogResources() {
    Q_INIT_RESOURCE(dialogs);
}

namespace qorvel {

namespace {

// Reference layout at 96 dpi; the button sits at the bottom right, under the licence text.
constexpr int kClientWidth = 447;
constexpr int kClientHeight = 287;

const char* const kBannerResource = ":/qorvel/banner.jpg";
const char* const kCredit = "Qorvel Terminal V 1.3 by the Qorvel Terminal developers";
const char* const kWebPage = "http://www.example.org/qorvel";
const char* const kMailAddress = "mailto:qorvel@example.org";

const char* const kLicenceLines[] = {
    "Qorvel Terminal V 1.3",
    "Copyright (c) the Qorvel Terminal developers",
    "",
    "MIT License",
    "",
    "Permission is hereby granted, free of charge, to any person obtaining a copy of this software and "
    "associated documentation files (the \"Software\"), to deal in the Software without restriction,",
    "including without limitation the rights to use, copy, modify, merge, publish, distribute, "
    "sublicense, and/or sell copies of the Software, and to permit persons to whom the Software is",
    "furnished to do so, subject to the following conditions:",
    "",
    "The above copyright notice and this permission notice shall be included in all copies or "
    "substantial portions of the Software.",
    "",
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, INCLUDING BUT "
    "NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT.",
    "IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY,",
    "WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE "
    "SOFTWARE OR THE USE OR OTHER DEALINGS IN THE SOFTWARE.",
    "",
    "Disclaimer: this program sends whatever it is given to the connected device.",
    "Check the port settings and the script before sending; use it at your own risk.",
    "Report problems to qorvel@example.org.",
};

constexpr int kFontPixels = 13;
constexpr int kLicenceFontPixels = 11;

QFont DialogFont(int pixelSize) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    return WindowFont(font, pixelSize);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

void MakeLink(QLabel* label) {
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    label->setCursor(Qt::PointingHandCursor);
    label->adjustSize();
}

void OpenCaption(const QLabel* label) {
    OpenUrl(QUrl(label->text()));
}

} // namespace

TForm3::TForm3(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    InitDialogResources();
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("About.."));
    setFont(DialogFont(kFontPixels));
    setFixedSize(kClientWidth, kClientHeight);

    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(3, 0, 439, 68);
    Image2->setAccessibleName(QStringLiteral("Qorvel Terminal V 1.3")); // what the banner shows
    QFile banner(QString::fromLatin1(kBannerResource));
    if (banner.open(QIODevice::ReadOnly)) {
        const QImage image = DecodeJpeg(banner.readAll());
        if (!image.isNull()) Image2->setPixmap(QPixmap::fromImage(image));
    }

    Label1 = MakeLabel(this, "Label1", QStringLiteral("Author:"), 15, 73);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setGeometry(13, 93, 428, 52);

    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label5 = MakeLabel(Panel1, "Label5", QString::fromLatin1(kCredit), 9, 9);
    Label7 = MakeLabel(Panel1, "Label7", QString::fromLatin1(kWebPage), 12, 31);
    Label6 = MakeLabel(Panel1, "Label6", QString::fromLatin1(kMailAddress), 227, 30);
    for (QLabel* label : {Label5, Label7, Label6})
        label->setPalette(black);
    for (QLabel* label : {Label7, Label6}) {
        MakeLink(label);
        label->installEventFilter(this);
    }

    Label2 = MakeLabel(this, "Label2", QStringLiteral("License:"), 13, 149);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(13, 168, 428, 81);
    Memo1->setFont(DialogFont(kLicenceFontPixels));
    QPalette memo = Memo1->palette();
    memo.setColor(QPalette::Text, Qt::gray);
    memo.setColor(QPalette::Base, palette().color(QPalette::Window));
    Memo1->setPalette(memo);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // The legal notice is for reading, not for editing.
    Memo1->setReadOnly(true);
    QStringList lines;
    for (const char* line : kLicenceLines)
        lines << QString::fromLatin1(line);
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
    Memo1->setAccessibleName(Label2->text());
    Label2->setBuddy(Memo1);

    Button1 = new QPushButton(QStringLiteral("Close"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Button1->setGeometry(kClientWidth - 6 - 75, kClientHeight - 6 - 25, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    ScaleLayout();
}

void TForm3::ScaleLayout() {
    const TLayoutScale scale = TLayoutScale::Of(this, kFontPixels);
    if (scale.Factor() == 1.0) return;
    setFixedSize(scale(QSize(kClientWidth, kClientHeight)));
    scale.ScaleChildren(this);
    scale.ScaleChildren(Panel1);
}

void TForm3::Button1Click() {
    accept();
}

// The link labels open whatever they show, so a changed caption changes the target.
void TForm3::Label7Click() {
    OpenCaption(Label7);
}
void TForm3::Label6Click() {
    OpenCaption(Label6);
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label7)
            Label7Click();
        else if (watched == Label6)
            Label6Click();
    }
    return QDialog::eventFilter(watched, event);
}

void TForm3::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
    // The main window may be on another screen than the primary one.
    PlaceOverOwner(this);
    QDialog::showEvent(event);
}

} // namespace qorvel
