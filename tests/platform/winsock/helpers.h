// Shared by the Winsock tests: a window that records socket notifications, a message pump that
// waits with a deadline, and loopback socket helpers built on the module itself.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "platform/win32/user.h"
#include "platform/winsock/wsock32.h"

namespace wstest {

using namespace std::chrono_literals;

inline constexpr UINT kSocketMsg = WM_USER + 101;
inline constexpr UINT kLookupMsg = WM_USER + 102;

struct Event {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  WORD event() const { return ws::WSAGETSELECTEVENT(lParam); }
  WORD error() const { return ws::WSAGETSELECTERROR(lParam); }
};

inline std::vector<Event>& Events() {
  static std::vector<Event> events;
  return events;
}

inline LRESULT RecordProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kSocketMsg || msg == kLookupMsg) {
    Events().push_back(Event{msg, wParam, lParam});
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Dispatches messages until done() holds or the deadline passes; never sleeps blindly.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
      if (done()) return true;
    }
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
  }
}

// Gives everything that is due now its turn: queued messages and fds that are ready. Bounded,
// so a notification that repeats without end shows up as a failed count, not a hang.
inline void Settle() {
  for (int round = 0; round < 5; ++round) {
    MSG m;
    for (int n = 0; n < 1000 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++n) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
}

inline int Count(ws::SOCKET s, WORD event) {
  int n = 0;
  for (const Event& e : Events())
    if (e.msg == kSocketMsg && e.wParam == s && e.event() == event) ++n;
  return n;
}

inline int CountFor(ws::SOCKET s) {
  int n = 0;
  for (const Event& e : Events())
    if (e.msg == kSocketMsg && e.wParam == s) ++n;
  return n;
}

inline const Event* First(ws::SOCKET s, WORD event) {
  for (const Event& e : Events())
    if (e.msg == kSocketMsg && e.wParam == s && e.event() == event) return &e;
  return nullptr;
}

inline ws::sockaddr_in Loopback(ws::u_short port) {
  ws::sockaddr_in a{};
  a.sin_family = ws::AF_INET;
  a.sin_port = ws::htons(port);
  a.sin_addr.s_addr = ws::htonl(ws::INADDR_LOOPBACK);
  return a;
}

inline const ws::sockaddr* Sa(const ws::sockaddr_in& a) { return reinterpret_cast<const ws::sockaddr*>(&a); }

inline ws::u_short PortOf(ws::SOCKET s) {
  ws::sockaddr_in a{};
  int len = sizeof a;
  EXPECT_EQ(0, ws::getsockname(s, reinterpret_cast<ws::sockaddr*>(&a), &len));
  return ws::ntohs(a.sin_port);
}

// Each test starts the module, owns a recording window, and leaves nothing open behind.
class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winsock::EnsureRegistered();
    ws::WSADATA data;
    ASSERT_EQ(0, ws::WSAStartup(ws::MAKEWORD(1, 1), &data));
    WNDCLASSA wc{};
    wc.lpfnWndProc = &RecordProc;
    wc.lpszClassName = "winsock_test_wnd";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, "winsock_test_wnd", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hwnd_);
    Events().clear();
  }
  void TearDown() override {
    DestroyWindow(hwnd_);
    Settle();
    Events().clear();
    ws::WSACleanup();
  }

  // A blocking listener on 127.0.0.1 with a port of the system's choice.
  ws::SOCKET Listener(ws::u_short* port) {
    ws::SOCKET l = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
    EXPECT_NE(ws::INVALID_SOCKET, l);
    const ws::sockaddr_in a = Loopback(0);
    EXPECT_EQ(0, ws::bind(l, Sa(a), sizeof a));
    EXPECT_EQ(0, ws::listen(l, 5));
    *port = PortOf(l);
    return l;
  }

  // A client reporting to the test window, connecting to port; the connect is under way.
  ws::SOCKET AsyncClient(ws::u_short port, std::int32_t events = ws::FD_READ | ws::FD_WRITE | ws::FD_CONNECT | ws::FD_CLOSE) {
    ws::SOCKET c = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
    EXPECT_NE(ws::INVALID_SOCKET, c);
    EXPECT_EQ(0, ws::WSAAsyncSelect(c, hwnd_, kSocketMsg, events));
    const ws::sockaddr_in a = Loopback(port);
    const int r = ws::connect(c, Sa(a), sizeof a);
    if (r != 0) {
      EXPECT_EQ(ws::WSAEWOULDBLOCK, ws::WSAGetLastError());
    }
    return c;
  }

  // A connected pair: an async client and the accepted (blocking) peer, after FD_CONNECT.
  void Pair(ws::SOCKET* client, ws::SOCKET* peer) {
    ws::u_short port;
    ws::SOCKET l = Listener(&port);
    *client = AsyncClient(port);
    *peer = ws::accept(l, nullptr, nullptr);
    ASSERT_NE(ws::INVALID_SOCKET, *peer);
    ws::closesocket(l);
    const ws::SOCKET c = *client;
    ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_WRITE) > 0; }));
  }

  HWND hwnd_ = nullptr;
};

}  // namespace wstest
