#include "app/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace qorvel {

namespace {

// Guards the allocation against hostile headers; far above any banner.
constexpr JDIMENSION kMaxSide = 16384;

struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

void ErrorExit(j_common_ptr cinfo) {
    // The library must not exit the process: unwind to the decoder's checkpoint.
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->Jump, 1);
}

void SilentMessage(j_common_ptr, int) {}

struct TJpegDecoder {
    jpeg_decompress_struct Info;
    TJpegError Error;
};

// The two steps that may longjmp hold no objects with destructors, so unwinding skips nothing.
bool StartDecoding(TJpegDecoder& decoder, const unsigned char* data, unsigned long size) {
    decoder.Info.err = jpeg_std_error(&decoder.Error.Manager);
    decoder.Error.Manager.error_exit = ErrorExit;
    decoder.Error.Manager.emit_message = SilentMessage;
    if (setjmp(decoder.Error.Jump)) return false;
    jpeg_create_decompress(&decoder.Info);
    jpeg_mem_src(&decoder.Info, data, size);
    jpeg_read_header(&decoder.Info, TRUE);
    decoder.Info.out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(&decoder.Info);
    if (decoder.Info.output_width == 0 || decoder.Info.output_height == 0 ||
        decoder.Info.output_width > kMaxSide || decoder.Info.output_height > kMaxSide ||
        decoder.Info.output_components != 3)
        return false;
    jpeg_start_decompress(&decoder.Info);
    return true;
}

bool ReadRows(TJpegDecoder& decoder, unsigned char* bits, qsizetype bytesPerLine) {
    if (setjmp(decoder.Error.Jump)) return false;
    while (decoder.Info.output_scanline < decoder.Info.output_height) {
        JSAMPROW row = bits + decoder.Info.output_scanline * bytesPerLine;
        if (jpeg_read_scanlines(&decoder.Info, &row, 1) != 1) return false;
    }
    jpeg_finish_decompress(&decoder.Info);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) return {};
    TJpegDecoder decoder;
    std::memset(&decoder, 0, sizeof decoder);
    QImage image;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    if (StartDecoding(decoder, bytes, static_cast<unsigned long>(data.size()))) {
        image = QImage(static_cast<int>(decoder.Info.output_width),
                       static_cast<int>(decoder.Info.output_height), QImage::Format_RGB888);
        if (image.isNull() || !ReadRows(decoder, image.bits(), image.bytesPerLine())) image = QImage();
    }
    jpeg_destroy_decompress(&decoder.Info);
    return image;
}

} // namespace qorvel
