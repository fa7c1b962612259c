#pragma once
// TImage: a picture at an exact place. With AutoSize the control takes the
// picture's size whenever the picture changes; an empty picture shows
// nothing (and with AutoSize leaves the size as it was). Transparent pixels
// of the picture show the parent's background.
//
// Threads: main thread only.

#include <QImage>

#include "framework/controls.h"

namespace fw {

class TImage : public TControl {
public:
    explicit TImage(TComponent* AOwner);

    const QImage& Picture() const { return picture_; }
    void SetPicture(const QImage& value);

    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);

private:
    QImage picture_;
    bool autoSize_ = false;
};

}  // namespace fw
