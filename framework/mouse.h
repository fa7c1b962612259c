#pragma once
// The mouse events' types: which button, and the shift state (keys and
// buttons held).

#include <functional>

#include "framework/component.h"
#include "framework/sets.h"

namespace fw {

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using enum TMouseButton;

enum class TShiftStateFlag { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using enum TShiftStateFlag;
using TShiftState = TSet<TShiftStateFlag>;

using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;

}  // namespace fw
