#pragma once
// TComboBox: a drop-down list without typing. Its text is the selected item,
// or the empty text while no item is selected (ItemIndex -1).
//
// Threads: main thread only.

#include <string>
#include <vector>

#include "framework/controls.h"

class QComboBox;

namespace fw {

class TComboBox : public TControl {
public:
    explicit TComboBox(TComponent* AOwner);
    QComboBox* ComboBox() const;

    // Replaces the items; none is selected afterwards.
    void SetItems(const std::vector<std::string>& items);
    int ItemCount() const;
    std::string Item(int index) const;

    // 0-based; -1 for none. A value outside the items selects none.
    int ItemIndex() const;
    void SetItemIndex(int value);
    // The index of the item equal to `text` without regard to (ASCII) case, or -1.
    int IndexOf(const std::string& text) const;

    std::string Text() const;

    // Raised when the user picks another item (not when set by the program).
    TNotifyEvent OnChange;
};

}  // namespace fw
