#pragma once
// TTimer: the periodic timer component. While Enabled and Interval is not 0,
// OnTimer (when set) runs on the main thread every Interval milliseconds,
// counted from when the timer was enabled or its interval set.
//
// Ticks never overlap and never burst: a tick that falls due while the
// handler still runs (the handler opened a message box, say) is not delivered
// into it; the handler runs once more right after it returns. A handler that
// blocks longer than the interval is followed by one tick, not by one for each
// interval missed. An exception in the handler goes to the error box and the
// timer keeps running.
//
// Threads: create, change and free it on the main thread.

#include <memory>

#include "framework/component.h"
#include "platform/types.h"

namespace fw {

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    // Milliseconds between ticks (default 1000); 0 stops the timer.
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned value);

    TNotifyEvent OnTimer;

protected:
    // Raises OnTimer.
    virtual void Timer();

private:
    void UpdateTimer();
    void Tick();

    bool enabled_ = true;
    unsigned interval_ = 1000;
    win::HWND window_ = 0;
    bool running_ = false;
    bool missed_ = false;
    std::shared_ptr<bool> alive_;
};

}  // namespace fw
