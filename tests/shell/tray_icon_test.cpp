// TacTrayIcon's logic on the offscreen platform, with a recording stand-in
// for the notification area (which this platform lacks): the record it
// builds, the Visible rules, minimise and restore, the loading rules, menus,
// balloons, animation, tray messages and the application hook. The real tray
// is tested in tray_icon_gui_test.
#include "shell/tray_icon.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/form.h"
#include "framework/menus.h"
#include "platform/window_pos.h"
#include "tests/shell/shell_fixture.h"

using namespace win;

namespace {

// Records every call to the tray; a tray host takes the icon unless `noHost`.
class RecordingTrayIcon : public TacTrayIcon {
public:
    using TacTrayIcon::TacTrayIcon;

    struct Call {
        DWORD message;
        NOTIFYICONDATAA data;
        int imageIndex;
    };
    std::vector<Call> calls;
    bool noHost = false;

    int Count(DWORD message) const {
        int n = 0;
        for (const Call& c : calls)
            n += c.message == message;
        return n;
    }
    const Call* Last(DWORD message) const {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->message == message)
                return &*it;
        return nullptr;
    }
    // A message from the tray, as the platform posts it.
    void Tray(UINT event) { SendMessageA(HiddenWindow(), WM_ACTRAYICON, 0, event); }

protected:
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA* data) override {
        calls.push_back({message, *data, ImageIndex()});
        return message == NIM_ADD && noHost ? FALSE : TRUE;
    }
};

// A form whose stored properties set up its tray icon while it loads, as the
// form stream would.
class TrayForm : public fw::TForm {
public:
    static std::function<void(RecordingTrayIcon*)> stored;

    explicit TrayForm(fw::TComponent* owner) : TForm(owner) {
        SetCaption("Tray");
        SetClientWidth(300);
        SetClientHeight(200);
        Menu = new fw::TPopupMenu(this);
        for (const char* caption : {"About", "&Setting", "-", "E&xit"}) {
            auto* item = new fw::TMenuItem(this);
            item->SetCaption(caption);
            Menu->Items()->Add(item);
        }
        Tray = new RecordingTrayIcon(this);
        if (stored)
            stored(Tray);
    }
    fw::TMenuItem* Item(int i) const { return Menu->Items()->Items(i); }

    fw::TPopupMenu* Menu;
    RecordingTrayIcon* Tray;
};
std::function<void(RecordingTrayIcon*)> TrayForm::stored;

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override { TacTrayIcon::SetAppWindowHidden(false); }
    void TearDown() override { TrayForm::stored = nullptr; }

    // Makes the form as the program does: stored properties while loading,
    // then the end of loading; it becomes the main form.
    TrayForm* Make(std::function<void(RecordingTrayIcon*)> stored = nullptr) {
        TrayForm::stored = std::move(stored);
        TrayForm* form = nullptr;
        app.CreateForm(&form);
        return form;
    }

    fw::TApplication app;
};

TEST(TrayIconOptions, EachFlagIsItsBitAndTheProgramsValueIs0x31) {
    const struct {
        TacTrayIconOption option;
        unsigned bit;
    } cases[] = {{oHideIconOnRestore, 0x01},
                 {oMinimizeToTray, 0x02},
                 {oMinimizeToTrayOnDeactivate, 0x04},
                 {oOneClickRestore, 0x08},
                 {oDblClickRestore, 0x10},
                 {oPlaySysActionSounds, 0x20},
                 {oShowAtDesignTime, 0x40},
                 {oShowMenuOnLeftClick, 0x80}};
    for (const auto& c : cases)
        EXPECT_EQ(TacTrayIconOptions{c.option}.Bits(), c.bit);
    EXPECT_EQ(
        (TacTrayIconOptions{oHideIconOnRestore, oDblClickRestore, oPlaySysActionSounds}.Bits()),
        0x31u);
}

TEST_F(TrayIconTest, DefaultsAndTheRecordOfAnAddModifyAndDelete) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    EXPECT_EQ(t->AnimateInterval(), 200);
    EXPECT_EQ(t->Options(), (TacTrayIconOptions{oDblClickRestore, oPlaySysActionSounds}));
    EXPECT_TRUE(t->ShowHint());
    EXPECT_FALSE(t->Visible());
    app.SetTitle("Quilvane");

    t->SetVisible(true);
    const auto* add = t->Last(NIM_ADD);
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->data.cbSize, NOTIFYICONDATAA_V1_SIZE);
    EXPECT_EQ(add->data.hWnd, t->HiddenWindow());
    EXPECT_EQ(add->data.uID, 0u);
    EXPECT_EQ(add->data.uFlags, NIF_MESSAGE | NIF_TIP | NIF_ICON);
    EXPECT_EQ(add->data.uCallbackMessage, 14948u);
    EXPECT_NE(add->data.hIcon, nullptr) << "the application's icon stands in";
    EXPECT_STREQ(add->data.szTip, "Quilvane") << "an empty hint shows the title";

    t->SetHint("Quilvane 1.0");
    EXPECT_STREQ(t->Last(NIM_MODIFY)->data.szTip, "Quilvane 1.0");
    t->SetShowHint(false);
    EXPECT_STREQ(t->Last(NIM_MODIFY)->data.szTip, "");
    EXPECT_EQ(t->Last(NIM_MODIFY)->data.uFlags & NIF_TIP, NIF_TIP);

    t->SetVisible(false);
    EXPECT_EQ(t->Last(NIM_DELETE)->data.uFlags, NIF_MESSAGE | NIF_TIP);
}

TEST_F(TrayIconTest, TipIsCutAt127CharactersWithoutSplittingOne) {
    TrayForm* f = Make();
    std::string hint;
    for (int i = 0; i < 130; ++i)
        hint += "\xC3\xA9";  // é, two bytes each
    f->Tray->SetHint(hint);
    EXPECT_EQ(std::string(f->Tray->Last(NIM_MODIFY)->data.szTip), hint.substr(0, 127 * 2));
}

TEST(TrayIconBalloon, TextKeeps255AndTitle63Characters) {
    TacWin2kInfoBalloon b;
    b.SetText(std::string(300, 't'));
    b.SetTitle(std::string(70, 'T'));
    EXPECT_EQ(b.Text(), std::string(255, 't'));
    EXPECT_EQ(b.Title(), std::string(63, 'T'));
    std::string euros;
    for (int i = 0; i < 70; ++i)
        euros += "\xE2\x82\xAC";  // €, three bytes
    b.SetTitle(euros);
    EXPECT_EQ(b.Title(), euros.substr(0, 63 * 3));
}

TEST_F(TrayIconTest, BalloonGoesInAnExtendedRecordAndItsNoticesRaiseTheirEvents) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    t->Win2kInfoBalloon()->SetText("Mapped");
    t->Win2kInfoBalloon()->SetTitle("Quilvane");
    t->Win2kInfoBalloon()->Icon = iiWarning;
    t->Win2kInfoBalloon()->NoSound = true;
    t->Win2kInfoBalloon()->Timeout = 15000;
    t->ShowBalloon();
    const auto* m = t->Last(NIM_MODIFY);
    EXPECT_EQ(m->data.cbSize, NOTIFYICONDATAA_V2_SIZE);
    EXPECT_EQ(m->data.uFlags & NIF_INFO, NIF_INFO);
    EXPECT_STREQ(m->data.szInfo, "Mapped");
    EXPECT_STREQ(m->data.szInfoTitle, "Quilvane");
    EXPECT_EQ(m->data.dwInfoFlags, NIIF_WARNING | NIIF_NOSOUND);
    EXPECT_EQ(m->data.uTimeout, 15000u);

    std::string events;
    t->OnBalloonShow = [&](fw::TObject*) { events += "show "; };
    t->OnBalloonHide = [&](fw::TObject*) { events += "hide "; };
    t->OnBalloonTimeOut = [&](fw::TObject*) { events += "timeout "; };
    t->OnBalloonUserClick = [&](fw::TObject*) { events += "click "; };
    for (UINT n : {1026u, 1027u, 1028u, 1029u})
        t->Tray(n);
    EXPECT_EQ(events, "show hide timeout click ");
}

TEST_F(TrayIconTest, HideIconOnRestoreIgnoresAStoredVisibleAndRestoreRemovesTheIcon) {
    TrayForm* f = Make([](RecordingTrayIcon* t) {
        t->SetOptions({oHideIconOnRestore, oDblClickRestore});
        t->SetVisible(true);
    });
    RecordingTrayIcon* t = f->Tray;
    EXPECT_FALSE(t->Visible()) << "a stored Visible is ignored while loading";
    EXPECT_EQ(t->Count(NIM_ADD), 0);
    f->Show();

    t->MinimizeToTray();
    EXPECT_TRUE(t->Visible());
    EXPECT_EQ(t->Count(NIM_ADD), 1);
    EXPECT_FALSE(f->Visible());
    EXPECT_TRUE(t->MinimizedToTray());
    t->RestoreFromTray();
    EXPECT_TRUE(f->Visible());
    EXPECT_FALSE(t->Visible()) << "restoring removed the icon";
    EXPECT_EQ(t->Count(NIM_DELETE), 1);
    t->MinimizeToTray();
    EXPECT_TRUE(t->Visible()) << "minimising brings it back";
    EXPECT_EQ(t->Count(NIM_ADD), 2);
}

TEST_F(TrayIconTest, HidingTheIconOfAHiddenFormRestoresTheForm) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    f->Show();
    t->MinimizeToTray();
    ASSERT_FALSE(f->Visible());
    int restores = 0;
    t->OnRestore = [&](fw::TObject*) { ++restores; };
    t->SetVisible(false);
    EXPECT_TRUE(f->Visible());
    EXPECT_EQ(restores, 1);
}

TEST_F(TrayIconTest, SecondMinimizeOfTheMainFormDoesNothing) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    ASSERT_EQ(app.MainForm(), f);
    f->Show();
    int minimizes = 0;
    t->OnMinimize = [&](fw::TObject*) { ++minimizes; };
    t->MinimizeToTray();
    EXPECT_TRUE(TacTrayIcon::AppWindowHidden());
    EXPECT_FALSE(IsWindowVisible(app.Handle()));
    t->MinimizeToTray();
    EXPECT_EQ(minimizes, 1);
    t->RestoreFromTray();
    EXPECT_FALSE(TacTrayIcon::AppWindowHidden());
}

TEST_F(TrayIconTest, TitleBarButtonAndItsSystemMenuItemMinimiseToTheTray) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    TacACaptionButton* button = t->CaptionButton();
    EXPECT_FALSE(button->Visible());
    EXPECT_EQ(button->Hint(), "Minimize to System Tray");
    EXPECT_FALSE(t->Glyph()->Empty());
    button->SetVisible(true);
    f->Show();
    int minimizes = 0, iconClicks = 0;
    t->OnMinimize = [&](fw::TObject*) { ++minimizes; };
    t->OnClick = [&](fw::TObject*) { ++iconClicks; };
    const WPARAM id = t->ButtonId();

    f->Perform(WM_NCLBUTTONDOWN, id, 0);
    f->Perform(WM_NCLBUTTONUP, id, 0);
    EXPECT_EQ(minimizes, 1);
    EXPECT_TRUE(t->MinimizedToTray());
    EXPECT_FALSE(f->Visible());
    t->RestoreFromTray();

    f->Perform(WM_SYSCOMMAND, id, 0);
    EXPECT_EQ(minimizes, 2);
    EXPECT_TRUE(t->MinimizedToTray());
    EXPECT_EQ(iconClicks, 0) << "the button's click is not the icon's";
    t->RestoreFromTray();
}

TEST_F(TrayIconTest, WithoutATrayHostTheFormStaysAndComesBackWhenTheHostGoes) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    f->Show();
    t->noHost = true;
    t->MinimizeToTray();
    EXPECT_TRUE(f->Visible()) << "no tray took the icon: the form stays";
    EXPECT_FALSE(t->MinimizedToTray());

    t->noHost = false;
    t->MinimizeToTray();
    ASSERT_FALSE(f->Visible());
    t->Tray(NIN_HOSTGONE);
    EXPECT_TRUE(f->Visible()) << "the tray went away: the form comes back";
    EXPECT_TRUE(t->Visible()) << "the icon is still wanted for when a tray comes";
    SendMessageA(t->HiddenWindow(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(t->IconInTray());
}

TEST_F(TrayIconTest, StoredStartMinimizedHidesTheFormAndTheCreationCallAddsTheIcon) {
    // The program: the tray icon is stored with these, and the form's creation
    // handler calls MinimizeToTray once more.
    TrayForm* f = Make([](RecordingTrayIcon* t) {
        t->SetOptions({oHideIconOnRestore, oDblClickRestore, oPlaySysActionSounds});
        t->SetStartMinimized(true);
    });
    RecordingTrayIcon* t = f->Tray;
    EXPECT_FALSE(app.ShowMainForm);
    EXPECT_FALSE(f->Visible());
    EXPECT_EQ(t->Count(NIM_ADD), 0) << "the first minimise runs while loading";
    t->MinimizeToTray();
    EXPECT_EQ(t->Count(NIM_ADD), 1);
    EXPECT_FALSE(f->Visible());
}

TEST_F(TrayIconTest, ClicksDoubleClicksAndTheMouseEventsFollowTheTrayMessages) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    std::string events;
    t->OnClick = [&](fw::TObject*) { events += "click "; };
    t->OnDblClick = [&](fw::TObject*) { events += "dbl "; };
    t->OnMouseDown = [&](fw::TObject*, fw::TMouseButton b, fw::TShiftState s, int, int) {
        events +=
            "down" + std::to_string(static_cast<int>(b)) +
            (s.Contains(fw::ssLeft) || s.Contains(fw::ssRight) || s.Contains(fw::ssMiddle) ? "+ "
                                                                                           : " ");
    };
    t->OnMouseUp = [&](fw::TObject*, fw::TMouseButton b, fw::TShiftState, int, int) {
        events += "up" + std::to_string(static_cast<int>(b)) + " ";
    };
    t->SetOptions({});
    for (UINT m : {513u, 514u, 515u, 514u})
        t->Tray(m);
    EXPECT_EQ(events, "down0+ up0 click dbl up0 ") << "a double click is one click and one double";
    events.clear();
    for (UINT m : {516u, 519u, 520u})
        t->Tray(m);
    EXPECT_EQ(events, "down1+ down2+ up2 ");
}

TEST_F(TrayIconTest, DoubleClickRunsTheDefaultItemInsteadOfRestoring) {
    TrayForm* f = Make([](RecordingTrayIcon* t) { t->SetOptions({oDblClickRestore}); });
    RecordingTrayIcon* t = f->Tray;
    t->SetPopupMenu(f->Menu);
    f->Show();
    t->MinimizeToTray();
    ASSERT_FALSE(f->Visible());
    int about = 0;
    f->Item(0)->OnClick = [&](fw::TObject*) { ++about; };
    f->Item(0)->SetDefault(true);
    t->Tray(WM_LBUTTONDBLCLK);
    EXPECT_EQ(about, 1);
    EXPECT_FALSE(f->Visible()) << "the default item replaces the restore";

    f->Item(0)->SetDefault(false);
    t->Tray(WM_LBUTTONDBLCLK);
    EXPECT_EQ(about, 1);
    EXPECT_TRUE(f->Visible()) << "without a default item the double click restores";

    // With oMinimizeToTray a double click on a shown form minimises it.
    t->SetOptions({oDblClickRestore, oMinimizeToTray});
    t->Tray(WM_LBUTTONDBLCLK);
    EXPECT_FALSE(f->Visible());
    // With oShowMenuOnLeftClick the default item is not looked for.
    f->Item(0)->SetDefault(true);
    t->SetOptions({oDblClickRestore, oShowMenuOnLeftClick});
    t->Tray(WM_LBUTTONDBLCLK);
    EXPECT_EQ(about, 1);
    EXPECT_TRUE(f->Visible());
}

TEST_F(TrayIconTest, BoundItemsRunTheirOwnHandlerFirstAndFollowTheForm) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    std::string log;
    f->Item(1)->OnClick = [&](fw::TObject*) { log += "setting "; };
    t->OnRestore = [&](fw::TObject*) { log += "restore "; };
    t->SetPopupMenuRestoreItem(f->Item(1));
    t->SetPopupMenuTrayMinimizeItem(f->Item(0));
    f->Show();
    t->UpdateRestoreItems();
    EXPECT_TRUE(f->Item(0)->Default() && f->Item(0)->Enabled());
    EXPECT_FALSE(f->Item(1)->Default() || f->Item(1)->Enabled());
    f->Item(0)->Click();
    EXPECT_FALSE(f->Visible());
    EXPECT_TRUE(f->Item(1)->Default() && f->Item(1)->Enabled());
    f->Item(1)->Click();
    EXPECT_EQ(log, "setting restore ");
    EXPECT_TRUE(f->Visible());

    // A bound item that goes away is forgotten.
    delete f->Item(0);
    EXPECT_EQ(t->PopupMenuTrayMinimizeItem(), nullptr);
}

TEST_F(TrayIconTest, AnimationCyclesThroughTheImageListAtItsInterval) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    auto* images = new fw::TImageList(f);
    for (QColor c : {Qt::red, Qt::green, Qt::blue}) {
        QPixmap p(16, 16);
        p.fill(c);
        images->Add(QIcon(p));
    }
    t->SetImageList(images);
    t->SetAnimateInterval(30);
    t->SetImageIndex(2);
    t->calls.clear();
    t->SetAnimate(true);
    // The animation starts at the first image.
    std::vector<int> order;
    ASSERT_TRUE(shell_test::RunUntil([&] {
        order.clear();
        for (const auto& c : t->calls)
            if (c.message == NIM_MODIFY && (order.empty() || order.back() != c.imageIndex))
                order.push_back(c.imageIndex);
        return order.size() >= 4;
    }));
    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 4), (std::vector<int>{0, 1, 2, 0}));
    t->SetAnimate(false);

    // Clearing the list stops the animation.
    t->SetAnimate(true);
    t->SetImageList(nullptr);
    EXPECT_FALSE(t->Animate());

    // So does a list that goes away under it: its timer (1 on the hidden
    // window) is gone with it, not left firing on nothing.
    t->SetImageList(images);
    t->SetAnimate(true);
    ASSERT_TRUE(t->Animate());
    delete images;
    EXPECT_EQ(t->ImageList(), nullptr);
    EXPECT_FALSE(t->Animate());
    EXPECT_FALSE(KillTimer(t->HiddenWindow(), 1)) << "the animation timer still runs";
}

TEST_F(TrayIconTest, ApplicationMinimiseAndDeactivationGoToTheTrayWithTheirOptions) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    f->Show();
    SendMessageA(app.Handle(), WM_SIZE, fw::SIZE_MINIMIZED, 0);
    EXPECT_FALSE(t->MinimizedToTray()) << "without oMinimizeToTray";
    t->SetOptions({oMinimizeToTray});
    SendMessageA(app.Handle(), WM_SIZE, fw::SIZE_MINIMIZED, 0);
    EXPECT_TRUE(t->MinimizedToTray());
    t->RestoreFromTray();

    t->SetOptions({oMinimizeToTrayOnDeactivate});
    SendMessageA(app.Handle(), fw::CM_DEACTIVATE, 0, 0);
    EXPECT_TRUE(t->MinimizedToTray());
}

TEST_F(TrayIconTest, TimerTwoAddsTheIconOnceMore) {
    TrayForm* f = Make();
    RecordingTrayIcon* t = f->Tray;
    t->SetVisible(true);
    const int adds = t->Count(NIM_ADD);
    SendMessageA(t->HiddenWindow(), WM_TIMER, 2, 0);
    EXPECT_EQ(t->Count(NIM_ADD), adds + 1);
    SendMessageA(t->HiddenWindow(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_EQ(t->Count(NIM_ADD), adds + 2);
    t->SetVisible(false);
    SendMessageA(t->HiddenWindow(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_EQ(t->Count(NIM_ADD), adds + 2) << "a hidden icon is not added";
}

}  // namespace
