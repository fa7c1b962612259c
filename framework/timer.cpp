#include "framework/timer.h"

#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/messages.h"

namespace fw {

namespace {
constexpr win::UINT_PTR kTimerId = 1;
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), alive_(std::make_shared<bool>(true)) {
    window_ = AllocateHWnd([this](TMessage& m) {
        if (m.Msg == win::WM_TIMER && m.WParam == kTimerId)
            Tick();
        else
            m.Result = win::DefWindowProcA(window_, m.Msg, m.WParam, m.LParam);
    });
    if (!window_)
        throw EInvalidOperation("Not enough timers available");
    UpdateTimer();
}

TTimer::~TTimer() {
    *alive_ = false;
    enabled_ = false;
    DeallocateHWnd(window_);
}

void TTimer::SetEnabled(bool value) {
    if (value == enabled_)
        return;
    enabled_ = value;
    UpdateTimer();
}

void TTimer::SetInterval(unsigned value) {
    if (value == interval_)
        return;
    interval_ = value;
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    win::KillTimer(window_, kTimerId);
    if (enabled_ && interval_ > 0 && !IsDestroying())
        if (!win::SetTimer(window_, kTimerId, interval_, nullptr))
            throw EInvalidOperation("Not enough timers available");
}

void TTimer::Timer() {
    if (OnTimer)
        OnTimer(this);
}

void TTimer::Tick() {
    if (running_) {
        // The handler is still running (in a nested loop): no overlap, but
        // one more run when it returns.
        missed_ = true;
        return;
    }
    running_ = true;
    const std::shared_ptr<bool> alive = alive_;
    do {
        missed_ = false;
        CallGuarded(this, [this] { Timer(); });
        if (!*alive)
            return;
    } while (missed_ && enabled_ && interval_ > 0);
    running_ = false;
}

}  // namespace fw
