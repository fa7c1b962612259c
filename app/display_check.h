#pragma once
// Whether the program has a display to show its window on, checked before the
// GUI toolkit starts (which would otherwise abort with a terse message).

#include <string>

namespace quilvane {

// Empty when a display is reachable or the platform chosen through
// QT_QPA_PLATFORM needs none; otherwise one line saying what is missing.
std::string MissingDisplay();

}  // namespace quilvane
