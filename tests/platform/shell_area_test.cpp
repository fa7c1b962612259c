// The shell areas where no desktop is needed: the notification area without a
// tray host, broadcasts to top-level windows, icon handles and event sounds.
// (The tray itself is tested on real hosts in notify_icon_gui_test.)
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/icon.h"
#include "platform/kernel.h"
#include "platform/notify_icon.h"
#include "platform/sound.h"
#include "platform/user.h"

using namespace win;

namespace {

std::vector<HWND> g_reached;
constexpr UINT kHello = WM_USER + 77;

LRESULT RecordProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == kHello)
        g_reached.push_back(h);
    return DefWindowProcA(h, m, w, l);
}

HWND MakeWindow(DWORD style, HWND parent) {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecordProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ShellAreaTest";
        return RegisterClassA(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    return CreateWindowExA(0, "ShellAreaTest", "", style, 0, 0, 0, 0, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

void Pump() {
    MSG m;
    while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE))
        DispatchMessageA(&m);
}

TEST(Broadcast, ReachesEveryTopLevelWindowOnceAndNoChild) {
    const HWND a = MakeWindow(0, 0);
    const HWND b = MakeWindow(WS_POPUP, 0);
    const HWND child = MakeWindow(WS_CHILD, a);
    g_reached.clear();
    EXPECT_TRUE(PostMessageA(HWND_BROADCAST, kHello, 0, 0));
    Pump();
    std::sort(g_reached.begin(), g_reached.end());
    std::vector<HWND> expected{a, b};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(g_reached, expected);
    for (HWND h : {child, b, a})
        DestroyWindow(h);
}

TEST(NotifyIconWithoutTrayHost, AddFailsAndUnknownIconsCannotBeChanged) {
    const HWND w = MakeWindow(0, 0);
    NOTIFYICONDATAA d{};
    d.cbSize = NOTIFYICONDATAA_V2_SIZE;
    d.hWnd = w;
    d.uFlags = NIF_MESSAGE | NIF_TIP;
    d.uCallbackMessage = 14948;
    // The offscreen platform has no notification area.
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &d));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &d));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &d));
    d.cbSize = NOTIFYICONDATAA_V1_SIZE - 1;
    SetLastError(0);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &d));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, nullptr));
    DestroyWindow(w);
}

TEST(NotifyIconRecord, BasicSizeEndsAfterA64CharacterTip) {
    EXPECT_EQ(NOTIFYICONDATAA_V1_SIZE, offsetof(NOTIFYICONDATAA, szTip) + 64 * 4);
    EXPECT_LT(NOTIFYICONDATAA_V1_SIZE, offsetof(NOTIFYICONDATAA, szInfo));
    EXPECT_EQ(NOTIFYICONDATAA_V2_SIZE, sizeof(NOTIFYICONDATAA));
    // Each text field holds its characters at 4 bytes each, and a terminator.
    EXPECT_GE(sizeof(NOTIFYICONDATAA::szTip), 127u * 4 + 1);
    EXPECT_GE(sizeof(NOTIFYICONDATAA::szInfo), 255u * 4 + 1);
    EXPECT_GE(sizeof(NOTIFYICONDATAA::szInfoTitle), 63u * 4 + 1);
}

TEST(Icons, HandlesCopyFreeAndRefuseUnknownNames) {
    const HICON app = LoadIconA(nullptr, IDI_APPLICATION);
    ASSERT_NE(app, nullptr);
    EXPECT_FALSE(IconImage(app).isNull());
    const HICON copy = CopyIcon(app);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, app);
    EXPECT_TRUE(DestroyIcon(app));
    EXPECT_FALSE(DestroyIcon(app)) << "a freed handle is refused";
    EXPECT_TRUE(IconImage(app).isNull());
    EXPECT_FALSE(IconImage(copy).isNull()) << "the copy outlives the original";
    EXPECT_TRUE(DestroyIcon(copy));

    // The program's own icon resources, by name without regard to case.
    const HICON resource = LoadIconA(nullptr, "testico");
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(IconImage(resource).pixmap(16, 16).toImage().pixelColor(8, 8), QColor(255, 255, 0));
    EXPECT_TRUE(DestroyIcon(resource));

    SetLastError(0);
    EXPECT_EQ(LoadIconA(nullptr, "NO_SUCH_ICON"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(CreateIconFromImage(QIcon()), nullptr);
}

TEST(Sound, WindowsAliasesMapToSoundThemeNamesWithoutRegardToCase) {
    const struct {
        const char* alias;
        const char* eventId;
    } cases[] = {
        {"SystemAsterisk", "dialog-information"},
        {"SystemHand", "dialog-error"},
        {"SystemExclamation", "dialog-warning"},
        {"SystemQuestion", "dialog-question"},
        {".Default", "bell"},
        {"minimize", "window-minimized"},
        {"RESTOREUP", "window-unminimized"},
        {"NoSuchAlias", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SoundThemeEventId(c.alias), c.eventId) << c.alias;
}

TEST(Sound, TheFreedesktopThemeHasTheMessageBoxSounds) {
    const QString dir = "/usr/share/sounds/freedesktop/stereo/";
    if (!QFile::exists(dir))
        GTEST_SKIP() << "sound-theme-freedesktop is not installed";
    for (const char* alias : {"SystemAsterisk", "SystemHand", "SystemExclamation", ".Default"})
        EXPECT_TRUE(QFile::exists(dir + QString::fromStdString(SoundThemeEventId(alias)) + ".oga"))
            << alias;
}

TEST(Sound, PlayingNeverFailsTheCallerButUnknownNamesWithoutDefaultDo) {
    // Whether or not this machine has a sound device, an asynchronous sound is
    // accepted at once.
    EXPECT_TRUE(PlaySoundA("SystemAsterisk", nullptr, SND_ASYNC | SND_NODEFAULT));
    EXPECT_TRUE(PlaySoundA("Minimize", nullptr, SND_ASYNC | SND_NODEFAULT));
    EXPECT_TRUE(PlaySoundA("NoSuchAlias", nullptr, SND_ASYNC));  // the default sound
    EXPECT_TRUE(PlaySoundA(nullptr, nullptr, 0));                // stops sounds
    SetLastError(0);
    EXPECT_FALSE(PlaySoundA("NoSuchAlias", nullptr, SND_ASYNC | SND_NODEFAULT));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(
        PlaySoundA("/no/such/file.wav", nullptr, SND_ASYNC | SND_FILENAME | SND_NODEFAULT));
    EXPECT_FALSE(PlaySoundA("x", nullptr, SND_ASYNC | SND_MEMORY));
}

}  // namespace
