#include "framework/graphics.h"

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

}  // namespace fw
