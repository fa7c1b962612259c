#include "framework/resource_images.h"

#include "framework/jpeg_image.h"
#include "platform/resource.h"

namespace fw {
namespace {

QByteArray ResourceBytes(const std::string& name, win::LPCSTR type) {
    win::HRSRC res = win::FindResourceA(nullptr, name.c_str(), type);
    if (!res)
        return {};
    const char* data = win::LockResource(win::LoadResource(nullptr, res));
    return QByteArray(data, static_cast<qsizetype>(win::SizeofResource(nullptr, res)));
}

QImage DecodeResource(const std::string& name, win::LPCSTR type) {
    const QByteArray bytes = ResourceBytes(name, type);
    return bytes.isEmpty() ? QImage() : QImage::fromData(bytes);
}

}  // namespace

QImage LoadIconResource(const std::string& name) {
    return DecodeResource(name, win::RT_ICON());
}

QImage LoadBitmapResource(const std::string& name) {
    return DecodeResource(name, win::RT_BITMAP());
}

QImage LoadJpegResource(const std::string& name) {
    const QByteArray bytes = ResourceBytes(name, "JPG");
    return DecodeJpeg(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace fw
