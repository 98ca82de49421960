#pragma once
// The About dialog: banner, credit, the two link labels and the licence text.
#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qorvel {

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    QLabel* Image2;
    QLabel* Label1;
    QFrame* Panel1;
    QLabel* Label5;
    QLabel* Label7;
    QLabel* Label6;
    QLabel* Label2;
    QPlainTextEdit* Memo1;
    QPushButton* Button1;

public slots:
    void Button1Click();
    void Label7Click();
    void Label6Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Grows the reference layout with the font (font_scale.h); nothing moves at the reference font.
    void ScaleLayout();
};

} // namespace qorvel
