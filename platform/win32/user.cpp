#include "platform/win32/user.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/win32/detail/queue.h"
#include "platform/win32/host.h"
#include "platform/win32/misc.h"
#include "platform/win32/module.h"

namespace win32::detail {
namespace {

// Windows caps a thread's posted messages at this many; beyond it PostMessageA fails.
constexpr std::size_t kPostQuota = 10000;
constexpr UINT kMinTimerMs = 10;
constexpr UINT kMaxTimerMs = 0x7FFFFFFF;

std::string Lower(const char* s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

struct WindowClass {
  std::string name;   // as registered
  std::string lower;  // lookup key
  ATOM atom;
  UINT style;
  WNDPROC proc;
  int wndExtra;
  HINSTANCE instance;
  int windows = 0;
};

struct Window {
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc;
  std::shared_ptr<Queue> owner;
  std::thread::id thread;
  // Sized so that a pointer-sized value fits at every offset a 32-bit program could use.
  std::vector<unsigned char> extra;
  bool destroying = false;
};

struct Registry {
  std::mutex mutex;
  std::vector<std::shared_ptr<WindowClass>> classes;
  ATOM lastAtom = 0xC000 - 1;
  std::unordered_map<HWND, std::shared_ptr<Window>> windows;
  std::uintptr_t lastHandle = 0x10000;
};

Registry& Reg() {
  // Never destroyed: windows may be touched from static destructors and exiting threads.
  static Registry* r = new Registry;
  return *r;
}

HINSTANCE Normalize(HINSTANCE instance) { return instance ? instance : GetModuleHandleA(nullptr); }

// Local classes match on their instance; global classes on the name alone.
std::shared_ptr<WindowClass> FindClassLocked(Registry& r, LPCSTR name, HINSTANCE instance) {
  std::shared_ptr<WindowClass> global;
  const bool byAtom = IS_INTRESOURCE(name);
  const std::string key = byAtom ? std::string() : Lower(name);
  for (const auto& c : r.classes) {
    const bool same = byAtom ? c->atom == LOWORD(reinterpret_cast<std::uintptr_t>(name)) : c->lower == key;
    if (!same) continue;
    if (!(c->style & CS_GLOBALCLASS) && c->instance == instance) return c;
    if ((c->style & CS_GLOBALCLASS) && !global) global = c;
  }
  return global;
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  auto it = r.windows.find(hwnd);
  return it == r.windows.end() ? nullptr : it->second;
}

// Forgets a window that is no longer usable: its queued messages and timers go with it.
void Unlink(HWND hwnd, const std::shared_ptr<Window>& w) {
  {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    if (r.windows.erase(hwnd)) --w->cls->windows;
  }
  Queue& q = *w->owner;
  {
    std::lock_guard lock(q.mutex);
    q.windows.erase(hwnd);
    std::erase_if(q.posted, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
  }
  if (w->thread == std::this_thread::get_id())
    std::erase_if(q.timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
}

// With the queue locked: one wake-up per wait is enough.
void WakeLocked(Queue& q) {
  if (q.waiting > 0 && !q.woken && q.host) {
    q.woken = true;
    q.host->Wake();
  }
}

bool MessageMatches(UINT message, HWND target, HWND hwnd, UINT min, UINT max) {
  if (hwnd == reinterpret_cast<HWND>(-1)) {
    if (target) return false;
  } else if (hwnd && target != hwnd) {
    return false;
  }
  if (min == 0 && max == 0) return true;
  return message >= min && message <= max;
}

// Takes the first posted message that passes the filter, then the quit flag. Messages of
// windows destroyed meanwhile are dropped on the way.
bool TakePosted(Queue& q, MSG* out, HWND hwnd, UINT min, UINT max, bool remove) {
  std::lock_guard lock(q.mutex);
  for (auto it = q.posted.begin(); it != q.posted.end();) {
    if (it->hwnd && !q.windows.count(it->hwnd)) {
      it = q.posted.erase(it);
      continue;
    }
    if (MessageMatches(it->message, it->hwnd, hwnd, min, max)) {
      *out = *it;
      if (remove) q.posted.erase(it);
      return true;
    }
    ++it;
  }
  if (q.quit) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0, GetTickCount(), {0, 0}};
    if (remove) q.quit = false;
    return true;
  }
  return false;
}

Timer* DueTimer(Queue& q, HWND hwnd, UINT min, UINT max, Clock::time_point now) {
  Timer* best = nullptr;
  for (Timer& t : q.timers) {
    if (t.due > now || !MessageMatches(WM_TIMER, t.hwnd, hwnd, min, max)) continue;
    if (!best || t.due < best->due) best = &t;
  }
  return best;
}

bool TakeTimer(Queue& q, MSG* out, HWND hwnd, UINT min, UINT max, bool remove) {
  const auto now = Clock::now();
  Timer* t = DueTimer(q, hwnd, min, max, now);
  if (!t) return false;
  *out = MSG{t->hwnd, WM_TIMER, t->id, reinterpret_cast<LPARAM>(t->proc), GetTickCount(), {0, 0}};
  if (remove) t->due = now + std::chrono::milliseconds(t->elapseMs);
  return true;
}

bool Peek(ThreadState& ts, MSG* out, HWND hwnd, UINT min, UINT max, bool remove) {
  Queue& q = *ts.queue;
  return TakePosted(q, out, hwnd, min, max, remove) || TakeTimer(q, out, hwnd, min, max, remove);
}

bool ValidFilter(HWND hwnd) {
  if (!hwnd || hwnd == reinterpret_cast<HWND>(-1)) return true;
  return static_cast<bool>(FindWindow(hwnd));
}

std::shared_ptr<Window> OwnWindow(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (w->thread != std::this_thread::get_id()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return w;
}

struct Reaper {
  ThreadState* state = nullptr;
  ~Reaper() {
    // The main thread keeps its state: static destructors may still use windows.
    if (state && syscall(SYS_gettid) != getpid()) delete state;
  }
};

thread_local ThreadState* tlsState = nullptr;

}  // namespace

ThreadState& ThisThread() {
  if (!tlsState) {
    static thread_local Reaper reaper;
    tlsState = new ThreadState;
    reaper.state = tlsState;
  }
  return *tlsState;
}

ThreadState::~ThreadState() {
  std::vector<HWND> orphans;
  {
    std::lock_guard lock(queue->mutex);
    queue->alive = false;
    queue->host = nullptr;
    queue->posted.clear();
    orphans.assign(queue->windows.begin(), queue->windows.end());
  }
  // Windows die with their thread, as on Windows; their procedures are not called.
  for (HWND h : orphans)
    if (auto w = FindWindow(h)) Unlink(h, w);
  queue->timers.clear();
  tlsState = nullptr;
}

Host& ThreadState::EnsureHost() {
  if (!host_) ReplaceHost(MakePollHost());
  return *host_;
}

void ThreadState::ReplaceHost(std::unique_ptr<Host> next) {
  {
    std::lock_guard lock(queue->mutex);
    queue->host = next.get();
  }
  host_.swap(next);
  // Posts made while the old host was in charge must not be missed by the new one.
  if (host_) host_->Wake();
}

}  // namespace win32::detail

using namespace win32::detail;

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName ||
      !wc->lpfnWndProc || wc->cbWndExtra < 0 || wc->cbClsExtra < 0 || wc->cbWndExtra > 40000) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  const HINSTANCE instance = Normalize(wc->hInstance);
  const std::string key = Lower(wc->lpszClassName);
  const bool global = wc->style & CS_GLOBALCLASS;
  for (const auto& c : r.classes) {
    if (c->lower != key) continue;
    const bool otherGlobal = c->style & CS_GLOBALCLASS;
    if ((global && otherGlobal) || (!global && !otherGlobal && c->instance == instance)) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
  }
  ATOM atom = r.lastAtom;
  do {
    atom = atom == 0xFFFF ? 0xC000 : static_cast<ATOM>(atom + 1);
  } while (std::any_of(r.classes.begin(), r.classes.end(), [atom](const auto& c) { return c->atom == atom; }));
  r.lastAtom = atom;
  r.classes.push_back(std::make_shared<WindowClass>(
      WindowClass{wc->lpszClassName, key, atom, wc->style, wc->lpfnWndProc, wc->cbWndExtra, instance}));
  return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
  if (!className) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  const HINSTANCE inst = Normalize(instance);
  const bool byAtom = IS_INTRESOURCE(className);
  const std::string key = byAtom ? std::string() : Lower(className);
  for (auto it = r.classes.begin(); it != r.classes.end(); ++it) {
    const auto& c = *it;
    const bool same = byAtom ? c->atom == LOWORD(reinterpret_cast<std::uintptr_t>(className)) : c->lower == key;
    if (!same || c->instance != inst) continue;
    if (c->windows > 0) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
    r.classes.erase(it);
    return TRUE;
  }
  SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return FALSE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (!className) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ThreadState& ts = ThisThread();
  auto w = std::make_shared<Window>();
  HWND hwnd;
  {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    w->cls = FindClassLocked(r, className, Normalize(instance));
    if (!w->cls) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    w->proc = w->cls->proc;
    w->owner = ts.queue;
    w->thread = std::this_thread::get_id();
    const int cb = w->cls->wndExtra;
    w->extra.assign(cb > 0 ? cb + sizeof(LONG_PTR) - sizeof(LONG) : 0, 0);
    r.lastHandle += 2;
    hwnd = reinterpret_cast<HWND>(r.lastHandle);
    {
      std::lock_guard qlock(ts.queue->mutex);
      ts.queue->windows.insert(hwnd);
    }
    r.windows.emplace(hwnd, w);
    ++w->cls->windows;
  }
  CREATESTRUCTA cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style), windowName,
                   className, exStyle};
  if (w->proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  auto w = OwnWindow(hwnd);
  if (!w) return FALSE;
  // Destroying from inside WM_DESTROY is a no-op.
  if (w->destroying) return TRUE;
  w->destroying = true;
  w->proc(hwnd, WM_DESTROY, 0, 0);
  Unlink(hwnd, w);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) { return hwnd && FindWindow(hwnd) ? TRUE : FALSE; }

namespace {

unsigned char* ExtraSlot(Window& w, int index) {
  const int cb = w.cls->wndExtra;
  if (index < 0 || static_cast<std::size_t>(index) + sizeof(LONG) > static_cast<std::size_t>(cb)) return nullptr;
  return w.extra.data() + index;
}

// With the registry locked: the extra-memory slot of a window, or null with the last error set.
unsigned char* ExtraSlot(Registry& r, HWND hwnd, int index) {
  auto it = r.windows.find(hwnd);
  if (it == r.windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  unsigned char* slot = ExtraSlot(*it->second, index);
  if (!slot) SetLastError(ERROR_INVALID_INDEX);
  return slot;
}

}  // namespace

LONG_PTR SetWindowLongA(HWND hwnd, int index, LONG_PTR value) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  unsigned char* slot = ExtraSlot(r, hwnd, index);
  if (!slot) return 0;
  LONG_PTR old;
  std::memcpy(&old, slot, sizeof old);
  std::memcpy(slot, &value, sizeof value);
  return old;
}

LONG_PTR GetWindowLongA(HWND hwnd, int index) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  const unsigned char* slot = ExtraSlot(r, hwnd, index);
  if (!slot) return 0;
  LONG_PTR value;
  std::memcpy(&value, slot, sizeof value);
  return value;
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_CLOSE) DestroyWindow(hwnd);
  return 0;
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Queue> q;
  if (!hwnd) {
    q = ThisThread().queue;
  } else if (auto w = FindWindow(hwnd)) {
    q = w->owner;
  } else {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::lock_guard lock(q->mutex);
  if (!q->alive || (hwnd && !q->windows.count(hwnd))) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (q->posted.size() >= kPostQuota) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  q->posted.push_back(MSG{hwnd, msg, wParam, lParam, GetTickCount(), {0, 0}});
  WakeLocked(*q);
  return TRUE;
}

namespace {

// The calling thread's last turns of its host.
struct HostTurns {
  Clock::time_point last;  // any turn
  // A host wait has just returned and no message was taken since: the ready fds have
  // already become messages.
  bool waited = false;
};

HostTurns& Turns() {
  thread_local HostTurns turns;
  return turns;
}

}  // namespace

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!ValidFilter(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  ThreadState& ts = ThisThread();
  const bool remove = removeFlags & PM_REMOVE;
  HostTurns& turns = Turns();
  // A queue that never empties (a bulk receive re-posts its reads) must still give the host,
  // and so the GUI, a turn at least every millisecond.
  const Clock::time_point now = Clock::now();
  if (now - turns.last >= std::chrono::milliseconds(1)) {
    turns.last = now;
    turns.waited = false;
    ts.EnsureHost().Wait(0);
  }
  if (Peek(ts, msg, hwnd, filterMin, filterMax, remove)) {
    turns.waited = false;
    return TRUE;
  }
  // Let ready fds turn into messages, as the stack would have posted them on Windows; a host
  // wait that has just returned did that already, so a wait loop costs one host wait a pass.
  if (turns.waited) return FALSE;
  turns.last = now;
  ts.EnsureHost().Wait(0);
  return Peek(ts, msg, hwnd, filterMin, filterMax, remove) ? TRUE : FALSE;
}

namespace {

struct Filter {
  HWND hwnd = nullptr;
  UINT min = 0;
  UINT max = 0;
};

// With the queue locked: whether a wait would end now. Notes the earliest timer still to come.
bool Pending(Queue& q, DWORD mask, const Filter& f, Clock::time_point now, Clock::time_point* nextTimer) {
  if (mask & QS_TIMER)
    for (const Timer& t : q.timers) {
      if (!MessageMatches(WM_TIMER, t.hwnd, f.hwnd, f.min, f.max)) continue;
      if (t.due <= now) return true;
      if (t.due < *nextTimer) *nextTimer = t.due;
    }
  if (!(mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE))) return false;
  if (q.quit) return true;
  return std::any_of(q.posted.begin(), q.posted.end(), [&](const MSG& m) {
    return (!m.hwnd || q.windows.count(m.hwnd)) && MessageMatches(m.message, m.hwnd, f.hwnd, f.min, f.max);
  });
}

// Waits through the host until something the mask and filter ask for is pending or `deadline`
// passes. Messages the filter excludes do not end the wait: GetMessageA would spin on them.
bool WaitForInput(ThreadState& ts, DWORD mask, Clock::time_point deadline, const Filter& filter = {}) {
  win32::Host& host = ts.EnsureHost();
  Queue& q = *ts.queue;
  for (;;) {
    const auto now = Clock::now();
    auto until = deadline;
    {
      std::lock_guard lock(q.mutex);
      if (Pending(q, mask, filter, now, &until)) return true;
      if (now >= deadline) return false;
      ++q.waiting;
      q.woken = false;
    }
    int ms = -1;
    if (until != Clock::time_point::max()) {
      // Round up: waking a little early would only spin until the due time.
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
      ms = static_cast<int>(std::min<decltype(left)>(left, 0x7FFFFFFF));
    }
    host.Wait(ms);
    Turns().last = Clock::now();
    Turns().waited = true;
    std::lock_guard lock(q.mutex);
    --q.waiting;
    // An enclosing wait may still be asleep in the host.
    q.woken = false;
  }
}

}  // namespace

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  ThreadState& ts = ThisThread();
  for (;;) {
    if (!ValidFilter(hwnd)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return -1;
    }
    if (Peek(ts, msg, hwnd, filterMin, filterMax, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
    win32::PumpFrame frame;
    WaitForInput(ts, QS_ALLINPUT, Clock::time_point::max(), Filter{hwnd, filterMin, filterMax});
  }
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (msg->message == WM_TIMER && msg->lParam) {
    // Only a live timer's own procedure is called: lParam of a posted message is arbitrary.
    Queue& q = *ThisThread().queue;
    for (const Timer& t : q.timers) {
      if (t.hwnd == msg->hwnd && t.id == msg->wParam && reinterpret_cast<LPARAM>(t.proc) == msg->lParam) {
        TIMERPROC proc = t.proc;
        win32::PumpFrame frame;
        proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
      }
    }
    return 0;
  }
  if (!msg->hwnd) return 0;
  auto w = OwnWindow(msg->hwnd);
  if (!w) return 0;
  win32::PumpFrame frame;
  return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
  Queue& q = *ThisThread().queue;
  std::lock_guard lock(q.mutex);
  q.quit = true;
  q.quitCode = exitCode;
  WakeLocked(q);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE*, BOOL, DWORD milliseconds, DWORD wakeMask) {
  if (count != 0) {
    // Kernel objects cannot be waited on here.
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const auto deadline = milliseconds == INFINITE ? Clock::time_point::max()
                                                 : Clock::now() + std::chrono::milliseconds(milliseconds);
  win32::PumpFrame frame;
  return WaitForInput(ThisThread(), wakeMask, deadline) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  if (hwnd && !OwnWindow(hwnd)) return 0;
  Queue& q = *ThisThread().queue;
  const UINT elapse = std::clamp(elapseMs, kMinTimerMs, kMaxTimerMs);
  const auto due = Clock::now() + std::chrono::milliseconds(elapse);
  auto existing = std::find_if(q.timers.begin(), q.timers.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (existing != q.timers.end() && (hwnd || id)) {
    *existing = Timer{hwnd, id, elapse, proc, due};
    return hwnd && id == 0 ? 1 : id;
  }
  if (!hwnd) {
    // Thread timers get an id of their own.
    do {
      id = ++q.lastThreadTimerId;
    } while (id == 0 || std::any_of(q.timers.begin(), q.timers.end(),
                                    [id](const Timer& t) { return !t.hwnd && t.id == id; }));
  }
  q.timers.push_back(Timer{hwnd, id, elapse, proc, due});
  return hwnd && id == 0 ? 1 : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  Queue& q = *ThisThread().queue;
  auto it = std::find_if(q.timers.begin(), q.timers.end(),
                         [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == q.timers.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  q.timers.erase(it);
  return TRUE;
}
