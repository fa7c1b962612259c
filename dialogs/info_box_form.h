#pragma once
// TacInfoBoxForm: the window of an info box (see info_box.h), built as its
// stored layout would build it; TacInfoBox::Execute lays it out for the
// message and fills it in.
//
// Keys: Ctrl+C and Ctrl+Insert copy the message, without its markup, to the
// clipboard as plain text; Enter presses the default (first) button and
// Escape the button that the box's EscCancel rule names.
//
// Threads: main thread only.

#include <string>

#include "framework/check_box.h"
#include "framework/form.h"
#include "framework/image.h"
#include "framework/rich_label.h"
#include "framework/std_controls.h"

class TacInfoBox;

// A row of buttons centred along the bottom of its parent: the visible ones
// of OK, Cancel and the custom button, in that order, `Spacing` pixels apart,
// with `VerticalMargin` above and below them.
class TacButtonPanel : public fw::TControl {
public:
    explicit TacButtonPanel(fw::TComponent* AOwner);

    static constexpr int ButtonWidth = 75;
    static constexpr int ButtonHeight = 25;

    fw::TButton* OKButton;
    fw::TButton* CancelButton;
    fw::TButton* CustomButton;

    int Spacing() const { return spacing_; }
    void SetSpacing(int value);
    int VerticalMargin() const { return verticalMargin_; }
    void SetVerticalMargin(int value);
    // The height the panel needs: its margins and a button.
    int PanelHeight() const { return 2 * verticalMargin_ + ButtonHeight; }
    // Places the panel along the bottom of its parent (whose client size is
    // given) and its visible buttons centred in it.
    void PlaceAtBottom(int parentClientWidth, int parentClientHeight);
    void Arrange();

private:
    int spacing_ = 20;
    int verticalMargin_ = 7;
};

class TacInfoBoxForm : public fw::TForm {
public:
    explicit TacInfoBoxForm(fw::TComponent* AOwner);
    ~TacInfoBoxForm() override;

    fw::TImage* Icon;
    fw::TRichLabel* Text;
    fw::TImage* Picture;
    fw::TCheckBox* CheckBox;
    TacButtonPanel* btns;

    // The component that shows this window (set by Execute).
    TacInfoBox* InfoBox = nullptr;
    // Played once when the window shows (a registered sound alias; empty:
    // none).
    std::string SoundAlias;
    // Greys the system menu's Close when the window shows.
    bool DisableClose = false;

    // Puts the message, without markup, on the clipboard.
    void CopyText();

    // The item that the help component adds to the system menu, after a
    // separator at position 7.
    static constexpr const char* WhatsThisCaption = "&What's This?";
    static constexpr int WhatsThisPosition = 7;

protected:
    // WM_SYSCOMMAND: the help item starts What's This mode; Close does nothing
    // while the system menu's Close is greyed.
    void WndProc(fw::TMessage& Message) override;

private:
    void FormShow(fw::TObject* Sender);
    void AddWhatsThisItem();
    void CheckBoxClick(fw::TObject* Sender);
};
