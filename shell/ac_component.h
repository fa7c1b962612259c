#pragma once
// TacComponent: the base of the shell and upgrade components. It keeps a
// reference to its owner (which may change after creation) and can bring the
// owner form back to the front.
//
// Threads: main thread only.

#include "framework/component.h"
#include "platform/registry.h"

namespace fw {
class TForm;
}

// Where a component keeps its registry values: under the user's root or the
// machine's.
enum class TacRegLocation { rlCurrentUser, rlLocalMachine };
using enum TacRegLocation;

// HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE.
win::HKEY RegLocationRoot(TacRegLocation location);

class TacComponent : public fw::TComponent {
public:
    explicit TacComponent(fw::TComponent* AOwner);

    fw::TComponent* OwnerReference() const { return ownerReference_; }
    // Stores the new owner reference; form-hook components move their hook.
    virtual void SetOwnerReference(fw::TComponent* Value);
    // The owner reference when it is a form, else nullptr.
    virtual fw::TForm* OwnerForm() const;
    // Same as SetOwnerReference; kept for descendants that change the owner
    // through a property.
    virtual void SetOwnerReferenceForward(fw::TComponent* Value) { SetOwnerReference(Value); }

    // Shows the owner form's window restored (SW_RESTORE) and brings it to the
    // front; does nothing without an owner form.
    void RestoreOwnerForm();

protected:
    void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;

private:
    fw::TComponent* ownerReference_ = nullptr;
};
