#include "tests/support/x_window_watch.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>

struct XWindowWatch::State {
    Display* display = nullptr;
    Window window = 0;
};

XWindowWatch::XWindowWatch(const std::string& display, const std::string& window)
    : state_(std::make_unique<State>()) {
    state_->display = XOpenDisplay(display.c_str());
    if (!state_->display)
        return;
    state_->window = static_cast<Window>(std::stoul(window));
    // Listen first, then read the present size: no change falls in between.
    XSelectInput(state_->display, state_->window, StructureNotifyMask);
    XSync(state_->display, False);
}

XWindowWatch::~XWindowWatch() {
    if (state_->display)
        XCloseDisplay(state_->display);
}

bool XWindowWatch::Ok() const {
    return state_->display != nullptr;
}

int XWindowWatch::Height() {
    if (!state_->display)
        return -1;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(state_->display, state_->window, &attributes))
        return -1;
    return attributes.height;
}

bool XWindowWatch::WaitForHeight(int height, int timeoutMs) {
    if (!state_->display)
        return false;
    if (Height() == height)
        return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (XPending(state_->display)) {
            XEvent event;
            XNextEvent(state_->display, &event);
            if (event.type == ConfigureNotify && event.xconfigure.window == state_->window &&
                event.xconfigure.height == height)
                return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Height() == height;
        pollfd fd{ConnectionNumber(state_->display), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left));
    }
}
