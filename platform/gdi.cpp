#include "platform/gdi.h"

#include <QColor>
#include <QPainter>
#include <map>

namespace win {
namespace {

std::map<HWND, QPainter*> g_painters;

QColor ToQColor(COLORREF c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

}  // namespace

void SetWindowPainter(HWND hwnd, QPainter* painter) {
    if (painter)
        g_painters[hwnd] = painter;
    else
        g_painters.erase(hwnd);
}

HDC GetWindowDC(HWND hwnd) {
    auto it = g_painters.find(hwnd);
    return it == g_painters.end() ? nullptr : static_cast<HDC>(it->second);
}

int ReleaseDC(HWND, HDC dc) {
    return dc ? 1 : 0;
}

QPainter* DCPainter(HDC dc) {
    return static_cast<QPainter*>(dc);
}

COLORREF GetSysColor(int index) {
    // The classic grey look.
    switch (index) {
        case COLOR_BTNFACE:
            return RGB(0xD4, 0xD0, 0xC8);
        case COLOR_BTNSHADOW:
            return RGB(0x80, 0x80, 0x80);
        case COLOR_BTNTEXT:
            return RGB(0, 0, 0);
        case COLOR_BTNHIGHLIGHT:
            return RGB(0xFF, 0xFF, 0xFF);
        case COLOR_3DDKSHADOW:
            return RGB(0x40, 0x40, 0x40);
        case COLOR_3DLIGHT:
            return RGB(0xD4, 0xD0, 0xC8);
        default:
            return 0;
    }
}

BOOL DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state) {
    QPainter* p = DCPainter(dc);
    if (!p || !rect || type != DFC_BUTTON)
        return FALSE;
    const QRect r(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
    if (r.width() < 2 || r.height() < 2)
        return FALSE;
    const bool pushed = state & DFCS_PUSHED;
    p->save();
    p->fillRect(r, ToQColor(GetSysColor(COLOR_BTNFACE)));
    const QColor outerLight = ToQColor(GetSysColor(pushed ? COLOR_3DDKSHADOW : COLOR_BTNHIGHLIGHT));
    const QColor outerDark = ToQColor(GetSysColor(pushed ? COLOR_BTNHIGHLIGHT : COLOR_3DDKSHADOW));
    const QColor innerDark = ToQColor(GetSysColor(COLOR_BTNSHADOW));
    p->setPen(outerLight);
    p->drawLine(r.topLeft(), r.topRight());
    p->drawLine(r.topLeft(), r.bottomLeft());
    p->setPen(outerDark);
    p->drawLine(r.bottomLeft(), r.bottomRight());
    p->drawLine(r.topRight(), r.bottomRight());
    p->setPen(innerDark);
    if (pushed) {
        p->drawLine(r.left() + 1, r.top() + 1, r.right() - 1, r.top() + 1);
        p->drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 1);
    } else {
        p->drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
        p->drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);
    }
    p->restore();
    if (state & DFCS_ADJUSTRECT) {
        rect->left += 2;
        rect->top += 2;
        rect->right -= 2;
        rect->bottom -= 2;
    }
    return TRUE;
}

}  // namespace win
