#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>

#include "app/desktop.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/jpeg_image.h"

using qorvel::DecodeJpeg;
using qorvel::TForm2;
using qorvel::TForm3;

namespace {

template <typename T> T* Find(QWidget& form, const char* name) {
    auto* widget = form.findChild<T*>(QString::fromLatin1(name));
    if (!widget) qWarning("missing control %s", name);
    return widget;
}

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

QStringList AllTexts(const TForm2& form) {
    return {form.ComText(),    form.BaudrateText(), form.BitsText(),
            form.ParityText(), form.StopBitsText(), form.FlowControlText()};
}

const QStringList kDefaults{"COM1", "9600", "8", "None", "1", "None"};

QByteArray BannerBytes() {
    QFile file(QStringLiteral(":/qorvel/banner.jpg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Near(QRgb actual, QRgb expected, int tolerance) {
    return qAbs(qRed(actual) - qRed(expected)) <= tolerance &&
           qAbs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           qAbs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void form2Window();
    void form2Controls();
    void form2Boxes();
    void form2TabOrder();
    void form2LoadDefaults();
    void form2CancelLoadsDefaults();
    void form2OkAndCloseKeepTexts();
    void form2KeysDoNotClose();
    void form2TypedTextIsNotAnItem();
    void form3Controls();
    void form3Window();
    void form3Links();
    void bannerDecodes();
    void decodeRejectsBadData_data();
    void decodeRejectsBadData();
};

void DialogsTest::form2Window() {
    TForm2 form;
    QCOMPARE(form.objectName(), QStringLiteral("Form2"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Serial settings"));
    QCOMPARE(form.size(), QSize(265, 326));
    QCOMPARE(form.pos(), QPoint(394, 197));
    QCOMPARE(form.font().pixelSize(), 13);
    auto* pages = Find<QTabWidget>(form, "PageControl1");
    QVERIFY(pages);
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->widget(0)->objectName(), QStringLiteral("TabSheet1"));
    QCOMPARE(pages->tabText(0), QStringLiteral("Port Settings"));
    QCOMPARE(pages->tabText(1), QStringLiteral("Terminal"));
    QCOMPARE(pages->tabText(2), QStringLiteral("Logging"));
    // Nothing goes to disk unless the operator asks; an existing log file is appended to.
    QVERIFY(!form.LogEveryConnection() && !form.LogTimeStamps() && form.LogAppend());
    QCOMPARE(form.LogFolder(), QDir::home().filePath(QStringLiteral("qorvel-logs")));
    form.CheckBox3->setChecked(true);
    // The "Terminal" page starts at its defaults, and Load Defaults puts them back.
    QVERIFY(form.ConfirmConnections());
    QCOMPARE(form.ScrollBackRows(), 10000);
    form.CheckBox2->setChecked(false);
    form.SpinEdit1->setValue(200000);
    QCOMPARE(form.ScrollBackRows(), 16000);
    form.Button1Click();
    QVERIFY(form.ConfirmConnections());
    QCOMPARE(form.ScrollBackRows(), 10000);
    QVERIFY(!form.LogEveryConnection());
}

// Where a label's size follows its text, only its top-left corner is checked (empty rectangle).
static void ExpectPlaced(QWidget& form, const char* name, const QString& caption, const QRect& geometry) {
    auto* widget = Find<QWidget>(form, name);
    QVERIFY(widget);
    if (auto* button = qobject_cast<QPushButton*>(widget)) QCOMPARE(button->text(), caption);
    if (auto* label = qobject_cast<QLabel*>(widget); label && !caption.isEmpty())
        QCOMPARE(label->text(), caption);
    if (geometry.isEmpty())
        QCOMPARE(widget->pos(), geometry.topLeft());
    else
        QCOMPARE(widget->geometry(), geometry);
}

void DialogsTest::form2Controls() {
    const struct {
        const char* Name;
        const char* Caption;
        QRect Geometry;
    } controls[] = {
        {"PageControl1", "", {4, 2, 257, 289}},    {"Button1", "Load Defaults", {56, 216, 129, 25}},
        {"Button2", "OK", {105, 296, 75, 25}},     {"Button3", "Cancel", {186, 296, 75, 25}},
        {"Label1", "COM:", {46, 20, 0, 0}},        {"Label2", "Baudrate:", {21, 51, 0, 0}},
        {"Label3", "Bits:", {55, 80, 0, 0}},       {"Label4", "Parity:", {42, 111, 0, 0}},
        {"Label5", "Stop Bits:", {23, 144, 0, 0}}, {"Label6", "Flow Control:", {4, 176, 0, 0}},
    };
    TForm2 form;
    for (const auto& c : controls)
        ExpectPlaced(form, c.Name, QString::fromLatin1(c.Caption), c.Geometry);
    // No button takes Enter: the dialog closes only by a click.
    for (QPushButton* button : {form.Button1, form.Button2, form.Button3})
        QVERIFY(!button->autoDefault() && !button->isDefault());
}

void DialogsTest::form2Boxes() {
    const struct {
        const char* Name;
        QPoint Position;
        int Width;
        QStringList Items;
        const char* Text;
    } boxes[] = {
        {"ComboBox1",
         {90, 16},
         143,
         {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "COM10", "COM11", "COM12"},
         "COM1"},
        {"ComboBox2",
         {90, 48},
         143,
         {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200", "230400",
          "460800", "921600"},
         "9600"},
        {"ComboBox6", {89, 79}, 144, {"5", "6", "7", "8"}, "8"},
        {"ComboBox3", {88, 109}, 145, {"None", "Odd", "Even"}, "None"},
        {"ComboBox4", {88, 141}, 145, {"1", "2"}, "1"},
        // Moved and widened from 88, 145 so that its label and its longest item fit (layout_test).
        {"ComboBox5", {93, 176}, 154, {"None", "Software (Xon/Xoff)", "Hardware (Rts/Cts)"}, "None"},
    };
    TForm2 form;
    for (const auto& c : boxes) {
        auto* box = Find<QComboBox>(form, c.Name);
        QVERIFY(box);
        QVERIFY(box->isEditable());
        QCOMPARE(box->parentWidget(), form.TabSheet1);
        QCOMPARE(box->pos(), c.Position);
        QCOMPARE(box->width(), c.Width);
        QCOMPARE(Items(box), c.Items);
        QCOMPARE(box->currentText(), QString::fromLatin1(c.Text));
    }
}

void DialogsTest::form2TabOrder() {
    TForm2 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QList<QWidget*> expected{form.ComboBox1, form.ComboBox2, form.ComboBox6, form.ComboBox3,
                                   form.ComboBox4, form.ComboBox5, form.Button1};
    form.ComboBox1->setFocus();
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected[i]);
    }
}

void DialogsTest::form2LoadDefaults() {
    TForm2 form;
    const QList<QComboBox*> boxes{form.ComboBox1, form.ComboBox2, form.ComboBox6,
                                  form.ComboBox3, form.ComboBox4, form.ComboBox5};
    QList<QStringList> before;
    for (QComboBox* box : boxes) {
        before << Items(box);
        box->setCurrentText(QStringLiteral("changed"));
    }
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QCOMPARE(AllTexts(form), kDefaults);
    for (int i = 0; i < boxes.size(); ++i)
        QCOMPARE(Items(boxes[i]), before[i]);
}

void DialogsTest::form2CancelLoadsDefaults() {
    TForm2 form;
    form.show();
    form.ComboBox1->setCurrentText(QStringLiteral("COM3"));
    form.ComboBox2->setCurrentText(QStringLiteral("19200"));
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QVERIFY(!form.isVisible());
    // Reopened, changed and cancelled: the defaults come back, not the earlier COM3 / 19200.
    form.show();
    QCOMPARE(form.ComText(), QStringLiteral("COM3"));
    form.ComboBox1->setCurrentText(QStringLiteral("COM5"));
    QTest::mouseClick(form.Button3, Qt::LeftButton);
    QVERIFY(!form.isVisible());
    QCOMPARE(AllTexts(form), kDefaults);
}

void DialogsTest::form2OkAndCloseKeepTexts() {
    TForm2 form;
    form.show();
    form.ComboBox1->setCurrentText(QStringLiteral("/dev/ttyUSB0"));
    form.ComboBox2->setCurrentText(QStringLiteral("115200"));
    form.ComboBox5->setCurrentText(QStringLiteral("Hardware (Rts/Cts)"));
    const QStringList chosen{"/dev/ttyUSB0", "115200", "8", "None", "1", "Hardware (Rts/Cts)"};
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QCOMPARE(AllTexts(form), chosen);
    form.show();
    QVERIFY(form.close());
    QCOMPARE(AllTexts(form), chosen);
    const qorvel::TSerialTexts texts = form.Texts();
    QCOMPARE(texts.Com, std::string("/dev/ttyUSB0"));
    QCOMPARE(texts.Baudrate, std::string("115200"));
    QCOMPARE(texts.FlowControl, std::string("Hardware (Rts/Cts)"));
    form.SetComText(QStringLiteral("COM12"));
    QCOMPARE(form.Texts().Com, std::string("COM12"));
}

void DialogsTest::form2KeysDoNotClose() {
    TForm2 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.ComboBox2->setFocus();
    form.ComboBox2->setCurrentText(QStringLiteral("4800"));
    QTest::keyClick(form.ComboBox2, Qt::Key_Return);
    QVERIFY(form.isVisible());
    QTest::keyClick(form.ComboBox2, Qt::Key_Escape);
    QVERIFY(form.isVisible());
    QCOMPARE(form.BaudrateText(), QStringLiteral("4800"));
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(form.isVisible());
}

void DialogsTest::form2TypedTextIsNotAnItem() {
    const struct {
        QComboBox* TForm2::*Box;
        const char* Typed;
    } typed[] = {
        {&TForm2::ComboBox1, "COM17"},
        {&TForm2::ComboBox1, "com3"},
        {&TForm2::ComboBox3, "even"},
        {&TForm2::ComboBox3, "Ev"},
        {&TForm2::ComboBox5, "hardware (rts/cts)"},
        {&TForm2::ComboBox5, "Soft"},
    };
    TForm2 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (const auto& t : typed) {
        QComboBox* box = form.*t.Box;
        const int items = box->count();
        box->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), QString::fromLatin1(t.Typed));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QTest::keyClick(box->lineEdit(), Qt::Key_Tab); // leaving the box
        QCOMPARE(box->currentText(), QString::fromLatin1(t.Typed));
        QCOMPARE(box->count(), items);
    }
    // Picking from the list still puts the item's text in.
    form.ComboBox3->setCurrentIndex(0);
    QTest::keyClick(form.ComboBox3, Qt::Key_Down);
    QCOMPARE(form.ParityText(), QStringLiteral("Odd"));
}

void DialogsTest::form3Controls() {
    const struct {
        const char* Name;
        const char* Parent;
        const char* Caption;
        QRect Geometry;
    } controls[] = {
        {"Image2", "Form3", "", {3, 0, 439, 68}},
        {"Label1", "Form3", "Author:", {15, 73, 0, 0}},
        {"Panel1", "Form3", "", {13, 93, 428, 52}},
        {"Label5", "Panel1", "Qorvel Terminal V 1.3 by the Qorvel Terminal developers", {9, 9, 0, 0}},
        {"Label7", "Panel1", "http://www.example.org/qorvel", {12, 31, 0, 0}},
        {"Label6", "Panel1", "mailto:qorvel@example.org", {227, 30, 0, 0}},
        {"Label2", "Form3", "License:", {13, 149, 0, 0}},
        {"Memo1", "Form3", "", {13, 168, 428, 81}},
        {"Button1", "Form3", "Close", {366, 256, 75, 25}},
    };
    TForm3 form;
    for (const auto& c : controls) {
        ExpectPlaced(form, c.Name, QString::fromLatin1(c.Caption), c.Geometry);
        auto* widget = Find<QWidget>(form, c.Name);
        QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(c.Parent));
        // Everything fits inside the fixed-size window.
        QVERIFY(
            QRect(QPoint(0, 0), form.size())
                .contains(widget->geometry().translated(widget->parentWidget()->mapTo(&form, QPoint(0, 0)))));
    }
}

void DialogsTest::form3Window() {
    TForm3 form;
    QCOMPARE(form.objectName(), QStringLiteral("Form3"));
    QCOMPARE(form.windowTitle(), QStringLiteral("About.."));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowSystemMenuHint));
    QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(form.Image2->pixmap().size(), QSize(439, 68));
    QCOMPARE(form.Memo1->document()->blockCount(), 18);
    QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("WITHOUT WARRANTY OF ANY KIND")));
    QCOMPARE(form.Memo1->font().pixelSize(), 11);
    QCOMPARE(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    for (QLabel* link : {form.Label7, form.Label6}) {
        QVERIFY(link->font().underline());
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    }
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY(!form.isVisible());
}

void DialogsTest::form3Links() {
    QList<QUrl> opened;
    qorvel::TDesktopHooks hooks;
    hooks.OpenUrl = [&](const QUrl& url) {
        opened << url;
        return true;
    };
    const qorvel::TDesktopHooks previous = qorvel::SetDesktopHooks(std::move(hooks));
    TForm3 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.Label7, Qt::LeftButton);
    QTest::mouseClick(form.Label6, Qt::LeftButton);
    QTest::mouseClick(form.Label5, Qt::LeftButton);
    // The target is whatever the label shows.
    form.Label7->setText(QStringLiteral("http://www.example.org/other"));
    form.Label7Click();
    qorvel::SetDesktopHooks(previous);
    QCOMPARE(opened, (QList<QUrl>{QUrl("http://www.example.org/qorvel"), QUrl("mailto:qorvel@example.org"),
                                  QUrl("http://www.example.org/other")}));
}

void DialogsTest::bannerDecodes() {
    const QImage image = DecodeJpeg(BannerBytes());
    QCOMPARE(image.size(), QSize(439, 68));
    struct Probe {
        QPoint Point;
        QRgb Colour;
    };
    // Navy field on the left, lighter panel on the right, orange stripe along the bottom.
    const Probe probes[] = {{{2, 2}, qRgb(0x14, 0x28, 0x4B)},
                            {{300, 5}, qRgb(0x14, 0x28, 0x4B)},
                            {{435, 5}, qRgb(0x2A, 0x4F, 0x8A)},
                            {{10, 64}, qRgb(0xF0, 0x8C, 0x1E)},
                            {{430, 65}, qRgb(0xF0, 0x8C, 0x1E)}};
    for (const Probe& probe : probes)
        QVERIFY2(Near(image.pixel(probe.Point), probe.Colour, 12),
                 qPrintable(QStringLiteral("pixel %1,%2 is %3")
                                .arg(probe.Point.x())
                                .arg(probe.Point.y())
                                .arg(image.pixel(probe.Point), 8, 16)));
    // The title is drawn in white somewhere in its row.
    bool white = false;
    for (int x = 14; x < 250 && !white; ++x)
        white = Near(image.pixel(x, 25), qRgb(255, 255, 255), 30);
    QVERIFY(white);
}

void DialogsTest::decodeRejectsBadData_data() {
    const QByteArray banner = BannerBytes();
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("mayDecode");
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("text") << QByteArray("not a picture at all") << false;
    QTest::newRow("SOI only") << QByteArray("\xFF\xD8", 2) << false;
    QTest::newRow("header cut") << banner.left(100) << false;
    QByteArray noStart = banner;
    noStart[1] = '\x00';
    QTest::newRow("no start marker") << noStart << false;
    QByteArray badFrame = banner;
    const qsizetype frame = badFrame.indexOf(QByteArray("\xFF\xC0", 2));
    badFrame[frame + 5] = badFrame[frame + 6] = '\x00'; // zero height
    QTest::newRow("zero height") << badFrame << false;
    // Data cut inside the scan: the decoder pads the missing rows rather than failing.
    QTest::newRow("scan cut") << banner.left(banner.size() / 2) << true;
    QByteArray noise = banner;
    for (qsizetype i = noise.size() / 3; i < noise.size() - 2; i += 7)
        noise[i] = char(noise[i] ^ 0x5A);
    QTest::newRow("scan noise") << noise << true;
}

void DialogsTest::decodeRejectsBadData() {
    QFETCH(QByteArray, data);
    QFETCH(bool, mayDecode);
    const QImage image = DecodeJpeg(data);
    if (mayDecode)
        QVERIFY(image.isNull() || image.size() == QSize(439, 68));
    else
        QVERIFY(image.isNull());
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
