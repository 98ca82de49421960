#pragma once
// Decodes a JPEG held in memory into an image.
#include <QByteArray>
#include <QImage>

namespace qorvel {

// Returns an RGB image, or a null image when the data is not a JPEG the decoder can read
// (empty, corrupt, unsupported colour space or too large). Never throws.
QImage DecodeJpeg(const QByteArray& data);

} // namespace qorvel
