#include "platform/metrics.h"

#include <QGuiApplication>
#include <QScreen>

namespace win {

int GetSystemMetrics(int index) {
    using namespace metrics;
    switch (index) {
        case SM_CXSCREEN:
        case SM_CYSCREEN: {
            auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
            QScreen* screen = gui ? QGuiApplication::primaryScreen() : nullptr;
            if (!screen)
                return 0;
            return index == SM_CXSCREEN ? screen->geometry().width() : screen->geometry().height();
        }
        case SM_CYCAPTION:
            return kCaption;
        case SM_CXDLGFRAME:
        case SM_CYDLGFRAME:
            return kDlgFrame;
        case SM_CXFRAME:
        case SM_CYFRAME:
            return kSizeFrame;
        case SM_CXSIZE:
        case SM_CYSIZE:
            return kCaptionButton;
        case SM_CXICON:
        case SM_CYICON:
            return 32;
        case SM_CXSMICON:
        case SM_CYSMICON:
            return 16;
        case SM_CYMENU:
            return kMenu;
        case SM_CXEDGE:
        case SM_CYEDGE:
            return 2;
        case SM_CYSMCAPTION:
            return kSmallCaption;
        case SM_CXSMSIZE:
            return kSmallButtonWidth;
        case SM_CYSMSIZE:
            return kSmallButtonHeight;
        default:
            return 0;
    }
}

}  // namespace win
