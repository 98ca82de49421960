// The three windows at the reference desktop font and at larger ones; ctest runs this once more at
// a 2x scale. In each band no two controls overlap, each control lies inside its parent, and every
// caption fits the part of its control that draws it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <memory>
#include <vector>

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "platform/comm_fake.h"

#include "app_test_util.h"

namespace qorvel {
namespace {

// Frames are backdrops: the controls placed over them are checked as members of the band.
bool IsBackdrop(const QWidget* Widget) {
    return qstrcmp(Widget->metaObject()->className(), "QFrame") == 0;
}

// The named controls of a band, through any frames, in band coordinates.
void Collect(QWidget* Band, QWidget* Parent, std::vector<QWidget*>& Controls) {
    for (QWidget* child : Parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || child->objectName().isEmpty() || child->objectName().startsWith("qt_"))
            continue;
        Controls.push_back(child);
        if (IsBackdrop(child)) Collect(Band, child, Controls);
    }
}

// What the control paints, in band coordinates: a check box only its mark and its text.
QRect InBand(QWidget* Band, QWidget* Control) {
    QRect painted = Control->rect();
    if (auto* check = qobject_cast<QCheckBox*>(Control)) {
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = check->text();
        QStyle* style = check->style();
        QRect text = style->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
        text.setWidth(QFontMetrics(check->font()).horizontalAdvance(check->text()));
        painted = style->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check).united(text);
    }
    return painted.translated(Control->mapTo(Band, QPoint(0, 0)));
}

// Where the control draws its caption, and the captions it may have to show.
QRect TextRect(QWidget* Control, QStringList& Captions) {
    QStyle* style = Control->style();
    if (auto* box = qobject_cast<QComboBox*>(Control)) {
        for (int i = 0; i < box->count(); ++i)
            Captions << box->itemText(i);
        Captions << box->currentText();
        QStyleOptionComboBox option;
        option.initFrom(box);
        option.editable = box->isEditable();
        option.frame = box->hasFrame();
        const QRect field =
            style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
        // The line edit in the field keeps a margin of its own on either side.
        return box->isEditable() ? field.adjusted(2, 0, -2, 0) : field;
    }
    if (auto* check = qobject_cast<QCheckBox*>(Control)) {
        Captions << check->text();
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = check->text();
        return style->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
    }
    if (auto* button = qobject_cast<QPushButton*>(Control)) {
        Captions << button->text();
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        if (button->isDefault()) option.features |= QStyleOptionButton::DefaultButton;
        return style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    }
    if (auto* label = qobject_cast<QLabel*>(Control); label && label->pixmap().isNull()) {
        Captions << label->text();
        return label->contentsRect();
    }
    return {};
}

void ExpectBandFits(QWidget* Band) {
    std::vector<QWidget*> controls;
    Collect(Band, Band, controls);
    ASSERT_FALSE(controls.empty()) << Band->objectName().toStdString();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        QWidget* a = controls[i];
        const std::string name = Band->objectName().toStdString() + "/" + a->objectName().toStdString();
        EXPECT_TRUE(a->parentWidget()->rect().contains(a->geometry()))
            << name << " leaves its parent: " << a->geometry().x() << "," << a->geometry().y() << " "
            << a->width() << "x" << a->height() << " in " << a->parentWidget()->width() << "x"
            << a->parentWidget()->height();
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            QWidget* b = controls[j];
            const QRect ra = InBand(Band, a), rb = InBand(Band, b);
            if ((IsBackdrop(a) && ra.contains(rb)) || (IsBackdrop(b) && rb.contains(ra))) continue;
            EXPECT_FALSE(ra.intersects(rb))
                << name << " overlaps " << b->objectName().toStdString() << " by "
                << ra.intersected(rb).width() << "x" << ra.intersected(rb).height();
        }
        QStringList captions;
        const QRect text = TextRect(a, captions);
        if (captions.isEmpty()) continue;
        const QFontMetrics metrics(a->font());
        EXPECT_LE(metrics.height(), text.height()) << name << " clips its text's height";
        for (const QString& caption : captions)
            EXPECT_LE(metrics.horizontalAdvance(caption), text.width())
                << name << " clips \"" << caption.toStdString() << "\"";
    }
}

class DesktopFont {
public:
    explicit DesktopFont(int Points) : FOld(QApplication::font()) {
        QFont font = FOld;
        font.setPointSize(Points);
        QApplication::setFont(font);
    }
    ~DesktopFont() { QApplication::setFont(FOld); }

private:
    QFont FOld;
};

TEST(WindowLayout, CaptionsFitAndControlsStayApartAtEveryFontSize) {
    const double expectScale = qEnvironmentVariableIsSet("QORVEL_EXPECT_SCALE")
                                   ? qEnvironmentVariable("QORVEL_EXPECT_SCALE").toDouble()
                                   : 1.0;
    ASSERT_EQ(qApp->devicePixelRatio(), expectScale);
    test::CurrentFolder folder;
    test::DesktopCapture answers; // the start-up finds no port

    const struct {
        int Points;
        int Pixels; // of the windows' font
    } cases[] = {{9, 13}, {11, 16}, {14, 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Points) + " pt at scale " + std::to_string(expectScale));
        DesktopFont desktop(c.Points);
        platform::TFakeCommApi api;
        TForm2 settings;
        TForm3 about;
        TForm1 main(api);
        main.AttachDialogs(&settings, &about);
        for (QWidget* window : {static_cast<QWidget*>(&main), static_cast<QWidget*>(&settings),
                                static_cast<QWidget*>(&about)}) {
            window->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
            EXPECT_EQ(window->font().pixelSize(), c.Pixels) << window->objectName().toStdString();
        }
        QCoreApplication::processEvents();
        for (QWidget* band : {static_cast<QWidget*>(main.Panel1), static_cast<QWidget*>(main.Panel2),
                              static_cast<QWidget*>(&settings), settings.TabSheet1,
                              static_cast<QWidget*>(&about), static_cast<QWidget*>(about.Panel1)})
            ExpectBandFits(band);
        // The bands of the main window follow one another without overlapping.
        EXPECT_EQ(main.GroupBox2->geometry().bottom() + 1, main.GroupBox1->geometry().top());
        EXPECT_EQ(main.GroupBox1->geometry().bottom() + 1, main.Panel2->geometry().top());
        EXPECT_GE(main.centralWidget()->height(), main.Panel2->geometry().bottom() + 1);
    }
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
