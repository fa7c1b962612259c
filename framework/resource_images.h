#pragma once
// Pictures from the program's resources.
//
// A resource is named as FindResourceA names it: a name, compared without
// regard to case, or "#<number>". A resource that is missing or cannot be
// decoded gives an empty image; nothing is reported.
//
// Threads: any thread (QImage only).

#include <QImage>
#include <string>

namespace fw {

// The icon resource `name` (type ICON).
QImage LoadIconResource(const std::string& name);
// The bitmap resource `name` (type BITMAP).
QImage LoadBitmapResource(const std::string& name);
// The resource `name` of type "JPG", decoded as JPEG.
QImage LoadJpegResource(const std::string& name);

}  // namespace fw
