// Looks into the calling thread's message queue for notifications of this module.
#include <algorithm>
#include <mutex>

#include "platform/win32/detail/queue.h"
#include "platform/winsock/detail/internal.h"

namespace winsock::detail {

bool NotificationQueued(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  win32::detail::Queue& q = *win32::detail::ThisThread().queue;
  std::lock_guard lock(q.mutex);
  if (!q.windows.count(hwnd)) return false;
  // Newest first: a notification just posted is the likeliest match.
  return std::any_of(q.posted.rbegin(), q.posted.rend(), [&](const MSG& m) {
    return m.hwnd == hwnd && m.message == msg && m.wParam == wParam && m.lParam == lParam;
  });
}

void DropNotifications(HWND hwnd, UINT msg, WPARAM wParam) {
  win32::detail::Queue& q = *win32::detail::ThisThread().queue;
  std::lock_guard lock(q.mutex);
  if (!q.windows.count(hwnd)) return;
  std::erase_if(q.posted, [&](const MSG& m) { return m.hwnd == hwnd && m.message == msg && m.wParam == wParam; });
}

}  // namespace winsock::detail
