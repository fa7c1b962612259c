#pragma once
// XWindowWatch: follows one X window's size through its ConfigureNotify
// events, so a test can wait (bounded) until a program has resized it. Kept
// apart from Qt and gtest: Xlib's macros stay inside the .cpp.
//
// Threads: one test thread.

#include <memory>
#include <string>

class XWindowWatch {
public:
    // Opens its own connection to `display` (e.g. ":3") and listens to the
    // window with id `window` (decimal, as xdotool prints it).
    XWindowWatch(const std::string& display, const std::string& window);
    ~XWindowWatch();
    XWindowWatch(const XWindowWatch&) = delete;
    XWindowWatch& operator=(const XWindowWatch&) = delete;

    bool Ok() const;
    // The window's present height, or -1.
    int Height();
    // Waits at most `timeoutMs` until the window is `height` pixels high.
    bool WaitForHeight(int height, int timeoutMs);

private:
    struct State;
    std::unique_ptr<State> state_;
};
