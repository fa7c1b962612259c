#pragma once
// Sound area: PlaySoundA on the desktop's event sounds (libcanberra and the
// freedesktop sound theme). The Windows sound aliases are mapped to sound
// theme names; a file name plays that file.
//
// Sounds play on a thread of their own, so a call never waits for the sound
// system: without a sound device nothing is heard, and the caller is never
// told of a failure of the device. A synchronous call (without SND_ASYNC)
// waits for the end of the sound, at most 10 s.
//
// Threads: any thread.

#include <string>

#include "platform/module.h"
#include "platform/types.h"

namespace win {

constexpr DWORD SND_SYNC = 0x0000;
constexpr DWORD SND_ASYNC = 0x0001;
constexpr DWORD SND_NODEFAULT = 0x0002;
constexpr DWORD SND_MEMORY = 0x0004;
constexpr DWORD SND_LOOP = 0x0008;
constexpr DWORD SND_NOSTOP = 0x0010;
constexpr DWORD SND_PURGE = 0x0040;
constexpr DWORD SND_APPLICATION = 0x0080;
constexpr DWORD SND_NOWAIT = 0x00002000;
constexpr DWORD SND_ALIAS = 0x00010000;
constexpr DWORD SND_FILENAME = 0x00020000;
constexpr DWORD SND_RESOURCE = 0x00040004;

// Plays the sound `name` (an alias or, with SND_FILENAME or when it names no
// alias, a file). A null name stops the sounds playing. Unknown names play the
// default sound ("bell") unless SND_NODEFAULT. Returns FALSE for a name that
// is neither an alias nor a file with SND_NODEFAULT, for SND_MEMORY and
// SND_RESOURCE (the program carries no wave resources) and, synchronously,
// when nothing could be played.
BOOL PlaySoundA(LPCSTR name, HMODULE module, DWORD flags);

// Our own addition: the sound theme name that an alias stands for ("" when
// the alias is not known). Compared without regard to case.
std::string SoundThemeEventId(const std::string& alias);

}  // namespace win
