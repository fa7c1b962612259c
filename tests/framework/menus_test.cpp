// Popup menus: the platform menu made from the items (captions, separators,
// states, submenus), command ids that find their item, and Popup running the
// chosen item's click after the menu closed.
#include "framework/menus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework_fixture.h"

namespace fw {
namespace {

using namespace win;
using test::FrameworkTest;

// Chooses the item whose text is `pick` (or none) when a menu is tracked.
class PickingPresenter : public MenuPresenter {
public:
    std::string pick;
    std::vector<std::string> shown;
    UINT Track(HMENU menu, UINT, int, int, HWND) override {
        shown.clear();
        UINT chosen = 0;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            const std::string text = GetMenuString(menu, static_cast<UINT>(i), MF_BYPOSITION);
            const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
            std::string entry = (state & MF_SEPARATOR) ? "-" : text;
            if (state & MF_GRAYED)
                entry += " grey";
            if (state & MF_CHECKED)
                entry += " checked";
            if (state & MFS_DEFAULT)
                entry += " default";
            if (state & MF_POPUP)
                entry += " sub" + std::to_string(GetMenuItemCount(GetSubMenu(menu, i)));
            shown.push_back(entry);
            if (!pick.empty() && text == pick)
                chosen = GetMenuItemID(menu, i);
        }
        return chosen;
    }
    void Close() override {}
};

class MenusTest : public FrameworkTest {
protected:
    void SetUp() override {
        menu = new TPopupMenu(&app);
        SetMenuPresenter(&presenter);
    }
    void TearDown() override { InstallMenuPresenter(); }
    TMenuItem* Add(TMenuItem* parent, const std::string& caption) {
        auto* item = new TMenuItem(&app);
        item->SetCaption(caption);
        item->OnClick = [this, caption](TObject*) { clicked.push_back(caption); };
        parent->Add(item);
        return item;
    }
    PickingPresenter presenter;
    TPopupMenu* menu = nullptr;
    std::vector<std::string> clicked;
};

TEST_F(MenusTest, HandleShowsTheItemsWithTheirStates) {
    TMenuItem* open = Add(menu->Items(), "&Open");
    open->SetDefault(true);
    Add(menu->Items(), "-");
    Add(menu->Items(), "&Auto-run")->SetChecked(true);
    Add(menu->Items(), "Gone")->SetVisible(false);
    TMenuItem* more = Add(menu->Items(), "More");
    Add(more, "Deep")->SetEnabled(false);
    presenter.pick = "";
    menu->Popup(10, 10);
    EXPECT_EQ(presenter.shown,
              (std::vector<std::string>{"&Open default", "-", "&Auto-run checked", "More sub1"}));
    EXPECT_TRUE(clicked.empty());
}

TEST_F(MenusTest, PopupRunsTheChosenItemsClickAndCommandsFindTheirItem) {
    int popups = 0;
    menu->OnPopup = [&](TObject*) { ++popups; };
    TMenuItem* a = Add(menu->Items(), "A");
    TMenuItem* b = Add(menu->Items(), "B");
    presenter.pick = "B";
    menu->Popup(0, 0);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(clicked, std::vector<std::string>{"B"});
    EXPECT_NE(a->Command(), b->Command());
    EXPECT_TRUE(menu->DispatchCommand(a->Command()));
    b->SetEnabled(false);
    EXPECT_TRUE(menu->DispatchCommand(b->Command()));  // known, but disabled: no click
    EXPECT_EQ(clicked, (std::vector<std::string>{"B", "A"}));
    const UINT gone = a->Command();
    delete a;
    EXPECT_FALSE(menu->DispatchCommand(gone));
    EXPECT_EQ(menu->Items()->Count(), 1);
}

}  // namespace
}  // namespace fw
