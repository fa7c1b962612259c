#include "framework/jpeg_image.h"

#include <csetjmp>
#include <memory>

// libjpeg's header needs size_t and FILE declared before it.
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

namespace fw {
namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back to the decoder. Everything the decoder touches after setjmp
// lives in this heap object, so the jump leaves nothing undefined behind.
struct JpegState {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    std::jmp_buf jump{};
    QImage image;
};

void JpegErrorExit(j_common_ptr info) {
    auto* state = reinterpret_cast<JpegState*>(info->client_data);
    std::longjmp(state->jump, 1);
}

// Damaged data gives warnings; what can be shown is shown, as the end of a
// cut file is.
void JpegOutputMessage(j_common_ptr) {}

}  // namespace

QImage DecodeJpeg(const void* data, std::size_t size) {
    if (!data || size == 0)
        return {};
    auto state = std::make_unique<JpegState>();
    state->info.err = jpeg_std_error(&state->error);
    state->error.error_exit = JpegErrorExit;
    state->error.output_message = JpegOutputMessage;
    state->info.client_data = state.get();
    jpeg_create_decompress(&state->info);
    if (setjmp(state->jump)) {
        jpeg_destroy_decompress(&state->info);
        return {};
    }
    jpeg_mem_src(&state->info, static_cast<const unsigned char*>(data),
                 static_cast<unsigned long>(size));
    jpeg_read_header(&state->info, TRUE);
    // CMYK stays CMYK (libjpeg does not convert it); everything else as RGB.
    if (state->info.jpeg_color_space == JCS_CMYK || state->info.jpeg_color_space == JCS_YCCK)
        state->info.out_color_space = JCS_CMYK;
    else
        state->info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&state->info);
    const int width = static_cast<int>(state->info.output_width);
    const int height = static_cast<int>(state->info.output_height);
    const bool cmyk = state->info.out_color_space == JCS_CMYK;
    state->image = QImage(width, height, cmyk ? QImage::Format_ARGB32 : QImage::Format_RGB888);
    if (state->image.isNull()) {
        jpeg_destroy_decompress(&state->info);
        return {};
    }
    while (state->info.output_scanline < state->info.output_height) {
        JSAMPROW row = state->image.scanLine(static_cast<int>(state->info.output_scanline));
        jpeg_read_scanlines(&state->info, &row, 1);
    }
    if (cmyk) {
        // Adobe's CMYK JPEGs store inverted values: each channel is already
        // "how much light", so RGB = channel * K / 255.
        for (int y = 0; y < height; ++y) {
            auto* px = reinterpret_cast<QRgb*>(state->image.scanLine(y));
            const uchar* src = state->image.constScanLine(y);
            for (int x = 0; x < width; ++x) {
                const uchar* p = src + 4 * x;
                const int k = p[3];
                px[x] = qRgb(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
            }
        }
    }
    jpeg_finish_decompress(&state->info);
    jpeg_destroy_decompress(&state->info);
    return std::move(state->image);
}

}  // namespace fw
