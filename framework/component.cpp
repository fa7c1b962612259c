#include "framework/component.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "framework/exceptions.h"

namespace fw {
namespace {

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

TComponent::TComponent(TComponent* AOwner) {
    if (!AOwner)
        return;
    if (AOwner->IsLoading()) {
        state_.Include(csLoading);
        for (TComponent* c = AOwner; c; c = c->owner_) {
            if (c->loading_) {
                c->loading_->push_back(this);
                break;
            }
        }
    }
    AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    LeaveLoadingRoot();
    Destroying();
    NotifyRemoval();
    DestroyComponents();
    if (owner_)
        owner_->RemoveComponent(this);
    delete loading_;
}

void TComponent::SetName(const std::string& name) {
    if (name == name_)
        return;
    if (!name.empty() && owner_) {
        for (TComponent* c : owner_->components_)
            if (c != this && SameText(c->name_, name))
                throw EComponentError("A component named " + name + " already exists");
    }
    name_ = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty())
        return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->name_, name))
            return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (!AComponent || AComponent == this)
        return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), AComponent) == freeNotifies_.end())
        freeNotifies_.push_back(AComponent);
    auto& theirs = AComponent->freeNotifies_;
    if (std::find(theirs.begin(), theirs.end(), this) == theirs.end())
        theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (!AComponent)
        return;
    std::erase(freeNotifies_, AComponent);
    std::erase(AComponent->freeNotifies_, this);
}

void TComponent::InsertComponent(TComponent* AComponent) {
    if (!AComponent || AComponent->owner_ == this)
        return;
    if (!AComponent->name_.empty() && FindComponent(AComponent->name_))
        throw EComponentError("A component named " + AComponent->name_ + " already exists");
    if (AComponent->owner_)
        AComponent->owner_->RemoveComponent(AComponent);
    Insert(AComponent);
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    if (!AComponent || AComponent->owner_ != this)
        return;
    Notification(AComponent, opRemove);
    Remove(AComponent);
}

void TComponent::Insert(TComponent* AComponent) {
    components_.push_back(AComponent);
    AComponent->owner_ = this;
}

void TComponent::Remove(TComponent* AComponent) {
    std::erase(components_, AComponent);
    AComponent->owner_ = nullptr;
}

void TComponent::Destroying() {
    if (state_.Contains(csDestroying))
        return;
    state_.Include(csDestroying);
    for (TComponent* c : components_)
        c->Destroying();
}

void TComponent::DestroyComponents() {
    while (!components_.empty()) {
        TComponent* last = components_.back();
        last->LeaveLoadingRoot();  // while its owner chain still leads there
        RemoveComponent(last);
        delete last;
    }
}

void TComponent::NotifyRemoval() {
    while (!freeNotifies_.empty()) {
        TComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        std::erase(other->freeNotifies_, this);
        other->Notification(this, opRemove);
    }
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent)
        RemoveFreeNotification(AComponent);
    // Every component of an owner hears of its siblings coming and going; the
    // list may shrink meanwhile, so walk it by index.
    for (size_t i = components_.size(); i-- > 0;) {
        if (i >= components_.size())
            continue;
        components_[i]->Notification(AComponent, Operation);
    }
}

void TComponent::Loaded() {
    state_.Exclude(csLoading);
}

bool TComponent::Owns(const TComponent* AComponent) const {
    for (const TComponent* c = AComponent; c; c = c->owner_)
        if (c == this)
            return true;
    return false;
}

void TComponent::BeginLoadingComponents() {
    state_.Include(csLoading);
    if (!loading_)
        loading_ = new std::vector<TComponent*>{this};
}

void TComponent::EndLoadingComponents() {
    if (!loading_)
        return;
    // Components created during a Loaded() step join the end of the list.
    for (size_t i = 0; i < loading_->size(); ++i) {
        TComponent* c = (*loading_)[i];
        if (!c)
            continue;
        c->Loaded();
        c->state_.Exclude(csLoading);
    }
    delete loading_;
    loading_ = nullptr;
}

void TComponent::LeaveLoadingRoot() {
    if (!state_.Contains(csLoading))
        return;
    for (TComponent* c = owner_; c; c = c->owner_) {
        if (c->loading_) {
            // This component and everything it owns go; entries are cleared
            // rather than erased, as the list may be walked right now.
            for (TComponent*& entry : *c->loading_)
                if (entry && Owns(entry))
                    entry = nullptr;
            return;
        }
    }
}

}  // namespace fw
