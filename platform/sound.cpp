#include "platform/sound.h"

namespace win {

// Event sounds come with the tray's platform work (libcanberra); until then
// nothing is played, and saying so (FALSE) is what a caller without a sound
// device would hear too.
BOOL PlaySoundA(LPCSTR, HMODULE, DWORD) {
    return FALSE;
}

}  // namespace win
