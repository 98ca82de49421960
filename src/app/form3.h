#pragma once
// The About dialog: banner, credit, the two link labels and the licence text.
#include <QDialog>
#include <QUrl>
#include <functional>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qorvel {

// Opens a link (web page or mail address); returns whether the desktop accepted it.
using TUrlOpener = std::function<bool(const QUrl&)>;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    // Replaces the link opener (the desktop's by default; tests capture the links);
    // returns the previous one. An empty opener restores the desktop's.
    static TUrlOpener SetUrlOpener(TUrlOpener opener);

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
};

} // namespace qorvel
