#pragma once
// Shell area, starting programs and opening documents: ShellExecuteA, and the
// Windows rules for cutting a command line into arguments.
//
// ShellExecuteA on Linux: a file that names a program (a path to an
// executable file, or a name found on PATH) is started with lpParameters cut
// into arguments by the Windows rules (blanks separate, double quotes group),
// in lpDirectory when given; anything else (a web address, a document) is
// opened the freedesktop way, by `xdg-open`. The new process is detached (its
// own session, not our child), so it outlives us. lpOperation "open" or null
// and nShowCmd are accepted as given; a window shows as its program decides.
// The result is a number above 32 on success, else SE_ERR_FNF (the program
// does not exist or cannot run) or SE_ERR_NOASSOC (no xdg-open).
//
// Threads: any thread.

#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "platform/window_pos.h"

namespace win {

constexpr INT_PTR SE_ERR_FNF = 2;
constexpr INT_PTR SE_ERR_NOASSOC = 31;

HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                        LPCSTR lpDirectory, int nShowCmd);

// A Windows command line split into its arguments, by the rules of the
// Windows C run-time: blanks separate, double quotes group, 2n backslashes
// before a quote are n backslashes, 2n+1 are n and a literal quote.
std::vector<std::string> CommandLineToArgvA(std::string_view line);

}  // namespace win
