#pragma once
// User area, system metrics: the sizes of our own title bar and frame.
//
// The title bar and frame of every window are drawn by the framework, so
// these are its sizes, fixed in pixels: a caption 19 px high (with the line
// under it), caption buttons 18 x 18 (drawn 16 x 14), a fixed dialog frame of
// 3 px, a sizing frame of 4 px; tool windows have a 16 px caption with 12 x 15
// buttons. Windows here have no menu bar; SM_CYMENU is still the height one
// would have.
//
// Threads: any thread.

#include "platform/types.h"

namespace win {

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXDLGFRAME = 7;
constexpr int SM_CYDLGFRAME = 8;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CYMENU = 15;
constexpr int SM_CXSIZE = 30;
constexpr int SM_CYSIZE = 31;
constexpr int SM_CXFRAME = 32;
constexpr int SM_CYFRAME = 33;
constexpr int SM_CXEDGE = 45;
constexpr int SM_CYEDGE = 46;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;
constexpr int SM_CYSMCAPTION = 51;
constexpr int SM_CXSMSIZE = 52;
constexpr int SM_CYSMSIZE = 53;

namespace metrics {
constexpr int kDlgFrame = 3;
constexpr int kSizeFrame = 4;
constexpr int kCaption = 19;
constexpr int kCaptionButton = 18;
constexpr int kSmallCaption = 16;
constexpr int kSmallButtonWidth = 12;
constexpr int kSmallButtonHeight = 15;
constexpr int kMenu = 19;
}  // namespace metrics

// 0 for an unknown index. The screen size is that of the primary screen when
// the program has one, else 0.
int GetSystemMetrics(int index);

}  // namespace win
