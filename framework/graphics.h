#pragma once
// Pictures, fonts and cursors of the components that draw for themselves.
//
// TIcon: one icon (an owned platform icon handle). TImageList: a list of
// images of one size from which icons are taken by index.
// TFont: name, height in pixels (negative: character height, as the stored
// layouts give it), colour and style; OnChange runs after every change.
// TBitmap: a picture, empty until loaded; LoadFromResourceName finds the
// program's bitmap resources (type BITMAP) by name. Drawing it can make one
// colour transparent (by default the colour of its bottom-left pixel, as
// bitmaps with a plain background are drawn), recolour every other pixel, or
// grey it out.
//
// Threads: main thread only.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <string>
#include <vector>

#include "framework/component.h"
#include "platform/capture.h"
#include "platform/icon.h"

class QPainter;

namespace fw {

class TIcon : public TObject {
public:
    TIcon() = default;
    ~TIcon() override;

    bool Empty() const { return handle_ == nullptr; }
    // The owned handle (nullptr when empty); it stays valid until the icon
    // changes or dies.
    win::HICON Handle() const { return handle_; }
    // Takes ownership of `handle` (nullptr empties the icon).
    void SetHandle(win::HICON handle);
    // Copies the other icon's image.
    void Assign(const TIcon* Source);
    void SetImage(const QIcon& image);
    // Loads an icon resource of the program (see win::LoadIconA); the icon
    // stays as it was when there is none.
    bool LoadFromResourceName(const char* name);

    TNotifyEvent OnChange;

private:
    win::HICON handle_ = nullptr;
};

class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* AOwner) : TComponent(AOwner) {}

    int Count() const { return static_cast<int>(images_.size()); }
    // Appends an image; returns its index.
    int Add(const QIcon& image);
    void Clear() { images_.clear(); }
    // Puts image `Index` into `Icon`; an index out of range empties it.
    void GetIcon(int Index, TIcon* Icon) const;

private:
    std::vector<QIcon> images_;
};

class TFont : public TObject {
public:
    const std::string& Name() const { return name_; }
    void SetName(const std::string& v);
    int Height() const { return height_; }
    void SetHeight(int v);
    QColor Color() const { return color_; }
    void SetColor(QColor v);
    bool Bold() const { return bold_; }
    void SetBold(bool v);
    void Assign(const TFont& other);

    QFont ToQFont() const;
    TNotifyEvent OnChange;

private:
    void Changed();
    std::string name_ = "MS Sans Serif";
    int height_ = -11;
    QColor color_ = Qt::black;
    bool bold_ = false;
};

class TBitmap : public TObject {
public:
    bool Empty() const { return image_.isNull(); }
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    const QImage& Image() const { return image_; }
    void SetImage(const QImage& image);
    // False (and empty) when there is no such resource.
    bool LoadFromResourceName(const std::string& name);
    void Assign(const TBitmap& other) { SetImage(other.image_); }
    void Clear() { SetImage(QImage()); }

    struct DrawOptions {
        bool transparent = true;
        // Transparent colour; invalid: the bottom-left pixel's.
        QColor transparentColor;
        // Valid: every opaque pixel is drawn in this colour.
        QColor recolor;
        bool greyed = false;
    };
    // Draws the bitmap stretched into `dest`.
    void Draw(QPainter& painter, QRect dest, const DrawOptions& options) const;

    TNotifyEvent OnChange;

private:
    QImage image_;
};

// Cursor ids as the stored layouts give them (0 default, -2 arrow, -3 cross,
// -4 I-beam, -11 hourglass, -12 no, -21 hand point, -22 size all); the handle
// of the standard cursor, shown over the window under the mouse.
constexpr short crDefault = 0;
constexpr short crArrow = -2;
constexpr short crCross = -3;
constexpr short crIBeam = -4;
constexpr short crHourGlass = -11;
constexpr short crNo = -12;
constexpr short crHandPoint = -21;
constexpr short crSizeAll = -22;
win::HCURSOR CursorHandle(short cursor);

}  // namespace fw
