// "uxtheme.dll": the visual-styles library, loaded at run time. The program's
// skin is its one theme, and it is always on.
#include "platform/types.h"

extern "C" __attribute__((visibility("default"))) win::BOOL IsThemeActive() {
    return win::TRUE;
}
