#include "dialogs/info_box.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <array>
#include <cctype>

#include "dialogs/info_box_form.h"
#include "framework/application.h"
#include "framework/resource_images.h"
#include "framework/skin.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

bool showing = false;
TacInfoBoxForm* openForm = nullptr;

constexpr std::array<const char*, 18> kSoundAliases{
    nullptr,       "SystemAsterisk",    "Close",          "SystemHand",
    ".Default",    "SystemExclamation", "SystemExit",     "Maximize",
    "MenuCommand", "MenuPopup",         "Minimize",       "MailBeep",
    "Open",        "AppGPFault",        "SystemQuestion", "RestoreDown",
    "RestoreUp",   "SystemStart"};

QImage BuiltInIcon() {
    // On a screen of 256 colours or fewer our artwork would look poor; the
    // system's own information icon is drawn for such screens.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && screen->depth() <= 8)
        return QApplication::style()
            ->standardIcon(QStyle::SP_MessageBoxInformation)
            .pixmap(32, 32)
            .toImage();
    return QImage(":/dialogs/info_box.xpm");
}

}  // namespace

const char* SystemSoundAlias(TacSystemSoundType sound) {
    return kSoundAliases.at(static_cast<size_t>(sound));
}

bool InfoBoxShowing() {
    return showing;
}
TacInfoBoxForm* InfoBoxForm() {
    return openForm;
}

TacInfoBox::TacInfoBox(fw::TComponent* AOwner)
    : TacComponent(AOwner), FFont(fw::skin::ControlFont()) {}

TacInfoBox::~TacInfoBox() {
    if (openForm && openForm->InfoBox == this)
        openForm->InfoBox = nullptr;
}

void TacInfoBox::SetRegKey(const std::string& value) {
    FRegKey = value;
    if (!FRegKey.empty() && FRegKey.back() == '\\')
        FRegKey.pop_back();
}

// --- Remembered state ----------------------------------------------------

namespace {

bool Ok(win::LONG rc) {
    return rc == static_cast<win::LONG>(win::ERROR_SUCCESS);
}

}  // namespace

bool TacInfoBox::DontShowAgain() const {
    if (ComponentState().Contains(fw::csDesigning))
        return false;
    win::HKEY key = nullptr;
    if (!Ok(win::RegOpenKeyExA(RegLocationRoot(FRegLocation), FRegKey.c_str(), 0, win::KEY_READ,
                               &key)))
        return false;
    win::DWORD value = 0;
    win::DWORD type = 0;
    win::DWORD size = sizeof(value);
    const win::LONG rc = win::RegQueryValueExA(key, FRegValue.c_str(), nullptr, &type,
                                               reinterpret_cast<win::BYTE*>(&value), &size);
    win::RegCloseKey(key);
    return Ok(rc) && type == win::REG_DWORD && size == sizeof(value) && value != 0;
}

void TacInfoBox::SetDontShowAgain(bool value) {
    if (ComponentState().Contains(fw::csDesigning))
        return;
    if (value == DontShowAgain())
        return;
    win::HKEY key = nullptr;
    if (!Ok(win::RegCreateKeyExA(RegLocationRoot(FRegLocation), FRegKey.c_str(), 0, nullptr,
                                 win::REG_OPTION_NON_VOLATILE, win::KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr)))
        return;  // left undone, as a failed registry write always is here
    const win::DWORD data = value ? 1 : 0;
    win::RegSetValueExA(key, FRegValue.c_str(), 0, win::REG_DWORD,
                        reinterpret_cast<const win::BYTE*>(&data), sizeof(data));
    win::RegCloseKey(key);
}

void TacInfoBox::CheckBoxClick(bool checked) {
    if (IsLoading())
        return;
    SetDontShowAgain(checked);
    if (OnCheckBoxChecked)
        OnCheckBoxChecked(this, DontShowAgain());
}

// --- Execute -------------------------------------------------------------

void TacInfoBox::Layout(TacInfoBoxForm& form) {
    // Icon.
    QImage icon = FIcon.isNull() ? BuiltInIcon() : FIcon;
    form.Icon->SetPicture(icon);

    form.SetCaption(!FTitle.empty() ? FTitle : Application ? Application->Title() : std::string());

    // Message: its natural width, but room for the check box's caption.
    fw::TRichLabel& text = *form.Text;
    text.SetLeft(form.Icon->Left() * 2 + form.Icon->Width());
    text.SetTextStyle(FTextStyle);
    text.SetCaption(FText);
    int width = text.NaturalWidth();
    if (FShowCheckBox && width < 210)
        width = 210;
    text.SetWidth(width);

    form.SetClientWidth(text.Width() + form.Icon->Width() + form.Icon->Left() * 3);

    fw::TCheckBox& check = *form.CheckBox;
    if (FShowCheckBox) {
        check.SetVisible(true);
        check.SetCaption(FCheckBoxCaption);
        check.SetLeft(text.Left());
        check.SetWidth(form.ClientWidth() - check.Left() - 30);
        check.SetChecked(DontShowAgain());
    } else {
        check.SetVisible(false);
        check.SetBounds(check.Left(), check.Top(), 0, 0);
    }

    if (!FIconResID.empty()) {
        const std::string name = win::IsAllDigits(FIconResID) ? "#" + FIconResID : FIconResID;
        QImage image = fw::LoadIconResource(name);
        if (image.isNull())
            image = fw::LoadBitmapResource(name);
        if (!image.isNull())
            form.Icon->SetPicture(image);
        else
            form.Picture->SetPicture(fw::LoadJpegResource(name));
    }

    fw::TImage& picture = *form.Picture;
    const int panel = form.btns->PanelHeight();
    if (FPictureResID != 0 || !FPicture.isNull()) {
        if (!FPicture.isNull()) {
            picture.SetPicture(FPicture);
        } else {
            const std::string name = "#" + std::to_string(FPictureResID);
            QImage image = fw::LoadBitmapResource(name);
            if (image.isNull())
                image = fw::LoadJpegResource(name);
            if (!image.isNull())
                picture.SetPicture(image);
        }
        picture.SetLeft(form.Width() / 2 - picture.Width() / 2);
        picture.SetTop(text.Top() + text.Height() + 15);
        picture.SetVisible(true);
        check.SetTop(picture.Top() + picture.Height() + 15);
    } else {
        check.SetTop(15 + std::max(text.Top() + text.Height(),
                                   form.Icon->Top() + form.Icon->Height() - panel));
    }

    form.SetClientHeight(FShowCheckBox ? panel + check.Top() + check.Height() + 4
                                       : panel + check.Top());

    TacButtonPanel& b = *form.btns;
    switch (FInfoBoxButtons) {
        case ibOK:
            b.OKButton->SetCaption(FButtonCaptions.OK);
            b.CancelButton->SetVisible(false);
            if (FEscCancel)
                b.OKButton->SetCancel(true);
            break;
        case ibOKCancel:
        case ibYesNo:
        case ibRetryAbort: {
            const bool yesNo = FInfoBoxButtons == ibYesNo;
            const bool retry = FInfoBoxButtons == ibRetryAbort;
            b.OKButton->SetCaption(yesNo   ? FButtonCaptions.Yes
                                   : retry ? FButtonCaptions.Retry
                                           : FButtonCaptions.OK);
            b.OKButton->SetModalResult(yesNo ? fw::mrYes : retry ? fw::mrRetry : fw::mrOk);
            b.CancelButton->SetCaption(yesNo   ? FButtonCaptions.No
                                       : retry ? FButtonCaptions.Abort
                                               : FButtonCaptions.Cancel);
            b.CancelButton->SetModalResult(yesNo ? fw::mrNo : retry ? fw::mrAbort : fw::mrCancel);
            if (FEscCancel)
                b.CancelButton->SetCancel(true);
            b.SetSpacing(20);
            break;
        }
        case ibYesNoCancel:
            b.OKButton->SetCaption(FButtonCaptions.Yes);
            b.OKButton->SetModalResult(fw::mrYes);
            b.CancelButton->SetCaption(FButtonCaptions.No);
            b.CancelButton->SetModalResult(fw::mrNo);
            b.CustomButton->SetCaption(FButtonCaptions.Cancel);
            b.CustomButton->SetModalResult(fw::mrCancel);
            b.CustomButton->SetVisible(true);
            if (FEscCancel)
                b.CustomButton->SetCancel(true);
            b.SetSpacing(10);
            break;
    }
    b.PlaceAtBottom(form.ClientWidth(), form.ClientHeight());
}

fw::TModalResult TacInfoBox::Execute(bool CheckState) {
    if (CheckState && (showing || DontShowAgain()))
        return fw::mrNone;
    // A box opened unchecked inside another (the upgrader's question during
    // About) gives the outer one its state back when it closes: the outer box
    // is still open.
    struct Cleanup {
        TacInfoBox* box;
        TacInfoBoxForm* form = nullptr;
        bool wasShowing = showing;
        TacInfoBoxForm* outer = openForm;
        ~Cleanup() {
            box->FHandle = 0;
            showing = wasShowing;
            if (openForm == form)
                openForm = outer;
            delete form;
        }
    } cleanup{this};
    showing = true;
    TacInfoBoxForm*& form = cleanup.form;
    // A box inside another belongs to the open one: two forms of one name
    // cannot share an owner.
    form = fw::TForm::Create<TacInfoBoxForm>(cleanup.outer
                                                 ? static_cast<fw::TComponent*>(cleanup.outer)
                                                 : static_cast<fw::TComponent*>(Application));
    openForm = form;
    form->InfoBox = this;
    FHandle = form->Handle();
    form->Widget()->setFont(FFont);
    Layout(*form);
    form->SetPosition(FPosition);
    form->SoundAlias = SystemSoundAlias(FSound) ? SystemSoundAlias(FSound) : "";
    form->DisableClose = !FEscCancel;
    return form->ShowModal();
}
