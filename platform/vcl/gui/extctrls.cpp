#include "platform/vcl/gui/extctrls.h"

#include "platform/vcl/gui/forms.h"
#include "platform/win32/user.h"

namespace {

constexpr const char* kTimerClass = "TavlinVclTimer";

LRESULT CALLBACK TimerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER) {
    if (auto* t = reinterpret_cast<TTimer*>(GetWindowLongA(hwnd, 0))) t->Timer();
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void EnsureClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TimerWndProc;
    wc.cbWndExtra = sizeof(void*);
    wc.lpszClassName = kTimerClass;
    RegisterClassA(&wc);
    return true;
  }();
  (void)registered;
}

}  // namespace

TTimer::TTimer(TComponent* owner) : TComponent(owner) {}

TTimer::~TTimer() {
  if (window_) {
    KillTimer(window_, 1);
    DestroyWindow(window_);
  }
}

void TTimer::FSetInterval(unsigned v) {
  if (v == interval_) return;
  interval_ = v;
  UpdateTimer();
}

void TTimer::FSetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  UpdateTimer();
}

void TTimer::FSetOnTimer(const TNotifyEvent& e) {
  onTimer_ = e;
  UpdateTimer();
}

// Ticks only while enabled, with an interval and a handler; every change starts the interval
// afresh.
void TTimer::UpdateTimer() {
  if (window_) KillTimer(window_, 1);
  if (!enabled_ || interval_ == 0 || !onTimer_) return;
  if (!window_) {
    EnsureClass();
    window_ = CreateWindowExA(0, kTimerClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!window_) throw EOutOfResources("Not enough timers available");
    SetWindowLongA(window_, 0, reinterpret_cast<LONG_PTR>(this));
  }
  if (!SetTimer(window_, 1, interval_, nullptr)) throw EOutOfResources("Not enough timers available");
}

void TTimer::Timer() {
  if (!enabled_ || !onTimer_) return;
  TNotifyEvent handler = onTimer_;  // the handler may assign OnTimer
  vcl::Guarded(this, [this, &handler] { handler(this); });
}
