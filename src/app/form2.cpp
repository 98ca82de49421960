#include "app/form2.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "app/desktop.h"
#include "app/font_scale.h"

namespace qorvel {

namespace {

// Reference layout: 96 dpi, an outer size of 273 x 353 with a 4-pixel frame and a 19-pixel caption.
constexpr int kClientWidth = 265;
constexpr int kClientHeight = 326;
constexpr int kLeft = 394;
constexpr int kTop = 197;

const char* const kDefaultCom = "COM1";
const char* const kDefaultBaudrate = "9600";
const char* const kDefaultBits = "8";
const char* const kDefaultParity = "None";
const char* const kDefaultStopBits = "1";
const char* const kDefaultFlowControl = "None";

constexpr int kFontPixels = 13;

QFont DialogFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    return WindowFont(font, kFontPixels);
}

QLabel* MakeLabel(QWidget* page, const char* name, const char* caption, int left, int top) {
    auto* label = new QLabel(QString::fromLatin1(caption), page);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QComboBox* MakeBox(QWidget* page, const char* name, int left, int top, int width, const QStringList& items,
                   const char* text) {
    auto* box = new QComboBox(page);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(true);
    // A text that matches no item exactly must stay as typed, so the setting is left unchanged.
    KeepTypedText(box);
    // Typing a text must not grow the item list: only the box's text is the setting.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    box->setCurrentText(QString::fromLatin1(text));
    box->setGeometry(left, top, width, box->sizeHint().height());
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                        int height) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    // No default button: Enter in a box must not close the dialog.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(left, top, width, height);
    return button;
}

} // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Serial settings"));
    setFont(DialogFont());
    resize(kClientWidth, kClientHeight);
    move(kLeft, kTop);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(4, 2, 257, 289);
    TabSheet1 = new QWidget();
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QStringLiteral("Port Settings"));

    Label1 = MakeLabel(TabSheet1, "Label1", "COM:", 46, 20);
    Label2 = MakeLabel(TabSheet1, "Label2", "Baudrate:", 21, 51);
    Label3 = MakeLabel(TabSheet1, "Label3", "Bits:", 55, 80);
    Label4 = MakeLabel(TabSheet1, "Label4", "Parity:", 42, 111);
    Label5 = MakeLabel(TabSheet1, "Label5", "Stop Bits:", 23, 144);
    Label6 = MakeLabel(TabSheet1, "Label6", "Flow Control:", 4, 176);

    ComboBox1 = MakeBox(
        TabSheet1, "ComboBox1", 90, 16, 143,
        {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "COM10", "COM11", "COM12"},
        kDefaultCom);
    ComboBox2 = MakeBox(TabSheet1, "ComboBox2", 90, 48, 143,
                        {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200",
                         "230400", "460800", "921600"},
                        kDefaultBaudrate);
    ComboBox6 = MakeBox(TabSheet1, "ComboBox6", 89, 79, 144, {"5", "6", "7", "8"}, kDefaultBits);
    ComboBox3 = MakeBox(TabSheet1, "ComboBox3", 88, 109, 145, {"None", "Odd", "Even"}, kDefaultParity);
    ComboBox4 = MakeBox(TabSheet1, "ComboBox4", 88, 141, 145, {"1", "2"}, kDefaultStopBits);
    // 5 pixels right of the design's 88 so that "Flow Control:" ends 3 pixels before it, and 154 wide
    // instead of 145 so that "Software (Xon/Xoff)" is not clipped.
    ComboBox5 = MakeBox(TabSheet1, "ComboBox5", 93, 176, 154,
                        {"None", "Software (Xon/Xoff)", "Hardware (Rts/Cts)"}, kDefaultFlowControl);
    Label1->setBuddy(ComboBox1);
    Label2->setBuddy(ComboBox2);
    Label3->setBuddy(ComboBox6);
    Label4->setBuddy(ComboBox3);
    Label5->setBuddy(ComboBox4);
    Label6->setBuddy(ComboBox5);
    // Each box is named by its label. On Linux a combo box is announced by its text, so the text
    // field carries the name as well.
    for (QLabel* label : {Label1, Label2, Label3, Label4, Label5, Label6}) {
        auto* box = static_cast<QComboBox*>(label->buddy());
        box->setAccessibleName(label->text());
        box->lineEdit()->setAccessibleName(label->text());
    }
    TabSheet1->setAccessibleName(PageControl1->tabText(0));

    Button1 = MakeButton(TabSheet1, "Button1", "Load Defaults", 56, 216, 129, 25);
    Button2 = MakeButton(this, "Button2", "OK", 105, 296, 75, 25);
    Button3 = MakeButton(this, "Button3", "Cancel", 186, 296, 75, 25);

    QWidget::setTabOrder(PageControl1, ComboBox1);
    QWidget::setTabOrder(ComboBox1, ComboBox2);
    QWidget::setTabOrder(ComboBox2, ComboBox6);
    QWidget::setTabOrder(ComboBox6, ComboBox3);
    QWidget::setTabOrder(ComboBox3, ComboBox4);
    QWidget::setTabOrder(ComboBox4, ComboBox5);
    QWidget::setTabOrder(ComboBox5, Button1);
    CreateReconnectBox();
    CreateTerminalPage();
    CreateLoggingPage();
    CreateDefaultButtons();
    QWidget::setTabOrder(Button1, CheckBox1);
    QWidget::setTabOrder(CheckBox1, Button2);
    QWidget::setTabOrder(Button2, Button3);
    ComboBox1->setFocus();

    ScaleLayout();

    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
}

void TForm2::ScaleLayout() {
    const TLayoutScale scale = TLayoutScale::Of(this, kFontPixels);
    if (scale.Factor() == 1.0) return;
    resize(scale(QSize(kClientWidth, kClientHeight)));
    scale.ScaleChildren(this);
    scale.ScaleChildren(TabSheet1);
    scale.ScaleChildren(TabSheet2);
    scale.ScaleChildren(TabSheet3);
    // A box is as high as its font needs, as at the reference.
    for (QComboBox* box : {ComboBox1, ComboBox2, ComboBox6, ComboBox3, ComboBox4, ComboBox5})
        box->resize(box->width(), box->sizeHint().height());
}

QString TForm2::ComText() const {
    return ComboBox1->currentText();
}
QString TForm2::BaudrateText() const {
    return ComboBox2->currentText();
}
QString TForm2::BitsText() const {
    return ComboBox6->currentText();
}
QString TForm2::ParityText() const {
    return ComboBox3->currentText();
}
QString TForm2::StopBitsText() const {
    return ComboBox4->currentText();
}
QString TForm2::FlowControlText() const {
    return ComboBox5->currentText();
}

TSerialTexts TForm2::Texts() const {
    const auto bytes = [](const QString& text) { return text.toLatin1().toStdString(); };
    return {bytes(ComText()),    bytes(BaudrateText()), bytes(BitsText()),
            bytes(ParityText()), bytes(StopBitsText()), bytes(FlowControlText())};
}

void TForm2::SetComText(const QString& text) {
    ComboBox1->setCurrentText(text);
}

void TForm2::Button1Click() {
    // With a saved default, that is what "defaults" means to the operator.
    if (FSavedDefault) {
        SetValues(*FSavedDefault);
        return;
    }
    ComboBox1->setCurrentText(QString::fromLatin1(kDefaultCom));
    ComboBox2->setCurrentText(QString::fromLatin1(kDefaultBaudrate));
    ComboBox6->setCurrentText(QString::fromLatin1(kDefaultBits));
    ComboBox3->setCurrentText(QString::fromLatin1(kDefaultParity));
    ComboBox4->setCurrentText(QString::fromLatin1(kDefaultStopBits));
    ComboBox5->setCurrentText(QString::fromLatin1(kDefaultFlowControl));
    CheckBox1->setChecked(false);
    LoadTerminalDefaults();
    LoadLoggingDefaults();
}

void TForm2::Button2Click() {
    emit SettingsKept();
    accept();
}

void TForm2::Button3Click() {
    Button1Click();
    reject();
}

void TForm2::closeEvent(QCloseEvent* event) {
    emit SettingsKept();
    QDialog::closeEvent(event);
}

void TForm2::showEvent(QShowEvent* event) {
    // Its fixed place may lie off the screen the main window is on.
    PlaceOverOwner(this);
    QDialog::showEvent(event);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        // No cancel button: Escape leaves the dialog open.
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // No default button either; Enter only presses a button that has the focus.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
        event->accept();
        return;
    default: QDialog::keyPressEvent(event);
    }
}

} // namespace qorvel
