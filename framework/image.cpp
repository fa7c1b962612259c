#include "framework/image.h"

#include <QPainter>
#include <QWidget>

namespace fw {
namespace {

class ImageWidget : public QWidget {
public:
    explicit ImageWidget(const QImage* picture) : picture_(picture) {}

protected:
    void paintEvent(QPaintEvent*) override {
        if (picture_->isNull())
            return;
        QPainter painter(this);
        painter.drawImage(0, 0, *picture_);
    }

private:
    const QImage* picture_;
};

}  // namespace

TImage::TImage(TComponent* AOwner) : TControl(AOwner, new ImageWidget(&picture_)) {}

void TImage::SetPicture(const QImage& value) {
    picture_ = value;
    if (autoSize_ && !picture_.isNull())
        SetBounds(Left(), Top(), picture_.width(), picture_.height());
    Widget()->update();
}

void TImage::SetAutoSize(bool value) {
    autoSize_ = value;
    if (autoSize_ && !picture_.isNull())
        SetBounds(Left(), Top(), picture_.width(), picture_.height());
}

}  // namespace fw
