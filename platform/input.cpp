#include "platform/input.h"

#include <QCursor>
#include <QGuiApplication>

namespace win {

BOOL GetCursorPos(POINT* point) {
    if (!point || !qobject_cast<QGuiApplication*>(qApp))
        return FALSE;
    const QPoint p = QCursor::pos();
    point->x = p.x();
    point->y = p.y();
    return TRUE;
}

SHORT GetKeyState(int virtualKey) {
    if (!qobject_cast<QGuiApplication*>(qApp))
        return 0;
    bool down = false;
    switch (virtualKey) {
        case VK_SHIFT:
            down = QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
            break;
        case VK_CONTROL:
            down = QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
            break;
        case VK_MENU:
            down = QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier;
            break;
        case VK_LBUTTON:
            down = QGuiApplication::mouseButtons() & Qt::LeftButton;
            break;
        case VK_RBUTTON:
            down = QGuiApplication::mouseButtons() & Qt::RightButton;
            break;
        case VK_MBUTTON:
            down = QGuiApplication::mouseButtons() & Qt::MiddleButton;
            break;
        default:
            break;
    }
    return down ? static_cast<SHORT>(0x8000) : 0;
}

}  // namespace win
