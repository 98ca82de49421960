#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>

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
    void form2Controls_data();
    void form2Controls();
    void form2Boxes_data();
    void form2Boxes();
    void form2TabOrder();
    void form2LoadDefaults();
    void form2CancelLoadsDefaults();
    void form2OkAndCloseKeepTexts();
    void form2KeysDoNotClose();
    void form2TypedTextIsNotAnItem();
    void form3Controls_data();
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
    QCOMPARE(pages->count(), 1);
    QCOMPARE(pages->widget(0)->objectName(), QStringLiteral("TabSheet1"));
    QCOMPARE(pages->tabText(0), QStringLiteral("Port Settings"));
}

void DialogsTest::form2Controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("PageControl1") << "PageControl1"
                                  << "" << QRect(4, 2, 257, 289);
    QTest::newRow("Button1") << "Button1"
                             << "Load Defaults" << QRect(56, 216, 129, 25);
    QTest::newRow("Button2") << "Button2"
                             << "OK" << QRect(105, 296, 75, 25);
    QTest::newRow("Button3") << "Button3"
                             << "Cancel" << QRect(186, 296, 75, 25);
    // Labels: only the top-left corner is documented.
    QTest::newRow("COM:") << "Label1"
                          << "COM:" << QRect(46, 20, 0, 0);
    QTest::newRow("Baudrate:") << "Label2"
                               << "Baudrate:" << QRect(21, 51, 0, 0);
    QTest::newRow("Bits:") << "Label3"
                           << "Bits:" << QRect(55, 80, 0, 0);
    QTest::newRow("Parity:") << "Label4"
                             << "Parity:" << QRect(42, 111, 0, 0);
    QTest::newRow("Stop Bits:") << "Label5"
                                << "Stop Bits:" << QRect(23, 144, 0, 0);
    QTest::newRow("Flow Control:") << "Label6"
                                   << "Flow Control:" << QRect(4, 176, 0, 0);
}

void DialogsTest::form2Controls() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);
    TForm2 form;
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QCOMPARE(button->text(), caption);
        QVERIFY(!button->autoDefault());
        QVERIFY(!button->isDefault());
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) QCOMPARE(label->text(), caption);
    if (geometry.isEmpty())
        QCOMPARE(widget->pos(), geometry.topLeft());
    else
        QCOMPARE(widget->geometry(), geometry);
}

void DialogsTest::form2Boxes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<int>("width");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("text");
    QTest::newRow("COM") << "ComboBox1" << QPoint(90, 16) << 143
                         << QStringList{"COM1", "COM2", "COM3", "COM4",  "COM5",  "COM6",
                                        "COM7", "COM8", "COM9", "COM10", "COM11", "COM12"}
                         << "COM1";
    QTest::newRow("Baudrate") << "ComboBox2" << QPoint(90, 48) << 143
                              << QStringList{"300", "600", "1200", "2400", "4800", "9600", "19200", "38400"}
                              << "9600";
    QTest::newRow("Bits") << "ComboBox6" << QPoint(89, 79) << 144 << QStringList{"5", "6", "7", "8"} << "8";
    QTest::newRow("Parity") << "ComboBox3" << QPoint(88, 109) << 145 << QStringList{"None", "Odd", "Even"}
                            << "None";
    QTest::newRow("Stop Bits") << "ComboBox4" << QPoint(88, 141) << 145 << QStringList{"1", "2"} << "1";
    QTest::newRow("Flow Control") << "ComboBox5" << QPoint(88, 176) << 145
                                  << QStringList{"None", "Software (Xon/Xoff)", "Hardware (Rts/Cts)"}
                                  << "None";
}

void DialogsTest::form2Boxes() {
    QFETCH(QString, name);
    QFETCH(QPoint, position);
    QFETCH(int, width);
    QFETCH(QStringList, items);
    QFETCH(QString, text);
    TForm2 form;
    auto* box = form.findChild<QComboBox*>(name);
    QVERIFY(box);
    QVERIFY(box->isEditable());
    QCOMPARE(box->parentWidget(), form.TabSheet1);
    QCOMPARE(box->pos(), position);
    QCOMPARE(box->width(), width);
    QCOMPARE(Items(box), items);
    QCOMPARE(box->currentText(), text);
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
    TForm2 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.ComboBox1->setFocus();
    form.ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(form.ComboBox1->lineEdit(), QStringLiteral("COM17"));
    QTest::keyClick(form.ComboBox1->lineEdit(), Qt::Key_Return);
    QCOMPARE(form.ComText(), QStringLiteral("COM17"));
    QCOMPARE(form.ComboBox1->count(), 12);
}

void DialogsTest::form3Controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("Image2") << "Image2"
                            << "Form3"
                            << "" << QRect(3, 0, 439, 68);
    QTest::newRow("Label1") << "Label1"
                            << "Form3"
                            << "Author:" << QRect(15, 73, 0, 0);
    QTest::newRow("Panel1") << "Panel1"
                            << "Form3"
                            << "" << QRect(13, 93, 428, 52);
    QTest::newRow("Label5") << "Label5"
                            << "Panel1"
                            << "Qorvel Terminal V 1.3 by the Qorvel Terminal developers" << QRect(9, 9, 0, 0);
    QTest::newRow("Label7") << "Label7"
                            << "Panel1"
                            << "http://www.example.org/qorvel" << QRect(12, 31, 0, 0);
    QTest::newRow("Label6") << "Label6"
                            << "Panel1"
                            << "mailto:qorvel@example.org" << QRect(227, 30, 0, 0);
    QTest::newRow("Label2") << "Label2"
                            << "Form3"
                            << "License:" << QRect(13, 149, 0, 0);
    QTest::newRow("Memo1") << "Memo1"
                           << "Form3"
                           << "" << QRect(13, 168, 428, 81);
    QTest::newRow("Button1") << "Button1"
                             << "Form3"
                             << "Close" << QRect(366, 256, 75, 25);
}

void DialogsTest::form3Controls() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);
    TForm3 form;
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    if (auto* label = qobject_cast<QLabel*>(widget); label && !caption.isEmpty())
        QCOMPARE(label->text(), caption);
    if (auto* button = qobject_cast<QPushButton*>(widget)) QCOMPARE(button->text(), caption);
    if (geometry.isEmpty())
        QCOMPARE(widget->pos(), geometry.topLeft());
    else
        QCOMPARE(widget->geometry(), geometry);
    // Everything fits inside the fixed-size window.
    QVERIFY(QRect(QPoint(0, 0), form.size())
                .contains(widget->geometry().translated(widget->parentWidget()->mapTo(&form, QPoint(0, 0)))));
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
    const auto previous = TForm3::SetUrlOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    TForm3 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.Label7, Qt::LeftButton);
    QTest::mouseClick(form.Label6, Qt::LeftButton);
    QTest::mouseClick(form.Label5, Qt::LeftButton);
    // The target is whatever the label shows.
    form.Label7->setText(QStringLiteral("http://www.example.org/other"));
    form.Label7Click();
    TForm3::SetUrlOpener(previous);
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
