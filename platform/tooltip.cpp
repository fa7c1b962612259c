#include "platform/tooltip.h"

#include <map>
#include <vector>

#include "platform/kernel.h"

namespace win {
namespace {

struct Tool {
    UINT flags;
    HWND hwnd;
    UINT_PTR id;
    RECT rect;
    std::string text;
};

struct ToolTipWindow {
    bool active = true;
    std::vector<Tool> tools;
};

std::map<HWND, ToolTipWindow> g_tips;

std::vector<Tool>::iterator FindTool(ToolTipWindow& tip, const TOOLINFOA* ti) {
    for (auto it = tip.tools.begin(); it != tip.tools.end(); ++it)
        if (it->hwnd == ti->hwnd && it->id == ti->uId)
            return it;
    return tip.tools.end();
}

std::string TextOf(const TOOLINFOA* ti) {
    // LPSTR_TEXTCALLBACK and resource ids are not kept: no text.
    const auto raw = reinterpret_cast<std::uintptr_t>(ti->lpszText);
    return raw > 0xFFFF ? std::string(ti->lpszText) : std::string();
}

LRESULT ToolTipProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* ti = reinterpret_cast<TOOLINFOA*>(lParam);
    switch (msg) {
        case WM_CREATE:
            g_tips[hwnd];
            return 0;
        case WM_NCDESTROY:
            g_tips.erase(hwnd);
            return 0;
        case TTM_ACTIVATE:
            g_tips[hwnd].active = wParam != 0;
            return 0;
        case TTM_ADDTOOLA: {
            if (!ti)
                return FALSE;
            auto& tip = g_tips[hwnd];
            Tool tool{ti->uFlags, ti->hwnd, ti->uId, ti->rect, TextOf(ti)};
            auto it = FindTool(tip, ti);
            if (it != tip.tools.end())
                *it = tool;
            else
                tip.tools.push_back(tool);
            return TRUE;
        }
        case TTM_DELTOOLA: {
            if (!ti)
                return 0;
            auto& tip = g_tips[hwnd];
            auto it = FindTool(tip, ti);
            if (it != tip.tools.end())
                tip.tools.erase(it);
            return 0;
        }
        case TTM_NEWTOOLRECTA:
        case TTM_SETTOOLINFOA: {
            if (!ti)
                return 0;
            auto& tip = g_tips[hwnd];
            auto it = FindTool(tip, ti);
            if (it == tip.tools.end())
                return 0;
            it->rect = ti->rect;
            if (msg == TTM_SETTOOLINFOA) {
                it->flags = ti->uFlags;
                it->text = TextOf(ti);
            }
            return 0;
        }
        case TTM_GETTOOLINFOA: {
            if (!ti)
                return FALSE;
            auto& tip = g_tips[hwnd];
            auto it = FindTool(tip, ti);
            if (it == tip.tools.end())
                return FALSE;
            ti->uFlags = it->flags;
            ti->rect = it->rect;
            return TRUE;
        }
        case TTM_GETTOOLCOUNT:
            return static_cast<LRESULT>(g_tips[hwnd].tools.size());
        default:
            return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

void InitCommonControls() {
    WNDCLASSA existing;
    if (GetClassInfoA(nullptr, TOOLTIPS_CLASSA, &existing))
        return;
    WNDCLASSA wc;
    wc.lpfnWndProc = &ToolTipProc;
    wc.lpszClassName = TOOLTIPS_CLASSA;
    RegisterClassA(&wc);
}

bool ToolTipAt(HWND hwnd, POINT p, std::string* text, RECT* rect) {
    for (auto& [window, tip] : g_tips) {
        if (!tip.active)
            continue;
        for (const Tool& tool : tip.tools) {
            if (tool.hwnd != hwnd || !(tool.flags & TTF_SUBCLASS) || tool.text.empty())
                continue;
            const RECT& r = tool.rect;
            if (p.x < r.left || p.x >= r.right || p.y < r.top || p.y >= r.bottom)
                continue;
            if (text)
                *text = tool.text;
            if (rect)
                *rect = r;
            return true;
        }
    }
    return false;
}

}  // namespace win
