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
    // The keys and buttons the components ask about, as Qt reports them.
    struct KeyBit {
        int key;
        Qt::KeyboardModifier modifier;
        Qt::MouseButton button;
    };
    static constexpr KeyBit kKeys[] = {
        {VK_SHIFT, Qt::ShiftModifier, Qt::NoButton},
        {VK_CONTROL, Qt::ControlModifier, Qt::NoButton},
        {VK_MENU, Qt::AltModifier, Qt::NoButton},
        {VK_LBUTTON, Qt::NoModifier, Qt::LeftButton},
        {VK_RBUTTON, Qt::NoModifier, Qt::RightButton},
        {VK_MBUTTON, Qt::NoModifier, Qt::MiddleButton},
    };
    for (const KeyBit& k : kKeys) {
        if (k.key != virtualKey)
            continue;
        const bool down = k.modifier != Qt::NoModifier
                              ? QGuiApplication::queryKeyboardModifiers().testFlag(k.modifier)
                              : QGuiApplication::mouseButtons().testFlag(k.button);
        return down ? static_cast<SHORT>(0x8000) : 0;
    }
    return 0;
}

}  // namespace win
