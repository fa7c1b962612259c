#include "shell/ac_component.h"

#include "framework/form.h"
#include "platform/window_pos.h"

TacComponent::TacComponent(fw::TComponent* AOwner) : TComponent(AOwner), ownerReference_(AOwner) {}

void TacComponent::SetOwnerReference(fw::TComponent* Value) {
    if (ownerReference_ && ownerReference_ != Owner())
        RemoveFreeNotification(ownerReference_);
    ownerReference_ = Value;
    // An owner reference that is not our owner may die first.
    if (ownerReference_ && ownerReference_ != Owner())
        FreeNotification(ownerReference_);
}

fw::TForm* TacComponent::OwnerForm() const {
    return dynamic_cast<fw::TForm*>(ownerReference_);
}

void TacComponent::RestoreOwnerForm() {
    fw::TForm* form = OwnerForm();
    if (!form)
        return;
    const win::HWND wnd = form->Handle();
    win::ShowWindow(wnd, win::SW_RESTORE);
    win::SetForegroundWindow(wnd);
}

void TacComponent::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == fw::opRemove && AComponent == ownerReference_)
        ownerReference_ = nullptr;
}

win::HKEY RegLocationRoot(TacRegLocation location) {
    return location == rlLocalMachine ? win::HKEY_LOCAL_MACHINE : win::HKEY_CURRENT_USER;
}
