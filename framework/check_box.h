#pragma once
// TCheckBox: a check box with a caption at an exact place.
//
// Threads: main thread only.

#include <string>

#include "framework/controls.h"

class QCheckBox;

namespace fw {

class TCheckBox : public TControl {
public:
    explicit TCheckBox(TComponent* AOwner);
    QCheckBox* CheckBox() const;

    void SetCaption(const std::string& value) override;

    bool Checked() const;
    // Raises no OnClick: only the user's toggles do.
    void SetChecked(bool value);
};

}  // namespace fw
