#pragma once
// Standard controls placed at exact pixel positions: buttons, labels and
// single-line edits. Captions use `&` for the accelerator (`&&` for an
// ampersand). Handlers run guarded: an exception goes to the error box.
//
// Threads: main thread only.

#include <QPixmap>
#include <string>

#include "framework/controls.h"
#include "framework/form.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace fw {

class TButton : public TControl {
public:
    explicit TButton(TComponent* AOwner);

    QPushButton* Button() const;

    void SetCaption(const std::string& value) override;

    // The form's default button: Enter presses it unless another button has
    // the focus. The button must have its form as parent (or ancestor).
    bool Default() const { return default_; }
    void SetDefault(bool value);

    // The form's cancel button: Escape presses it.
    bool Cancel() const { return cancel_; }
    void SetCancel(bool value);

    // Given to the parent form's ModalResult on each click, before OnClick.
    TModalResult ModalResult() const { return modalResult_; }
    void SetModalResult(TModalResult value) { modalResult_ = value; }
    void Click() override;

    // A picture beside the caption (empty: none).
    void SetGlyph(const QPixmap& glyph);

protected:
    void ParentChanged() override;

private:
    bool default_ = false;
    bool cancel_ = false;
    TModalResult modalResult_ = 0;
};

class TLabel : public TControl {
public:
    explicit TLabel(TComponent* AOwner);
    QLabel* Label() const;
    void SetCaption(const std::string& value) override;
    // The control that the label's accelerator focuses.
    void SetFocusControl(TControl* control);

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void Update();
    TControl* focusControl_ = nullptr;
};

class TEdit : public TControl {
public:
    explicit TEdit(TComponent* AOwner);
    QLineEdit* LineEdit() const;

    std::string Text() const;
    void SetText(const std::string& value);
    // At most this many characters (0: no limit); a character outside the
    // Basic Multilingual Plane counts as two here.
    void SetMaxLength(int value);
    // Shown in place of each character (0: the text itself).
    void SetPasswordChar(char value);
    void SetReadOnly(bool value);

    // Raised on every change of the text, typed or set.
    TNotifyEvent OnChange;
};

}  // namespace fw
