#pragma once
// TGroupBox: a framed box that holds other controls; children placed in it use
// coordinates within the box.
//
// Threads: main thread only.

#include <string>

#include "framework/controls.h"

class QGroupBox;

namespace fw {

class TGroupBox : public TControl {
public:
    explicit TGroupBox(TComponent* AOwner);
    QGroupBox* GroupBox() const;
    // The title on the frame (may be empty).
    void SetCaption(const std::string& value) override;
};

}  // namespace fw
