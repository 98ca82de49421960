#include "app/application.h"

#include <QLoggingCategory>
#include <QMessageBox>
#include <QWidget>
#include <climits>
#include <cstdint>
#include <exception>
#include <utility>

#include "platform/debugout.h"
#include "platform/mainthread.h"

namespace qorvel {

namespace {

Q_LOGGING_CATEGORY(lcEngine, "qorvel.engine")

constexpr std::string_view kUnknownError = "Unknown error";

QWidget* BoxParent(QWidget* Parent) {
    if (Parent) return Parent;
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

} // namespace

QString ApplicationTitle() {
    return FromBytes(kApplicationTitle);
}

QString FromBytes(std::string_view Bytes) {
    return QString::fromLatin1(Bytes.data(), static_cast<qsizetype>(Bytes.size()));
}

std::string ToBytes(const QString& Text) {
    QByteArray latin1 = Text.toLatin1();
    return std::string(latin1.constData(), static_cast<std::size_t>(latin1.size()));
}

std::string ToBytesExact(const QString& Text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(Text.size()));
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const char16_t unit = Text[i].unicode();
        if (unit < 0x100) {
            bytes.push_back(static_cast<char>(unit));
            continue;
        }
        const qsizetype length = Text[i].isHighSurrogate() && i + 1 < Text.size() ? 2 : 1;
        const QString character = Text.mid(i, length);
        const QString code =
            QString::number(character.toUcs4().value(0), 16).toUpper().rightJustified(4, u'0');
        throw ETextError(
            QStringLiteral("Cannot send \"%1\" (U+%2): the character has no byte value. Nothing was sent.")
                .arg(character, code));
    }
    return bytes;
}

std::string HexToBytes(const QString& Text) {
    const auto refuse = [&](qsizetype At, const QString& Why) {
        throw ETextError(
            QStringLiteral("Cannot send the hex line: \"%1\" at position %2 %3. Nothing was sent.")
                .arg(Text.mid(At, Text[At].isHighSurrogate() ? 2 : 1))
                .arg(At + 1)
                .arg(Why));
    };
    const auto digit = [](QChar c) {
        const char16_t u = c.unicode();
        return u >= '0' && u <= '9'   ? u - '0'
               : u >= 'a' && u <= 'f' ? u - 'a' + 10
               : u >= 'A' && u <= 'F' ? u - 'A' + 10
                                      : -1;
    };
    std::string bytes;
    qsizetype i = 0;
    while (i < Text.size()) {
        const QChar c = Text[i];
        if (c == u' ' || c == u',' || c == u'\t') {
            ++i;
            continue;
        }
        if (c == u'0' && i + 1 < Text.size() && (Text[i + 1] == u'x' || Text[i + 1] == u'X')) i += 2;
        // One run of digits up to the next separator: its digits pair up into bytes.
        const qsizetype start = i;
        while (i < Text.size() && Text[i] != u' ' && Text[i] != u',' && Text[i] != u'\t') {
            if (digit(Text[i]) < 0) refuse(i, QStringLiteral("is not a hex digit"));
            ++i;
        }
        if (i == start) refuse(start - 1, QStringLiteral("has no hex digits after it"));
        if ((i - start) % 2 != 0) refuse(i - 1, QStringLiteral("is a hex digit without its pair"));
        for (qsizetype d = start; d < i; d += 2)
            bytes.push_back(static_cast<char>(digit(Text[d]) * 16 + digit(Text[d + 1])));
    }
    return bytes;
}

std::string ErrorBoxText(std::string_view Message) {
    std::string text(Message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text.push_back('.');
    return text;
}

std::int32_t StrToInt(std::string_view Text) {
    std::size_t i = 0;
    while (i < Text.size() && Text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
    const std::size_t digits = i;
    std::int64_t value = 0;
    for (; i < Text.size() && Text[i] >= '0' && Text[i] <= '9'; ++i) {
        value = value * 10 + (Text[i] - '0');
        if (value > std::int64_t{INT32_MAX} + 1) break;
    }
    if (negative) value = -value;
    if (i == digits || i != Text.size() || value < INT32_MIN || value > INT32_MAX)
        throw EConvertError("'" + std::string(Text) + "' is not a valid integer value");
    return static_cast<std::int32_t>(value);
}

void ShowMessageBox(TMessageKind Kind, std::string_view Text, QWidget* Parent) {
    ShowMessageBox(Kind, FromBytes(Text), Parent);
}

void ShowMessageBox(TMessageKind Kind, const QString& text, QWidget* Parent) {
    const QString caption = ApplicationTitle();
    if (DesktopHooks().MessageBox) {
        DesktopHooks().MessageBox(Kind, caption, text);
        return;
    }
    QMessageBox box(Kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption, text,
                    QMessageBox::Ok, BoxParent(Parent));
    box.exec();
}

void ShowException(std::string_view Message) {
    ShowMessageBox(TMessageKind::Error, ErrorBoxText(Message.empty() ? kUnknownError : Message));
}

void ShowCurrentException() {
    try {
        throw;
    } catch (const ETextError& e) {
        ShowMessageBox(TMessageKind::Error, e.Text());
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException(kUnknownError);
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(ApplicationTitle());
    platform::SetMainThread();
    platform::SetWakeMainThread([this] {
        if (FWakePending.exchange(true)) return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                FWakePending.store(false);
                platform::CheckSynchronize(0);
            },
            Qt::QueuedConnection);
    });
    platform::SetDebugSink([](std::string_view Line) {
        qCDebug(lcEngine).noquote() << QString::fromLatin1(Line.data(), static_cast<qsizetype>(Line.size()));
    });
    platform::SetBeepSink([](unsigned) { QApplication::beep(); });
}

TApplication::~TApplication() {
    platform::SetWakeMainThread({});
    platform::SetDebugSink({});
    platform::SetBeepSink({});
}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        ShowCurrentException();
    }
    return true;
}

} // namespace qorvel
