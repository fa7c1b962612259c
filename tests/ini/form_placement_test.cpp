// The INI store as a component of a real form: placement restored and saved
// through the form's window procedure, the derived file names, and the
// settings a later store borrows from the main form's first store.

#include <QWidget>
#include <cstdlib>

#include "framework/application.h"
#include "framework/form.h"
#include "ini/ini_store.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "tests/ini/ini_fixture.h"

namespace {

using namespace std::string_literals;

class TPlaceForm : public fw::TForm {
public:
    explicit TPlaceForm(fw::TComponent* AOwner, TFormSaveFormat formSave = fsfBoth,
                        const std::string& fileName = "", TFormSavePlace autoSet = fspNone)
        : TForm(AOwner) {
        SetBounds(10, 20, 330, 250);
        zIni1 = new TzIni(this);
        zIni1->SetFormSave(formSave);
        zIni1->SetFileNameAutoSet(autoSet);
        zIni1->SetFileName(fileName);
    }
    TzIni* zIni1;
};

class FormPlacement : public TempFolder {
protected:
    fw::TApplication App;
};

TEST_F(FormPlacement, StoredPlacementIsRestoredAsFormSaveSays) {
    const struct {
        TFormSaveFormat formSave;
        int left, top, width, height;
    } cases[] = {
        {fsfBoth, 100, 200, 300, 400},
        {fsfPosition, 100, 200, 330, 250},
        {fsfSize, 10, 20, 300, 400},
        {fsfNone, 10, 20, 330, 250},
    };
    Put(Path, "Other=1\r\ntplaceform=0100020003000400\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.formSave);
        auto* form = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, c.formSave, Path);
        EXPECT_EQ(form->Left(), c.left);
        EXPECT_EQ(form->Top(), c.top);
        EXPECT_EQ(form->Width(), c.width);
        EXPECT_EQ(form->Height(), c.height);
        form->zIni1->SetFormSave(fsfNone);  // nothing saved when it goes
        delete form;
    }
}

TEST_F(FormPlacement, PlacementOfOtherLengthIsIgnoredAndNegativeDigitsReadAsZero) {
    for (const std::string& value : {"010002000300040"s, "01000200030004000"s, ""s}) {
        Put(Path, "TPlaceForm=" + value + "\r\n");
        auto* form = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfBoth, Path);
        EXPECT_EQ(form->Left(), 10) << value;
        EXPECT_EQ(form->Width(), 330) << value;
        form->zIni1->SetFormSave(fsfNone);
        delete form;
    }
    Put(Path, "TPlaceForm=00-8002003000400\r\n");
    auto* form = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfBoth, Path);
    EXPECT_EQ(form->Left(), 0);
    EXPECT_EQ(form->Top(), 20);
    form->zIni1->SetFormSave(fsfNone);
    delete form;
}

TEST_F(FormPlacement, FreeingTheFormSavesAllFourNumbersWhateverFormSaveRestores) {
    Put(Path, "First=1\r\n");
    auto* form = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfSize, Path);
    form->SetBounds(-8, 7, 640, 480);
    delete form;
    EXPECT_EQ(Take(Path), "First=1\r\nTPlaceForm=00-8000706400480\r\n");

    // With EncryptValues the placement is enciphered like every value.
    auto* again = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfBoth, Path);
    EXPECT_EQ(again->Left(), 0);
    EXPECT_EQ(again->Width(), 640);
    again->zIni1->SetEncryptValues(true);
    again->SetBounds(12345, 5, 6, 7);
    delete again;
    EXPECT_EQ(Take(Path), "First=1\r\nTPlaceForm=" + Enc("12345000500060007") + "\r\n");

    // Five digits make 17 characters: the whole entry is ignored on loading.
    auto* third = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfBoth, Path);
    EXPECT_EQ(third->Left(), 10);
    third->zIni1->SetFormSave(fsfNone);
    delete third;
}

TEST_F(FormPlacement, DestroyMessageOfTheWindowSavesThePlacement) {
    auto* form = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfBoth, Path);
    form->SetBounds(1, 2, 300, 200);
    // The window is made anew: WM_DESTROY passes the store's procedure.
    form->RecreateWnd();
    EXPECT_EQ(Take(Path), "TPlaceForm=0001000203000200\r\n");
    form->zIni1->SetFormSave(fsfNone);
    delete form;
}

TEST_F(FormPlacement, MinimisedOrMaximisedFormSavesNothing) {
    for (Qt::WindowState state : {Qt::WindowMinimized, Qt::WindowMaximized}) {
        Put(Path, "");
        auto* form = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfBoth, Path);
        form->Widget()->setWindowState(state);
        delete form;
        EXPECT_EQ(Take(Path), "") << state;
    }
}

TEST_F(FormPlacement, StoreHooksInFrontAndPassesEveryMessageOn) {
    auto* form = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfNone, "");
    const win::HWND wnd = form->Handle();
    const auto hooked = win::GetWindowLongPtrA(wnd, win::GWLP_WNDPROC);
    // Caption changes go through WM_SETTEXT, which the store passes on.
    form->SetCaption("Passed on");
    EXPECT_EQ(win::GetWindowTextString(wnd), "Passed on");
    delete form->zIni1;
    EXPECT_NE(win::GetWindowLongPtrA(wnd, win::GWLP_WNDPROC), hooked);
    form->SetCaption("Still works");
    EXPECT_EQ(win::GetWindowTextString(wnd), "Still works");
    delete form;
}

TEST_F(FormPlacement, OwnerMustBeAForm) {
    fw::TComponent plain(nullptr);
    EXPECT_THROW(TzIni{&plain}, fw::EInvalidOperation);
}

TEST_F(FormPlacement, LoadingDerivesTheFileNameFromTheExecutable) {
    const std::string exe = win::ExecutablePath();
    const std::string base = exe.substr(exe.rfind('/') + 1);
    auto* app = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfNone, "", fspAppDir);
    EXPECT_EQ(app->zIni1->FileName(), exe + ".ini");  // the test program has no extension
    delete app;

    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", Dir.c_str(), 1);
    auto* win = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfNone, "", fspWinDir);
    EXPECT_EQ(win->zIni1->FileName(), Dir + "/" + base + ".ini");
    delete win;
    // A folder name that does not fit 255 characters leaves the name empty.
    ::setenv("XDG_CONFIG_HOME", ("/" + std::string(260, 'd')).c_str(), 1);
    auto* longDir = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfNone, "", fspWinDir);
    EXPECT_EQ(longDir->zIni1->FileName(), "");
    delete longDir;
    auto* none = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfNone, "", fspNone);
    EXPECT_EQ(none->zIni1->FileName(), "");
    delete none;
    auto* set = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfNone, Path, fspAppDir);
    EXPECT_EQ(set->zIni1->FileName(), Path);
    delete set;
    if (old) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

TEST_F(FormPlacement, LaterStoreBorrowsTheMainFormsFirstStoreSettings) {
    TPlaceForm* main = nullptr;
    App.CreateForm(&main);
    main->zIni1->SetFormSave(fsfNone);
    main->zIni1->SetEncryptValues(true);
    main->zIni1->SetFileName(Path);
    Put(Path, "TPlaceForm=0100020003000400\r\n");
    // A store on the main form itself borrows nothing.
    TzIni onMain(main);
    EXPECT_EQ(onMain.FileName(), "");
    EXPECT_EQ(onMain.FormSave(), fsfBoth);
    EXPECT_FALSE(onMain.EncryptValues());
    // A store on another form starts with the main form's first store's
    // settings. The copy restores nothing, and the form's own setting of the
    // same file name is no change, so the stored placement is not applied.
    auto* other = fw::TForm::Create<TPlaceForm>(nullptr, nullptr, fsfBoth, Path);
    EXPECT_EQ(other->zIni1->FormSave(), fsfBoth);
    EXPECT_TRUE(other->zIni1->EncryptValues());
    EXPECT_EQ(other->Left(), 10);
    TzIni* second = new TzIni(other);
    EXPECT_EQ(second->FileName(), Path);
    EXPECT_EQ(second->FormSave(), fsfNone);
    EXPECT_TRUE(second->EncryptValues());
    // A different name given afterwards does restore.
    Put(Dir + "/other.ini", "TPlaceForm=0100020003000400\r\n");
    other->zIni1->SetFileName(Dir + "/other.ini");
    EXPECT_EQ(other->Left(), 100);
    other->zIni1->SetFormSave(fsfNone);
    delete other;
}

}  // namespace
