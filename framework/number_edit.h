#pragma once
// TNumberEdit: a right-aligned single-line box for a whole number. It holds a
// floating-point Value and shows it with the mask "0": rounded to a whole
// number (halves away from zero), no decimal point, no thousands separator.
//
// - SetValue stores the value and rewrites the text with the mask.
// - Typing accepts only the digits 0 to 9 and Backspace; every other character
//   key is refused with a beep. Keys that type nothing (arrows, Delete, Home)
//   and the dialog keys (Enter, Escape, Tab) go on as usual.
// - Each change of the text, typed, pasted or set, that leaves a text other
//   than "" or "-" sets Value to the text read as a number once the locale's
//   thousands separators are removed. A text that cannot be read so restores
//   the previous value (and its text) and raises EConvertError
//   "'<text>' is not a valid floating point value", which the change's guard
//   hands to the application's error box.
// - Entering the box selects its last two characters; leaving it turns "" or
//   "-" into "0" and sets the value again from the text, which reformats it.
//
// Threads: main thread only.

#include <string>

#include "framework/controls.h"

class QLineEdit;

namespace fw {

class TNumberEdit : public TControl {
public:
    explicit TNumberEdit(TComponent* AOwner);
    ~TNumberEdit() override;
    QLineEdit* LineEdit() const;

    double Value() const { return value_; }
    void SetValue(double value);

    std::string Text() const;
    // Sets the text as if typed in one go: the change converts it.
    void SetText(const std::string& value);

    // Raised after each change of the text has been converted.
    TNotifyEvent OnChange;

    // The text the mask "0" gives a value.
    static std::string FormatValue(double value);
    // Reads a text as a number, thousands separators removed; EConvertError
    // when it is not a finite number.
    static double ReadValue(const std::string& text);

private:
    friend class NumberLineEdit;
    void TextChanged();
    void Entered();
    void Left();

    double value_ = 0;
};

}  // namespace fw
