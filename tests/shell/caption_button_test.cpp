// Caption buttons without a display: order from the stored layout and by
// BtnOrder, layout with hidden buttons, hit testing, the mouse messages that
// make clicks, toggling, the system-menu item and the tooltip, and moving to a
// re-created window.
#include "shell/caption_button.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/menu.h"
#include "platform/metrics.h"
#include "platform/tooltip.h"
#include "platform/window_pos.h"
#include "shell_fixture.h"

namespace {

using namespace win;

// A form whose stored layout gives three buttons the orders 2, 0 and 1, in
// this creation order.
class ThreeButtonForm : public fw::TForm {
public:
    explicit ThreeButtonForm(fw::TComponent* owner) : TForm(owner) {
        SetCaption("Buttons");
        SetBorderIcons({fw::biSystemMenu});
        SetBounds(100, 80, 400, 200);
        const int orders[] = {2, 0, 1};
        for (int i = 0; i < 3; ++i) {
            b[i] = new TacCaptionButton(this);
            b[i]->SetName("B" + std::to_string(i));
            b[i]->SetBtnOrder(orders[i]);
            b[i]->SetHint("hint " + std::to_string(i));
        }
    }
    TacCaptionButton* b[3];
};

class CaptionButtonTest : public ::testing::Test {
public:
    void SetUp() override {
        form = fw::TForm::Create<ThreeButtonForm>(&app);
        wnd = form->Handle();
        b = form->b;
        Paint();
    }
    // Lets every button work out its rectangle, as a paint of the frame does.
    void Paint() { form->Perform(WM_NCPAINT, 1, 0); }
    std::vector<TacCustomCaptionButton*> Order() {
        return TacCustomCaptionButton::ButtonsOf(form->Handle());
    }
    // A screen point on button `i`'s rectangle (title bar).
    POINT On(TacCustomCaptionButton* button) {
        const RECT r = button->ButtonRect();
        return POINT{form->Left() + fw::NCFrameWidth + (r.left + r.right) / 2,
                     form->Top() + fw::NCFrameHeight + 8};
    }
    LRESULT HitTest(POINT p) {
        return form->Perform(WM_NCHITTEST, 0, fw::MakeLParamPoint(p.x, p.y));
    }
    LPARAM Lp(POINT p) { return fw::MakeLParamPoint(p.x, p.y); }

    fw::TApplication app;
    ThreeButtonForm* form = nullptr;
    HWND wnd = 0;
    TacCaptionButton** b = nullptr;
};

TEST_F(CaptionButtonTest, StoredOrdersAreAppliedWhenLoadingEnds) {
    EXPECT_EQ(Order(), (std::vector<TacCustomCaptionButton*>{b[1], b[2], b[0]}));
    EXPECT_EQ(b[0]->BtnOrder(), 2);
    EXPECT_EQ(b[1]->BtnOrder(), 0);
    EXPECT_EQ(b[2]->BtnOrder(), 1);
    EXPECT_GE(b[0]->ButtonId(), kFirstCaptionButtonId);
    EXPECT_EQ(b[1]->ButtonId(), b[0]->ButtonId() + 1);
    EXPECT_EQ(b[2]->ButtonId(), b[0]->ButtonId() + 2);
}

TEST_F(CaptionButtonTest, BtnOrderMovesTheButtonClampedToTheList) {
    struct Move {
        int button, order;
        std::vector<int> expected;  // buttons from the system buttons leftwards
    };
    const Move moves[] = {{1, 10, {2, 0, 1}}, {1, -5, {1, 2, 0}}, {0, 1, {1, 0, 2}}};
    for (const Move& m : moves) {
        b[m.button]->SetBtnOrder(m.order);
        std::vector<TacCustomCaptionButton*> expected;
        for (int i : m.expected)
            expected.push_back(b[i]);
        EXPECT_EQ(Order(), expected) << "button " << m.button << " to " << m.order;
    }
}

TEST_F(CaptionButtonTest, LayoutClosesTheGapOfAHiddenButtonAndReopensIt) {
    const int w = GetSystemMetrics(SM_CXSIZE);
    auto offsets = [&] {
        std::vector<int> s;
        for (auto* x : Order())
            s.push_back(x->Visible() ? x->SlotOffset() : -1);
        return s;
    };
    EXPECT_EQ(offsets(), (std::vector<int>{w, 2 * w - 2, 3 * w - 4}));
    b[2]->SetVisible(false);  // the middle one
    EXPECT_EQ(offsets(), (std::vector<int>{w, -1, 2 * w - 2}));
    b[2]->SetVisible(true);
    EXPECT_EQ(offsets(), (std::vector<int>{w, 2 * w - 2, 3 * w - 4}));
    b[1]->SetSeparatorWidth(5);
    EXPECT_EQ(offsets(), (std::vector<int>{w + 5, 2 * w + 3, 3 * w + 1}));
}

TEST_F(CaptionButtonTest, RectangleFollowsTheWindowsSystemButtons) {
    // Width 400, a system menu (one system button), fixed frame of 3.
    const int w = GetSystemMetrics(SM_CXSIZE);
    RECT r = b[1]->ButtonRect();
    EXPECT_EQ(r.left, 400 - w - w - 2 * 3);
    EXPECT_EQ(r.top, 3 + 2);
    EXPECT_EQ(r.right, r.left + w - 2);
    EXPECT_EQ(r.bottom, GetSystemMetrics(SM_CYSIZE) - 5);
    form->SetBorderIcons({fw::biSystemMenu, fw::biMinimize});
    Paint();
    EXPECT_EQ(b[1]->ButtonRect().left, 400 - 3 * w - w - 2 * 3);
}

TEST_F(CaptionButtonTest, HitTestAnswersTheButtonIdOnlyOnItsRectangle) {
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(HitTest(On(b[i])), static_cast<LRESULT>(b[i]->ButtonId()));
    // The leftmost button, b[0]: its left edge is excluded, right + 1 included.
    const RECT r = b[0]->ButtonRect();
    const int x0 = form->Left() + fw::NCFrameWidth;
    const int y = form->Top() + fw::NCFrameHeight + 8;
    EXPECT_EQ(HitTest({x0 + r.left, y}), HTCAPTION);
    EXPECT_EQ(HitTest({x0 + r.left + 1, y}), static_cast<LRESULT>(b[0]->ButtonId()));
    EXPECT_EQ(HitTest({x0 + r.right, y}), static_cast<LRESULT>(b[0]->ButtonId()));
    EXPECT_EQ(HitTest({form->Left() + 100, y}), HTCAPTION);
    POINT client = On(b[1]);
    client.y = form->Top() + fw::NCFrameHeight + fw::NCCaptionHeight + 5;
    EXPECT_EQ(HitTest(client), HTCLIENT);
    b[1]->SetVisible(false);
    Paint();
    EXPECT_NE(HitTest(On(b[2])), static_cast<LRESULT>(b[1]->ButtonId()));
}

TEST_F(CaptionButtonTest, PressAndReleaseOnTheButtonClicksAndDraggingOffDoesNot) {
    int clicks = 0, buttonClicks = 0;
    b[1]->OnClick = [&](fw::TObject*) { ++clicks; };
    b[1]->OnButtonClick = [&](fw::TObject*) { ++buttonClicks; };
    const POINT on = On(b[1]);
    const WPARAM id = b[1]->ButtonId();

    form->Perform(WM_NCLBUTTONDOWN, id, Lp(on));
    EXPECT_TRUE(b[1]->DrawnPressed());
    EXPECT_TRUE(b[1]->Tracking());
    EXPECT_EQ(GetCapture(), wnd);
    form->Perform(WM_NCLBUTTONUP, id, Lp(on));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(buttonClicks, 1);
    EXPECT_FALSE(b[1]->DrawnPressed());
    EXPECT_EQ(GetCapture(), 0u);

    // Into the client area: drawn released, and the release clicks nothing.
    form->Perform(WM_NCLBUTTONDOWN, id, Lp(on));
    form->Perform(WM_MOUSEMOVE, 1, fw::MakeLParamPoint(50, -3));  // still in the title bar
    EXPECT_TRUE(b[1]->DrawnPressed());
    form->Perform(WM_MOUSEMOVE, 1, fw::MakeLParamPoint(50, 20));
    EXPECT_FALSE(b[1]->DrawnPressed());
    form->Perform(WM_LBUTTONUP, 0, fw::MakeLParamPoint(50, 20));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(b[1]->Tracking());

    // A disabled button does not track.
    b[1]->SetEnabled(false);
    form->Perform(WM_NCLBUTTONDOWN, id, Lp(on));
    EXPECT_FALSE(b[1]->Tracking());
}

TEST_F(CaptionButtonTest, RightClicksOnTheButtonAreSwallowedAndDoubleClickPressesAgain) {
    int clicks = 0, captionDbl = 0;
    b[0]->OnClick = [&](fw::TObject*) { ++clicks; };
    b[0]->OnCaptionDblClick = [&](fw::TObject*) { ++captionDbl; };
    const WPARAM id = b[0]->ButtonId();
    const POINT on = On(b[0]);
    form->Perform(WM_NCRBUTTONDOWN, id, Lp(on));
    form->Perform(WM_NCRBUTTONUP, id, Lp(on));
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(b[0]->Tracking());

    form->Perform(WM_NCLBUTTONDOWN, id, Lp(on));
    form->Perform(WM_NCLBUTTONUP, id, Lp(on));
    form->Perform(WM_NCLBUTTONDBLCLK, id, Lp(on));
    EXPECT_TRUE(b[0]->Tracking());
    form->Perform(WM_NCLBUTTONUP, id, Lp(on));
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(captionDbl, 0);
    form->Perform(WM_NCLBUTTONDBLCLK, HTCAPTION, Lp({form->Left() + 60, form->Top() + 10}));
    EXPECT_EQ(captionDbl, 1);
}

TEST_F(CaptionButtonTest, AllowPressTogglesDownWithPressedReleasedAndTheCheckMark) {
    std::vector<std::string> events;
    b[2]->OnPressed = [&](fw::TObject*) { events.push_back("pressed"); };
    b[2]->OnReleased = [&](fw::TObject*) { events.push_back("released"); };
    b[2]->SetDown(true);
    EXPECT_FALSE(b[2]->Down());  // only with AllowPress
    b[2]->SetAllowPress(true);
    b[2]->SystemMenu()->SetApplyToMenu(true);
    HMENU menu = GetSystemMenu(wnd, FALSE);
    const UINT id = b[2]->ButtonId();
    const POINT on = On(b[2]);
    for (int i = 0; i < 2; ++i) {
        form->Perform(WM_NCLBUTTONDOWN, id, Lp(on));
        form->Perform(WM_NCLBUTTONUP, id, Lp(on));
        EXPECT_EQ(b[2]->Down(), i == 0);
        EXPECT_EQ((GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0, i == 0);
    }
    form->Perform(WM_SYSCOMMAND, id, 0);  // the system-menu item toggles too
    EXPECT_TRUE(b[2]->Down());
    EXPECT_TRUE(GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(events, (std::vector<std::string>{"pressed", "released", "pressed"}));
    b[2]->SetAllowPress(false);
    EXPECT_FALSE(b[2]->Down());
}

struct MenuCase {
    const char* name;
    int position;
    TacMenuSeparators separators;
    std::vector<int> expected;  // 0 the item, 1 separator before, 2 after, -1 system item
};

class SystemMenuItemTest : public CaptionButtonTest,
                           public ::testing::WithParamInterface<MenuCase> {};

TEST_P(SystemMenuItemTest, ItemAndSeparatorsStandWhereAsked) {
    const MenuCase& c = GetParam();
    TacSystemMenu* sm = b[0]->SystemMenu();
    sm->SetSeparators(c.separators);
    sm->SetPosition(static_cast<WORD>(c.position));
    sm->SetCaption("Extra");
    sm->SetApplyToMenu(true);
    HMENU menu = GetSystemMenu(wnd, FALSE);
    const UINT id = b[0]->ButtonId();
    std::vector<int> seen;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        const UINT item = GetMenuItemID(menu, i);
        seen.push_back(item == id ? 0 : item == id + 1000 ? 1 : item == id + 2000 ? 2 : -1);
    }
    EXPECT_EQ(seen, c.expected);
    EXPECT_EQ(GetMenuString(menu, id, MF_BYCOMMAND), "Extra");
    b[0]->SetEnabled(false);
    EXPECT_TRUE(GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED);
    sm->SetApplyToMenu(false);
    EXPECT_EQ(GetMenuItemCount(menu), 7);
}

const MenuCase kMenuCases[] = {
    {"Position7Before", 7, {seBefore}, {-1, -1, -1, -1, -1, -1, -1, 1, 0}},
    {"Position3BeforeAndAfter", 3, {seBefore, seAfter}, {-1, -1, -1, 1, 0, 2, -1, -1, -1, -1}},
    {"Position0None", 0, {}, {0, -1, -1, -1, -1, -1, -1, -1}},
    {"PastTheEndAppends", 20, {seAfter}, {-1, -1, -1, -1, -1, -1, -1, 0, 2}},
};
INSTANTIATE_TEST_SUITE_P(SystemMenu, SystemMenuItemTest, ::testing::ValuesIn(kMenuCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptionButtonTest, TooltipCoversTheButtonInTheTitleBarWhileItShowsAHint) {
    Paint();
    const RECT r = b[1]->ButtonRect();
    std::string text;
    RECT tool;
    ASSERT_TRUE(ToolTipAt(wnd, POINT{r.left + 2, -5}, &text, &tool));
    EXPECT_EQ(text, "hint 1");
    EXPECT_EQ(tool.left, r.left + 1);
    EXPECT_EQ(tool.top, -GetSystemMetrics(SM_CYCAPTION));
    EXPECT_EQ(tool.bottom, 0);
    EXPECT_FALSE(ToolTipAt(wnd, POINT{r.left + 2, 5}, &text, &tool));
    b[1]->SetShowHint(false);
    EXPECT_FALSE(ToolTipAt(wnd, POINT{r.left + 2, -5}, &text, &tool));
    b[1]->SetShowHint(true);
    b[1]->SetEnabled(false);
    EXPECT_FALSE(ToolTipAt(wnd, POINT{r.left + 2, -5}, &text, &tool));
}

TEST_F(CaptionButtonTest, RecreatedWindowKeepsOrderLayoutMenuItemAndTooltip) {
    b[2]->SystemMenu()->SetApplyToMenu(true);
    b[0]->SetBtnOrder(0);
    const auto before = Order();
    form->RecreateWnd();
    app.ProcessMessages();
    const HWND fresh = form->Handle();
    ASSERT_NE(fresh, wnd);
    EXPECT_EQ(TacCustomCaptionButton::ButtonsOf(fresh), before);
    EXPECT_TRUE(TacCustomCaptionButton::ButtonsOf(wnd).empty());
    HMENU menu = GetSystemMenu(fresh, FALSE);
    EXPECT_NE(GetMenuState(menu, b[2]->ButtonId(), MF_BYCOMMAND), static_cast<UINT>(-1));
    Paint();
    EXPECT_EQ(HitTest(On(b[0])), static_cast<LRESULT>(b[0]->ButtonId()));
    std::string text;
    const RECT r = b[0]->ButtonRect();
    EXPECT_TRUE(ToolTipAt(fresh, POINT{r.left + 2, -5}, &text, nullptr));
    EXPECT_EQ(text, "hint 0");
    EXPECT_EQ(SendMessageA(TacCustomCaptionButton::ToolTipWindow(), TTM_GETTOOLCOUNT, 0, 0), 3);
}

TEST_F(CaptionButtonTest, DestroyingButtonsLeavesTheOthersLaidOutAndTheLastRemovesTheList) {
    delete b[1];
    EXPECT_EQ(Order(), (std::vector<TacCustomCaptionButton*>{b[2], b[0]}));
    EXPECT_EQ(b[0]->SlotOffset(), 2 * GetSystemMetrics(SM_CXSIZE) - 2);
    delete b[2];
    delete b[0];
    EXPECT_TRUE(Order().empty());
    EXPECT_EQ(TacCustomCaptionButton::ToolTipWindow(), 0u);
}

TEST_F(CaptionButtonTest, SignFontIsAlwaysSizedToTheTitleBar) {
    fw::TFont big;
    big.SetName("Arial");
    big.SetHeight(-18);
    b[0]->SetSignFont(big);
    EXPECT_EQ(b[0]->SignFont()->Height(), 7 - GetSystemMetrics(SM_CYSIZE));
    EXPECT_EQ(b[0]->SignFont()->Name(), "Arial");
}

}  // namespace

namespace {

using namespace win;

class AutoRunLike : public TacCaptionButtonWithMenuItem {
public:
    using TacCaptionButtonWithMenuItem::TacCaptionButtonWithMenuItem;
    bool AutoRun() const override { return false; }
};

TEST_F(CaptionButtonTest, PopupMenuIsTheSubmenuOfTheItemAndItsCommandsReachTheItems) {
    auto* menu = new fw::TPopupMenu(form);
    auto* item = new fw::TMenuItem(form);
    item->SetCaption("Now");
    int clicks = 0;
    item->OnClick = [&](fw::TObject*) { ++clicks; };
    menu->Items()->Add(item);
    b[0]->SystemMenu()->SetApplyToMenu(true);
    b[0]->SetPopupMenu(menu);
    HMENU sys = GetSystemMenu(wnd, FALSE);
    const UINT state = GetMenuState(sys, b[0]->ButtonId(), MF_BYCOMMAND);
    ASSERT_NE(state, static_cast<UINT>(-1));
    EXPECT_TRUE(state & MF_POPUP);
    form->Perform(WM_SYSCOMMAND, item->Command(), 0);
    EXPECT_EQ(clicks, 1);
    delete menu;
    EXPECT_EQ(b[0]->PopupMenu(), nullptr);
}

TEST_F(CaptionButtonTest, BoundComponentMirrorsTheAutoRunState) {
    auto* autoRun = new AutoRunLike(form);
    auto* item = new fw::TMenuItem(form);
    autoRun->SetMenuItem(item);
    autoRun->SetAutoRun(true);
    EXPECT_TRUE(item->Checked());
    b[1]->SetAllowPress(true);
    autoRun->SetMenuItem(b[1]);
    autoRun->SetAutoRun(true);
    EXPECT_TRUE(b[1]->Down());
    delete b[1];
    EXPECT_EQ(autoRun->MenuItem(), nullptr);
    autoRun->SetAutoRun(false);  // nothing bound: nothing happens
}

}  // namespace
