#pragma once
// Sound area: PlaySoundA with the flags the components pass. Sounds are named
// by their Windows sound aliases ("SystemAsterisk", "Minimize", ...).
//
// Threads: any thread.

#include "platform/module.h"
#include "platform/types.h"

namespace win {

constexpr DWORD SND_SYNC = 0x0000;
constexpr DWORD SND_ASYNC = 0x0001;
constexpr DWORD SND_NODEFAULT = 0x0002;
constexpr DWORD SND_ALIAS = 0x00010000;

// Plays the sound `pszSound` (an alias with SND_ALIAS); with SND_ASYNC it
// returns at once. TRUE when the sound was started.
BOOL PlaySoundA(LPCSTR pszSound, HMODULE hmod, DWORD fdwSound);

}  // namespace win
