#pragma once
// The component model: TObject, the root of the framework's classes, and
// TComponent, an object that may own other components, has a name and a
// state, and tells interested components when it goes away.
//
// Ownership. A component created with an owner is inserted into the owner's
// list and is freed by the owner, in reverse order of creation, when the owner
// is freed. Deleting an owned component yourself is allowed: it leaves its
// owner's list first. Every component in the owner's list, the owner itself and
// every component that asked for a removal notice (FreeNotification) receive
// Notification(component, opRemove) before the component is gone.
//
// Destruction. A class that owns components and has state they may touch while
// they die (a form with its window) calls Destroying() and DestroyComponents()
// first thing in its destructor, so the owned components die while the owner is
// still whole. ~TComponent does the same for classes that need nothing more.
//
// Loading. A component created while its owner is loading (see TForm) starts
// with csLoading set; the owner's loading root calls Loaded() on each such
// component in creation order once all of them exist, and Loaded() clears
// csLoading. csDesigning is never set at run time.
//
// Threads: components belong to the main thread; none of this is locked.

#include <functional>
#include <string>
#include <vector>

#include "framework/sets.h"

namespace fw {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// An event handler bound to its object; the sender comes first.
using TNotifyEvent = std::function<void(TObject* Sender)>;

enum class TOperation { opInsert, opRemove };
using enum TOperation;

enum class TComponentStateFlag { csLoading, csReading, csWriting, csDestroying, csDesigning };
using enum TComponentStateFlag;
using TComponentState = TSet<TComponentStateFlag>;

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }

    const std::string& Name() const { return name_; }
    // Names are unique among the components of one owner (compared without
    // regard to ASCII case); an empty name is always allowed. A clash throws
    // EComponentError.
    void SetName(const std::string& name);

    TComponentState ComponentState() const { return state_; }
    bool IsLoading() const { return state_.Contains(csLoading); }
    bool IsDestroying() const { return state_.Contains(csDestroying); }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
    TComponent* FindComponent(const std::string& name) const;

    // Asks for Notification(this_component, opRemove) on `AComponent` when
    // this component goes away, and the other way round: the link is mutual,
    // as both sides must forget each other whichever dies first.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    // Moves ownership. The component leaves its present owner's list.
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);

    // Sets csDestroying here and on every owned component, recursively.
    void Destroying();
    // Frees the owned components, the newest first; each is announced
    // (opRemove) to this component and its remaining components first.
    void DestroyComponents();

    // The end-of-loading step. Overrides call the inherited Loaded() first.
    virtual void Loaded();

    // True when `AComponent` is this component or owned by it at any depth.
    bool Owns(const TComponent* AComponent) const;

protected:
    // Called on the owner and its components for every insert and removal in
    // the owner's list, and on components that asked for a removal notice.
    // Overrides clear their references to `AComponent` on opRemove and call the
    // inherited Notification.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

    // Starts loading this component and the components that will be created
    // with it as owner; EndLoadingComponents() runs their Loaded() steps.
    void BeginLoadingComponents();
    void EndLoadingComponents();

private:
    void Insert(TComponent* AComponent);
    void Remove(TComponent* AComponent);
    void NotifyRemoval();
    void LeaveLoadingRoot();

    TComponent* owner_ = nullptr;
    std::string name_;
    TComponentState state_;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    // Set on the component whose loading is under way: every component
    // created (at any depth) below it while it loads, in creation order.
    std::vector<TComponent*>* loading_ = nullptr;
};

}  // namespace fw
