// The timer: ticks are WM_TIMER messages of the thread's queue, so they are dispatched by
// every loop that pumps it, blocking library calls included.
#pragma once
#include "platform/vcl/core/vcl.h"
#include "platform/win32/types.h"

class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;
  unsigned FInterval() const { return interval_; }
  void FSetInterval(unsigned v);
  bool FEnabled() const { return enabled_; }
  void FSetEnabled(bool v);
  void FSetOnTimer(const TNotifyEvent& e);
  const TNotifyEvent& FOnTimer() const { return onTimer_; }

  Property<TTimer, unsigned, &TTimer::FInterval, &TTimer::FSetInterval> Interval{this};
  Property<TTimer, bool, &TTimer::FEnabled, &TTimer::FSetEnabled> Enabled{this};
  // Assigning OnTimer starts the timer when it is enabled with an interval.
  Property<TTimer, TNotifyEvent, &TTimer::FOnTimer, &TTimer::FSetOnTimer> OnTimer{this};

  // One tick: runs OnTimer; an exception goes to Application->HandleException.
  void Timer();

 private:
  void UpdateTimer();
  unsigned interval_ = 1000;
  bool enabled_ = true;
  TNotifyEvent onTimer_;
  HWND window_ = nullptr;
};
