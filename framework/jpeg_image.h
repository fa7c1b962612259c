#pragma once
// The JPEG decoder: libjpeg itself, whatever image plugins Qt has.
//
// Threads: any thread.

#include <QImage>
#include <cstddef>

namespace fw {

// Decodes a JPEG image (greyscale, RGB or CMYK); empty when the data is not
// a JPEG or is damaged beyond what libjpeg can show. A file cut short shows
// what it has.
QImage DecodeJpeg(const void* data, std::size_t size);

}  // namespace fw
