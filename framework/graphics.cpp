#include "framework/graphics.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QWidget>

#include "framework/resource_images.h"
#include "platform/kernel.h"

namespace fw {

TIcon::~TIcon() {
    if (handle_)
        win::DestroyIcon(handle_);
}

void TIcon::SetHandle(win::HICON handle) {
    if (handle == handle_)
        return;
    if (handle_)
        win::DestroyIcon(handle_);
    handle_ = handle;
    if (OnChange)
        OnChange(this);
}

void TIcon::Assign(const TIcon* Source) {
    SetHandle(Source && !Source->Empty() ? win::CopyIcon(Source->Handle()) : nullptr);
}

void TIcon::SetImage(const QIcon& image) {
    SetHandle(win::CreateIconFromImage(image));
}

bool TIcon::LoadFromResourceName(const char* name) {
    win::HICON handle = win::LoadIconA(win::GetModuleHandleA(nullptr), name);
    if (!handle)
        return false;
    SetHandle(handle);
    return true;
}

int TImageList::Add(const QIcon& image) {
    images_.push_back(image);
    return Count() - 1;
}

void TImageList::GetIcon(int Index, TIcon* Icon) const {
    if (!Icon)
        return;
    if (Index < 0 || Index >= Count())
        Icon->SetHandle(nullptr);
    else
        Icon->SetImage(images_[static_cast<size_t>(Index)]);
}

void TFont::SetName(const std::string& v) {
    name_ = v;
    Changed();
}
void TFont::SetHeight(int v) {
    height_ = v;
    Changed();
}
void TFont::SetColor(QColor v) {
    color_ = v;
    Changed();
}
void TFont::SetBold(bool v) {
    bold_ = v;
    Changed();
}
void TFont::Assign(const TFont& other) {
    name_ = other.name_;
    height_ = other.height_;
    color_ = other.color_;
    bold_ = other.bold_;
    Changed();
}

void TFont::Changed() {
    if (OnChange)
        OnChange(this);
}

QFont TFont::ToQFont() const {
    QFont f(QString::fromStdString(name_));
    // A negative height is the character height, a positive one the cell
    // height; pixels either way, so nothing scales with the desktop's DPI.
    f.setPixelSize(std::max(1, height_ < 0 ? -height_ : height_ * 4 / 5));
    f.setBold(bold_);
    return f;
}

void TBitmap::SetImage(const QImage& image) {
    image_ = image;
    if (OnChange)
        OnChange(this);
}

bool TBitmap::LoadFromResourceName(const std::string& name) {
    const QImage image = LoadBitmapResource(name);
    SetImage(image);
    return !image.isNull();
}

void TBitmap::Draw(QPainter& painter, QRect dest, const DrawOptions& o) const {
    if (image_.isNull() || dest.isEmpty())
        return;
    QImage img = image_.convertToFormat(QImage::Format_ARGB32);
    const QRgb key =
        o.transparentColor.isValid() ? o.transparentColor.rgb() : img.pixel(0, img.height() - 1);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            QRgb& px = line[x];
            if (qAlpha(px) == 0 || (o.transparent && (px & 0xFFFFFF) == (key & 0xFFFFFF))) {
                px = 0;
                continue;
            }
            if (o.recolor.isValid())
                px = o.recolor.rgb();
            if (o.greyed) {
                const int g = 128 + qGray(px) / 4;
                px = qRgba(g, g, g, 160);
            }
        }
    }
    painter.drawImage(dest, img);
}

namespace {

// Shows the cursor over the top-level window under the mouse.
class QtCursorSink : public win::CursorSink {
public:
    void Show(win::HCURSOR cursor) override {
        QWidget* w = QApplication::widgetAt(QCursor::pos());
        if (!w)
            return;
        w = w->window();
        Qt::CursorShape shape = Qt::ArrowCursor;
        switch (reinterpret_cast<std::uintptr_t>(cursor)) {
            case 32513:
                shape = Qt::IBeamCursor;
                break;
            case 32514:
                shape = Qt::WaitCursor;
                break;
            case 32515:
                shape = Qt::CrossCursor;
                break;
            case 32646:
                shape = Qt::SizeAllCursor;
                break;
            case 32648:
                shape = Qt::ForbiddenCursor;
                break;
            case 32649:
                shape = Qt::PointingHandCursor;
                break;
            default:
                break;
        }
        w->setCursor(shape);
    }
};

}  // namespace

win::HCURSOR CursorHandle(short cursor) {
    static QtCursorSink sink;
    static bool installed = false;
    if (!installed && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        win::SetCursorSink(&sink);
        installed = true;
    }
    win::LPCSTR id = win::IDC_ARROW;
    switch (cursor) {
        case crCross:
            id = win::IDC_CROSS;
            break;
        case crIBeam:
            id = win::IDC_IBEAM;
            break;
        case crHourGlass:
            id = win::IDC_WAIT;
            break;
        case crNo:
            id = win::IDC_NO;
            break;
        case crHandPoint:
            id = win::IDC_HAND;
            break;
        case crSizeAll:
            id = win::IDC_SIZEALL;
            break;
        default:
            break;
    }
    return win::LoadCursorA(nullptr, id);
}

}  // namespace fw
