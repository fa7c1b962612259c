#include "shell/caption_button.h"

#include <QPainter>
#include <algorithm>
#include <array>

#include "framework/form.h"
#include "platform/capture.h"
#include "platform/gdi.h"
#include "platform/kernel.h"
#include "platform/menu.h"
#include "platform/metrics.h"
#include "platform/module.h"
#include "platform/tooltip.h"
#include "platform/window_pos.h"

using namespace win;

namespace {

constexpr DWORD WS_EX_CONTEXTHELP = 0x00000400;

// The buttons of each window, in order.
std::map<HWND, std::vector<TacCustomCaptionButton*>>& Registry() {
    static std::map<HWND, std::vector<TacCustomCaptionButton*>> registry;
    return registry;
}

UINT g_nextId = kFirstCaptionButtonId;
UINT_PTR g_nextToolId = 0;
HWND g_toolTip = 0;

HWND ToolTip() {
    if (!g_toolTip || !IsWindow(g_toolTip)) {
        InitCommonControls();
        g_toolTip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                    WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0, 0, 0, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
    }
    return g_toolTip;
}

// The five XP backgrounds, indexed by XPStyleColor.
const fw::TBitmap& XPBitmap(TacCaptionButtonXPStyleColor color) {
    static std::array<fw::TBitmap, 5> bitmaps;
    static bool loaded = false;
    if (!loaded) {
        const char* names[] = {"ACCB_XP_BLUE", "ACCB_XP_GREEN", "ACCB_XP_RED", "ACCB_XP_YELLOW",
                               "ACCB_XP_BROWN"};
        for (size_t i = 0; i < bitmaps.size(); ++i)
            bitmaps[i].LoadFromResourceName(names[i]);
        loaded = true;
    }
    return bitmaps[static_cast<size_t>(color)];
}

QColor ColorOf(COLORREF c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// The glyph colours: button text for the classic look, white for the XP look.
QColor GlyphColor(bool xp) {
    return xp ? QColor(Qt::white) : ColorOf(GetSysColor(COLOR_BTNTEXT));
}

bool ThemeActive() {
    using IsThemeActiveFn = BOOL (*)();
    static int active = -1;
    if (active < 0) {
        active = 0;
        if (HMODULE lib = LoadLibraryA("uxtheme.dll")) {
            auto fn = reinterpret_cast<IsThemeActiveFn>(GetProcAddress(lib, "IsThemeActive"));
            active = fn && fn() ? 1 : 0;
        }
    }
    return active == 1;
}

}  // namespace

// --- TacSystemMenu --------------------------------------------------------------

void TacSystemMenu::SetApplyToMenu(bool v) {
    Remove();
    applyToMenu_ = v;
    Insert();
}

void TacSystemMenu::SetCaption(const std::string& v) {
    Remove();
    caption_ = v;
    Insert();
}

void TacSystemMenu::SetPosition(WORD v) {
    Remove();
    position_ = v;
    Insert();
}

void TacSystemMenu::SetSeparators(TacMenuSeparators v) {
    Remove();
    separators_ = v;
    Insert();
}

void TacSystemMenu::Insert() {
    if (!applyToMenu_ || inserted_ || !button_->HookedWindow())
        return;
    HMENU menu = button_->SystemMenuHandle();
    if (!menu)
        return;
    const int count = GetMenuItemCount(menu);
    UINT p = position_;
    if (static_cast<int>(p) > count + 1)
        p = static_cast<UINT>(count);
    const UINT id = button_->ButtonId();
    const std::string text = caption_.empty() ? button_->Hint() : caption_;
    MENUITEMINFOA item;
    item.fMask = MIIM_STATE | MIIM_ID | MIIM_CHECKMARKS | MIIM_TYPE | MIIM_DATA;
    item.fType = MFT_STRING;
    item.fState = MFS_DEFAULT;
    item.wID = id;
    item.dwTypeData = const_cast<LPSTR>(text.c_str());
    if (button_->PopupMenu() && !button_->ComponentState().Contains(fw::csDesigning)) {
        item.fMask |= MIIM_SUBMENU;
        item.hSubMenu = button_->PopupMenu()->Handle();
    }
    InsertMenuItemA(menu, p, TRUE, &item);
    MENUITEMINFOA separator;
    separator.fMask = MIIM_ID | MIIM_TYPE;
    separator.fType = MFT_SEPARATOR;
    if (separators_.Contains(seBefore)) {
        separator.wID = id + 1000;
        InsertMenuItemA(menu, p, TRUE, &separator);
        p += 2;
    } else {
        p += 1;
    }
    if (separators_.Contains(seAfter)) {
        separator.wID = id + 2000;
        InsertMenuItemA(menu, p, TRUE, &separator);
    }
    if (!button_->Enabled())
        EnableMenuItem(menu, id, MF_BYCOMMAND | MF_GRAYED);
    inserted_ = true;
    CheckMenuItem(menu, id,
                  MF_BYCOMMAND | (button_->MenuItemChecked() ? MF_CHECKED : MF_UNCHECKED));
}

void TacSystemMenu::Remove() {
    if (!inserted_)
        return;
    inserted_ = false;
    HMENU menu = button_->HookedWindow() ? button_->SystemMenuHandle() : nullptr;
    if (!menu)
        return;
    const UINT id = button_->ButtonId();
    // The popup menu's handle is the item's submenu: keep it for the menu.
    RemoveMenu(menu, id, MF_BYCOMMAND);
    if (separators_.Contains(seBefore))
        DeleteMenu(menu, id + 1000, MF_BYCOMMAND);
    if (separators_.Contains(seAfter))
        DeleteMenu(menu, id + 2000, MF_BYCOMMAND);
}

// --- TacACaptionButton ------------------------------------------------------------

TacBtnOrder TacACaptionButton::BtnOrder() const {
    return button_->BtnOrder();
}
void TacACaptionButton::SetBtnOrder(TacBtnOrder v) {
    button_->SetBtnOrder(v);
}
short TacACaptionButton::Cursor() const {
    return button_->Cursor();
}
void TacACaptionButton::SetCursor(short v) {
    button_->SetCursor(v);
}
short TacACaptionButton::CursorDown() const {
    return button_->CursorDown();
}
void TacACaptionButton::SetCursorDown(short v) {
    button_->SetCursorDown(v);
}
bool TacACaptionButton::Enabled() const {
    return button_->Enabled();
}
void TacACaptionButton::SetEnabled(bool v) {
    button_->SetEnabled(v);
}
const std::string& TacACaptionButton::Hint() const {
    return button_->Hint();
}
void TacACaptionButton::SetHint(const std::string& v) {
    button_->SetHint(v);
}
BYTE TacACaptionButton::SeparatorWidth() const {
    return button_->SeparatorWidth();
}
void TacACaptionButton::SetSeparatorWidth(BYTE v) {
    button_->SetSeparatorWidth(v);
}
bool TacACaptionButton::ShowHint() const {
    return button_->ShowHint();
}
void TacACaptionButton::SetShowHint(bool v) {
    button_->SetShowHint(v);
}
TacCaptionButtonStyle TacACaptionButton::Style() const {
    return button_->Style();
}
void TacACaptionButton::SetStyle(TacCaptionButtonStyle v) {
    button_->SetStyle(v);
}
bool TacACaptionButton::Visible() const {
    return button_->Visible();
}
void TacACaptionButton::SetVisible(bool v) {
    button_->SetVisible(v);
}
TacCaptionButtonXPStyleColor TacACaptionButton::XPStyleColor() const {
    return button_->XPStyleColor();
}
void TacACaptionButton::SetXPStyleColor(TacCaptionButtonXPStyleColor v) {
    button_->SetXPStyleColor(v);
}

// --- TacCustomCaptionButton -------------------------------------------------------

TacCustomCaptionButton::TacCustomCaptionButton(fw::TComponent* AOwner)
    : TacHFormHookComponentWatchCaption(AOwner),
      systemMenu_(new TacSystemMenu(this)),
      captionButton_(new TacACaptionButton(this)),
      id_(g_nextId++),
      toolId_(g_nextToolId++) {
    signFont_.SetName("Arial");
    signFont_.SetColor(ColorOf(GetSysColor(COLOR_BTNTEXT)));
    signFont_.SetHeight(7 - GetSystemMetrics(SM_CYSIZE));
    // Any change of the sign font keeps it sized to the title bar.
    signFont_.OnChange = [this](fw::TObject*) {
        const int height = 7 - GetSystemMetrics(SM_CYSIZE);
        if (signFont_.Height() != height) {
            signFont_.SetHeight(height);
            return;
        }
        Redraw();
    };
    glyph_.OnChange = [this](fw::TObject*) { Redraw(); };
    glyphDown_.OnChange = [this](fw::TObject*) { Redraw(); };
    listWindow_ = HookedWindow();
    Registry()[listWindow_].push_back(this);
    Layout();
    // A button made at run time has no end of loading to wait for.
    if (!IsLoading())
        RegisterToolTip();
}

TacCustomCaptionButton::~TacCustomCaptionButton() {
    Destroying();
    systemMenu_->Remove();
    SetVisible(false);
    auto& registry = Registry();
    auto it = registry.find(listWindow_);
    if (it != registry.end()) {
        std::erase(it->second, this);
        if (it->second.empty()) {
            registry.erase(it);
        } else {
            it->second.front()->Layout();
        }
    }
    RemoveToolTip();
    if (registry.empty() && g_toolTip) {
        DestroyWindow(g_toolTip);
        g_toolTip = 0;
    }
    if (GetCapture() == HookedWindow() && tracking_)
        ReleaseCapture();
    delete systemMenu_;
    delete captionButton_;
}

void TacCustomCaptionButton::Loaded() {
    TacHFormHookComponentWatchCaption::Loaded();
    SortByPendingOrder();
    RegisterToolTip();
}

std::vector<TacCustomCaptionButton*>* TacCustomCaptionButton::List() const {
    auto& registry = Registry();
    auto it = registry.find(listWindow_);
    return it == registry.end() ? nullptr : &it->second;
}

std::vector<TacCustomCaptionButton*> TacCustomCaptionButton::ButtonsOf(HWND wnd) {
    auto& registry = Registry();
    auto it = registry.find(wnd);
    return it == registry.end() ? std::vector<TacCustomCaptionButton*>{} : it->second;
}

HWND TacCustomCaptionButton::ToolTipWindow() {
    return g_toolTip;
}

void TacCustomCaptionButton::SortByPendingOrder() {
    auto* list = List();
    if (!list)
        return;
    bool moved = false;
    // Bubble sort: equal orders keep their places.
    for (size_t n = list->size(); n > 1; --n) {
        for (size_t i = 0; i + 1 < n; ++i) {
            if ((*list)[i]->pendingOrder_ > (*list)[i + 1]->pendingOrder_) {
                std::swap((*list)[i], (*list)[i + 1]);
                moved = true;
            }
        }
    }
    if (moved)
        Layout();
}

TacBtnOrder TacCustomCaptionButton::BtnOrder() const {
    auto* list = List();
    if (!list)
        return -1;
    auto it = std::find(list->begin(), list->end(), this);
    return it == list->end() ? -1 : static_cast<TacBtnOrder>(it - list->begin());
}

void TacCustomCaptionButton::SetBtnOrder(TacBtnOrder v) {
    if (IsLoading()) {
        pendingOrder_ = v;
        return;
    }
    auto* list = List();
    if (!list)
        return;
    v = std::clamp(v, 0, static_cast<int>(list->size()) - 1);
    std::erase(*list, this);
    list->insert(list->begin() + v, this);
    Layout();
}

void TacCustomCaptionButton::Layout() {
    auto* list = List();
    if (!list || list->empty())
        return;
    const bool tool =
        (WindowExStyle() & WS_EX_TOOLWINDOW) && !ComponentState().Contains(fw::csDesigning);
    const int w = GetSystemMetrics(tool ? SM_CXSMSIZE : SM_CXSIZE);
    int offset = 2;
    for (TacCustomCaptionButton* b : *list) {
        if (!b->visible_)
            continue;
        offset += b->separatorWidth_ + w - 2;
        b->slot_ = offset;
    }
    RedrawFrame();
}

// --- Painting --------------------------------------------------------------------

void TacCustomCaptionButton::ComputeRect() {
    const DWORD style = WindowStyle();
    const DWORD exStyle = WindowExStyle();
    RECT wr;
    GetWindowRect(HookedWindow(), &wr);
    int W = wr.right - wr.left;
    int w, h;
    if (exStyle & WS_EX_TOOLWINDOW) {
        w = GetSystemMetrics(SM_CXSMSIZE);
        h = GetSystemMetrics(SM_CYSMSIZE);
    } else {
        w = GetSystemMetrics(SM_CXSIZE);
        h = GetSystemMetrics(SM_CYSIZE);
        const bool minMax = style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
        if (!minMax && (exStyle & WS_EX_CONTEXTHELP))
            W -= w;
        if (minMax)
            W -= 2 * w;
    }
    if (style & WS_SYSMENU)
        W -= w;
    const bool dlg = IsIconic(HookedWindow()) || !(style & WS_THICKFRAME);
    const int fx = GetSystemMetrics(dlg ? SM_CXDLGFRAME : SM_CXFRAME);
    const int fy = GetSystemMetrics(dlg ? SM_CYDLGFRAME : SM_CYFRAME);
    rect_.left = W - slot_ - 2 * fx;
    rect_.top = fy + 2;
    rect_.right = rect_.left + w - 2;
    rect_.bottom = h - 5;
}

bool TacCustomCaptionButton::XPLook() const {
    return style_ == cbsWinXP || (style_ == cbsAuto && ThemeActive());
}

void TacCustomCaptionButton::Redraw() {
    Paint(drawnPressed_ || down_);
}

void TacCustomCaptionButton::DrawPressed(bool pressed) {
    drawnPressed_ = pressed;
    Paint(pressed || down_);
}

void TacCustomCaptionButton::Paint(bool pressed) {
    if (!visible_ || IsLoading() || !HookedWindow())
        return;
    if ((WindowStyle() & WS_CAPTION) != WS_CAPTION)
        return;
    ComputeRect();
    HDC dc = GetWindowDC(HookedWindow());
    if (!dc) {
        // Nothing is being painted now: the frame's next paint draws us.
        RedrawFrame();
        return;
    }
    QPainter& p = *DCPainter(dc);
    const bool tool = WindowExStyle() & WS_EX_TOOLWINDOW;
    const int w = GetSystemMetrics(tool ? SM_CXSMSIZE : SM_CXSIZE);
    const int h = GetSystemMetrics(tool ? SM_CYSMSIZE : SM_CYSIZE);
    const int fy = rect_.top - 2;
    const QRect image(rect_.left + fy + 2, rect_.top, w - 2, h - 4);
    const int down = pressed ? 1 : 0;
    const bool xp = XPLook();
    p.save();
    p.setClipRect(image);
    if (xp) {
        fw::TBitmap::DrawOptions o;
        o.transparentColor = QColor(0xFF, 0x00, 0xFF);
        XPBitmap(xpStyleColor_).Draw(p, image, o);
    } else {
        RECT r{image.left(), image.top(), image.right() + 1, image.bottom() + 1};
        DrawFrameControl(dc, &r, DFC_BUTTON,
                         DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (pressed ? DFCS_PUSHED : 0));
    }
    const QColor glyphColor = GlyphColor(xp);
    if (glyph_.Empty()) {
        p.setFont(signFont_.ToQFont());
        const QString text(QChar::fromLatin1(sign_));
        const int cx = image.left() + w / 2 + signLeft_ + down - 1;
        const int y = image.top() + signTop_ + down;
        const QRect box(cx - w, y, 2 * w, image.height() + 4);
        auto draw = [&](QColor c, int dx) {
            p.setPen(c);
            p.drawText(box.translated(dx, dx), Qt::AlignHCenter | Qt::AlignTop, text);
        };
        if (!enabled_) {
            draw(ColorOf(GetSysColor(COLOR_BTNHIGHLIGHT)), 1);
            draw(ColorOf(GetSysColor(COLOR_BTNSHADOW)), 0);
        } else {
            draw(xp ? QColor(Qt::white) : signFont_.Color(), 0);
        }
    } else {
        const fw::TBitmap& g = pressed && !glyphDown_.Empty() ? glyphDown_ : glyph_;
        fw::TBitmap::DrawOptions o;
        o.transparent = glyphTransparent_;
        o.transparentColor = QColor(0xFF, 0x00, 0xFF);
        if (glyphUseBtnTextColor_)
            o.recolor = glyphColor;
        o.greyed = !enabled_;
        const QRect box(image.left() + 2 + down, image.top() + 2 + down, w - 6, h - 8);
        g.Draw(p, box, o);
    }
    p.restore();
    ReleaseDC(HookedWindow(), dc);
}

// --- Hit testing, mouse and messages ------------------------------------------------

int TacCustomCaptionButton::CaptionHeight() const {
    return GetSystemMetrics((WindowExStyle() & WS_EX_TOOLWINDOW) ? SM_CYSMCAPTION : SM_CYCAPTION);
}

bool TacCustomCaptionButton::HitTest(POINT screen) const {
    POINT p = screen;
    ScreenToClient(HookedWindow(), &p);
    if (rect_.left < p.x && p.x <= rect_.right + 1 && p.y < 0)
        return true;
    const int fy = rect_.top - 2;
    return IsIconic(HookedWindow()) && fy < p.y && p.y < fy + rect_.top + rect_.bottom;
}

void TacCustomCaptionButton::ApplyCursor(short cursor) {
    win::SetCursor(fw::CursorHandle(cursor));
}

void TacCustomCaptionButton::BeforeMessage(fw::TMessage& m, bool& handled) {
    TacHFormHookComponentWatchCaption::BeforeMessage(m, handled);
    switch (m.Msg) {
        case WM_SETCURSOR:
            if (LOWORD(static_cast<DWORD_PTR>(m.LParam)) == id_) {
                ApplyCursor(drawnPressed_ ? cursorDown_ : cursor_);
                m.Result = TRUE;
                handled = true;
            }
            break;
        case WM_NCLBUTTONDBLCLK:
            // A fast second click presses again.
            if (m.WParam == id_)
                m.Msg = WM_NCLBUTTONDOWN;
            break;
        case WM_NCRBUTTONDOWN:
        case WM_NCRBUTTONUP:
            if (m.WParam == id_) {
                m.Result = 0;
                handled = true;
            }
            break;
        default:
            break;
    }
}

void TacCustomCaptionButton::ReleaseTracking() {
    tracking_ = false;
    ReleaseCapture();
}

void TacCustomCaptionButton::ToggleDown(bool fromMenu) {
    SetDown(!down_);
    if (fromMenu)
        CheckSystemMenuItem(down_);
    if (down_)
        Pressed();
    else
        Released();
}

void TacCustomCaptionButton::AfterMessage(fw::TMessage& m) {
    TacHFormHookComponentWatchCaption::AfterMessage(m);
    if (menuShown_) {
        const HWND capture = GetCapture();
        if (capture && capture != HookedWindow())
            return;
        menuShown_ = false;
    }
    switch (m.Msg) {
        case WM_NCHITTEST: {
            if (m.Result != HTCAPTION || !visible_)
                break;
            const POINT screen{fw::GetXLParam(m.LParam), fw::GetYLParam(m.LParam)};
            if (HitTest(screen)) {
                if (tracking_ && !drawnPressed_)
                    DrawPressed(true);
                m.Result = static_cast<LRESULT>(id_);
            } else if (!down_ && drawnPressed_) {
                DrawPressed(false);
            }
            break;
        }
        case WM_NCLBUTTONDOWN:
            if (!enabled_ || !visible_)
                break;
            if (m.WParam == id_) {
                DrawPressed(true);
                ApplyCursor(cursorDown_);
                tracking_ = true;
                SetCapture(HookedWindow());
            } else {
                if (!down_ && drawnPressed_)
                    DrawPressed(false);
                if (tracking_)
                    ReleaseTracking();
            }
            break;
        case WM_NCLBUTTONUP:
        case WM_LBUTTONUP:
            if (!tracking_)
                break;
            ReleaseTracking();
            if (drawnPressed_) {
                BeforeButtonClick();
                if (allowPress_)
                    ToggleDown(false);
                ButtonClick();
                if (popupMenu_ && !IsDestroying()) {
                    POINT at{rect_.left + 2, -2};
                    ClientToScreen(HookedWindow(), &at);
                    menuShown_ = true;
                    popupMenu_->Popup(at.x, at.y);
                }
            }
            if (!allowPress_)
                DrawPressed(false);
            break;
        case WM_MOUSEMOVE: {
            if (!tracking_ || down_ || !drawnPressed_)
                break;
            const unsigned y = HIWORD(static_cast<DWORD_PTR>(m.LParam));
            if (y < static_cast<unsigned>(65535 - CaptionHeight()))
                DrawPressed(false);
            break;
        }
        case WM_NCLBUTTONDBLCLK:
            if (m.WParam == static_cast<WPARAM>(HTCAPTION) && OnCaptionDblClick)
                OnCaptionDblClick(this);
            break;
        case WM_SYSCOMMAND:
            if (popupMenu_) {
                popupMenu_->DispatchCommand(static_cast<UINT>(m.WParam));
            } else if (m.WParam == id_) {
                BeforeMenuClick();
                if (allowPress_)
                    ToggleDown(true);
                MenuClick();
            }
            break;
        case WM_NCPAINT:
        case WM_NCACTIVATE:
            Redraw();
            UpdateToolTip();
            break;
        case WM_ACRESETMENUITEM:
            systemMenu_->Remove();
            systemMenu_->Insert();
            break;
        default:
            break;
    }
}

void TacCustomCaptionButton::ReHooked() {
    TacHFormHookComponentWatchCaption::ReHooked();
    // The window's list goes with it to the new handle, in its order.
    const HWND wnd = HookedWindow();
    if (listWindow_ != wnd) {
        auto& registry = Registry();
        auto node = registry.extract(listWindow_);
        if (!node.empty()) {
            node.key() = wnd;
            registry.insert(std::move(node));
            for (TacCustomCaptionButton* b : registry[wnd])
                b->listWindow_ = wnd;
        }
        listWindow_ = wnd;
    }
    RemoveToolTip();
    RegisterToolTip();
    Layout();
    systemMenu_->Remove();
    systemMenu_->Insert();
}

void TacCustomCaptionButton::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
    TacHFormHookComponentWatchCaption::Notification(AComponent, Operation);
    if (Operation == fw::opRemove && AComponent == popupMenu_)
        popupMenu_ = nullptr;
}

// --- Events ----------------------------------------------------------------------------

void TacCustomCaptionButton::ButtonClick() {
    if (OnButtonClick)
        OnButtonClick(this);
    Click();
}

void TacCustomCaptionButton::MenuClick() {
    if (OnMenuClick)
        OnMenuClick(this);
    Click();
}

void TacCustomCaptionButton::Click() {
    if (OnClick)
        OnClick(this);
}

void TacCustomCaptionButton::Pressed() {
    if (OnPressed)
        OnPressed(this);
}

void TacCustomCaptionButton::Released() {
    if (OnReleased)
        OnReleased(this);
}

// --- Tooltip -----------------------------------------------------------------------------

void TacCustomCaptionButton::RegisterToolTip() {
    if (toolRegistered_ || !HookedWindow())
        return;
    TOOLINFOA ti;
    ti.uFlags = TTF_SUBCLASS;
    ti.hwnd = HookedWindow();
    ti.uId = toolId_;
    ti.hinst = GetModuleHandleA(nullptr);
    SendMessageA(ToolTip(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    toolRegistered_ = true;
    toolWindow_ = ti.hwnd;
    UpdateToolTip();
}

void TacCustomCaptionButton::RemoveToolTip() {
    if (!toolRegistered_)
        return;
    toolRegistered_ = false;
    if (!g_toolTip)
        return;
    TOOLINFOA ti;
    ti.hwnd = toolWindow_;
    ti.uId = toolId_;
    SendMessageA(g_toolTip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

void TacCustomCaptionButton::UpdateToolTip() {
    if (!toolRegistered_ || !g_toolTip)
        return;
    TOOLINFOA ti;
    ti.uFlags = TTF_SUBCLASS;
    ti.hwnd = HookedWindow();
    ti.uId = toolId_;
    ti.hinst = GetModuleHandleA(nullptr);
    if (visible_ && enabled_ && showHint_ && !hint_.empty()) {
        const int menuBar = GetMenu(HookedWindow()) ? GetSystemMetrics(SM_CYMENU) : 0;
        ti.rect = RECT{rect_.left + 1, -CaptionHeight() - menuBar, rect_.right + 1, -menuBar};
        ti.lpszText = const_cast<LPSTR>(hint_.c_str());
    }
    SendMessageA(g_toolTip, TTM_SETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&ti));
}

// --- Setters --------------------------------------------------------------------------

void TacCustomCaptionButton::SetAllowPress(bool v) {
    allowPress_ = v;
    if (!v && !tracking_)
        SetDown(false);
}

void TacCustomCaptionButton::SetDown(bool v) {
    if (!allowPress_)
        v = false;
    if (v == down_)
        return;
    down_ = v;
    CheckSystemMenuItem(v);
    Redraw();
}

void TacCustomCaptionButton::CheckSystemMenuItem(bool checked) {
    if (systemMenu_->Inserted())
        CheckMenuItem(SystemMenuHandle(), id_,
                      MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void TacCustomCaptionButton::SetEnabled(bool v) {
    enabled_ = v;
    if (systemMenu_->Inserted())
        EnableMenuItem(SystemMenuHandle(), id_, MF_BYCOMMAND | (v ? MF_ENABLED : MF_GRAYED));
    UpdateToolTip();
    Redraw();
}

void TacCustomCaptionButton::SetGlyphTransparent(bool v) {
    glyphTransparent_ = v;
    Redraw();
}

void TacCustomCaptionButton::SetGlyphUseBtnTextColor(bool v) {
    glyphUseBtnTextColor_ = v;
    Redraw();
}

void TacCustomCaptionButton::SetHint(const std::string& v) {
    hint_ = v;
    UpdateToolTip();
}

void TacCustomCaptionButton::SetPopupMenu(fw::TPopupMenu* v) {
    if (popupMenu_ == v)
        return;
    systemMenu_->Remove();
    popupMenu_ = v;
    if (v)
        v->FreeNotification(this);
    systemMenu_->Insert();
}

void TacCustomCaptionButton::SetSeparatorWidth(BYTE v) {
    separatorWidth_ = v;
    Layout();
}

void TacCustomCaptionButton::SetShowHint(bool v) {
    showHint_ = v;
    UpdateToolTip();
}

void TacCustomCaptionButton::SetSign(char v) {
    sign_ = v;
    Redraw();
}

void TacCustomCaptionButton::SetSignLeft(int v) {
    signLeft_ = v;
    Redraw();
}

void TacCustomCaptionButton::SetSignTop(int v) {
    signTop_ = v;
    Redraw();
}

void TacCustomCaptionButton::SetStyle(TacCaptionButtonStyle v) {
    style_ = v;
    Redraw();
}

void TacCustomCaptionButton::SetXPStyleColor(TacCaptionButtonXPStyleColor v) {
    xpStyleColor_ = v;
    Redraw();
}

void TacCustomCaptionButton::SetVisible(bool v) {
    visible_ = v;
    UpdateToolTip();
    Layout();
}

// --- TacCaptionButtonWithMenuItem ---------------------------------------------------

TacCaptionButtonWithMenuItem::~TacCaptionButtonWithMenuItem() {
    SetMenuItem(nullptr);
}

fw::TNotifyEvent* TacCaptionButtonWithMenuItem::BoundOnClick() const {
    if (auto* button = dynamic_cast<TacCustomCaptionButton*>(menuItem_))
        return &button->OnClick;
    if (auto* item = dynamic_cast<fw::TMenuItem*>(menuItem_))
        return &item->OnClick;
    return nullptr;
}

void TacCaptionButtonWithMenuItem::SetMenuItem(fw::TComponent* v) {
    if (v == menuItem_)
        return;
    if (fw::TNotifyEvent* onClick = BoundOnClick())
        *onClick = std::move(savedOnClick_);
    savedOnClick_ = nullptr;
    if (menuItem_)
        menuItem_->RemoveFreeNotification(this);
    menuItem_ = v;
    if (!v)
        return;
    v->FreeNotification(this);
    if (ComponentState().Contains(fw::csDesigning))
        return;
    TacCaptionButtonWithMenuItem::SetAutoRun(AutoRun());
    if (fw::TNotifyEvent* onClick = BoundOnClick()) {
        savedOnClick_ = std::move(*onClick);
        *onClick = [this](fw::TObject*) { BoundClicked(); };
    }
}

void TacCaptionButtonWithMenuItem::BoundClicked() {
    bool state;
    if (auto* button = dynamic_cast<TacCustomCaptionButton*>(menuItem_)) {
        state = button->Down();
    } else if (auto* item = dynamic_cast<fw::TMenuItem*>(menuItem_)) {
        state = !item->Checked();
        item->SetChecked(state);
    } else {
        return;
    }
    SetAutoRun(state);
}

void TacCaptionButtonWithMenuItem::SetAutoRun(bool Value) {
    if (auto* button = dynamic_cast<TacCustomCaptionButton*>(menuItem_))
        button->SetDown(Value);
    else if (auto* item = dynamic_cast<fw::TMenuItem*>(menuItem_))
        item->SetChecked(Value);
}

void TacCaptionButtonWithMenuItem::Notification(fw::TComponent* AComponent,
                                                fw::TOperation Operation) {
    TacCustomCaptionButton::Notification(AComponent, Operation);
    if (Operation == fw::opRemove && AComponent == menuItem_)
        menuItem_ = nullptr;
}
