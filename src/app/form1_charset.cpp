// The main window's character set: code page 437 bytes as they come, or UTF-8 both ways.
#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"

namespace qorvel {

void TForm1::ReadCharacterSet(bool Connecting) {
    const bool utf8 = FForm2 && FForm2->Utf8();
    // A sequence cut off by a disconnect or a change of mode must not swallow the next bytes.
    if (Connecting || utf8 != FUtf8) FUtf8Decoder.Reset();
    FUtf8 = utf8;
}

std::string TForm1::TypedBytes(const QString& Line) const {
    if (!FUtf8) return ToBytesExact(Line);
    const QByteArray bytes = Line.toUtf8();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

QString TForm1::TypedText(const std::string& Bytes) const {
    return FUtf8 ? QString::fromUtf8(Bytes.data(), qsizetype(Bytes.size())) : FromBytes(Bytes);
}

} // namespace qorvel
