#pragma once
// Pictures the components keep: TIcon, one icon (an owned platform icon
// handle), and TImageList, a list of images of one size from which icons are
// taken by index.
//
// Threads: main thread only.

#include <QIcon>
#include <vector>

#include "framework/component.h"
#include "platform/icon.h"

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

}  // namespace fw
