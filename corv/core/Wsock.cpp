#include "corv/core/Wsock.h"

#include <cstring>

#include "corv/core/TextUtil.h"
#include "platform/win32/misc.h"

namespace {

// Any input, posted message, timer or paint of the thread wakes a wait pass.
constexpr DWORD kWakeOnAnyInput = 0xFF;

}  // namespace

LRESULT SocketWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* object = reinterpret_cast<CWsock*>(GetWindowLongA(hwnd, 0));
  if (object) return object->HandleMessage(message, wParam, lParam);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

CWsock::CWsock()
    : WinsockRecord(&CorvCoreWinsock()),
      TimeoutMs(0),
      Deadline(0),
      LocalHostText{},
      HoldsWinsock(false),
      LocalHostAddr(0),
      InterruptRequest(false),
      Interrupted(false),
      DeadlineSet(false) {}

CWsock::~CWsock() {
  if (HoldsWinsock) {
    WinsockRecord->Release();
    HoldsWinsock = false;
  }
  if (Window) {
    // Messages still queued for the window must not reach a destroyed object.
    SetWindowLongA(Window, 0, 0);
    DestroyWindow(Window);
    Window = nullptr;
  }
}

LRESULT CWsock::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!Window) return 0;
  return DefWindowProcA(Window, message & 0xFFFF, wParam, lParam);
}

int CWsock::Init(bool useWinsock) {
  CCore::Init();
  HoldsWinsock = false;
  Deadline = 0;
  DeadlineSet = false;
  TimeoutMs = 0;
  LocalHostAddr = 0;
  InterruptRequest = false;
  Interrupted = false;
  if (!Window) {
    Window = WinsockRecord->CreateNotifyWindow(SocketWindowProc);
    if (!Window) return 0;
    SetWindowLongA(Window, 0, reinterpret_cast<LONG_PTR>(this));
  }
  if (useWinsock) UseWinsock(true);
  return 1;
}

int CWsock::UseWinsock(bool use) {
  if (use && !HoldsWinsock) {
    HoldsWinsock = WinsockRecord->Load() == 1;
  } else if (!use && HoldsWinsock) {
    WinsockRecord->Release();
    HoldsWinsock = false;
  }
  return 0;
}

const char* CWsock::GetWinsockInfo() const { return WinsockRecord->StartupData.szDescription; }
const char* CWsock::GetWinsockStatus() const { return WinsockRecord->StartupData.szSystemStatus; }
const char* CWsock::GetWinsockPath() { return WinsockRecord->GetPath(); }

int CWsock::SetWinsockPath(const char* path) {
  WinsockRecord->SetPath(path);
  return 0;
}

WORD CWsock::GetWinsockMaxSockets() const { return WinsockRecord->StartupData.iMaxSockets; }
WORD CWsock::GetWinsockMaxDatagramSize() const { return WinsockRecord->StartupData.iMaxUdpDg; }

int CWsock::SetTimeout(DWORD seconds) {
  // Beyond 2^32 ms (about 49 days) the tick count cannot measure a wait anyway.
  unsigned long long ms = static_cast<unsigned long long>(seconds) * 1000ull;
  TimeoutMs = ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ms);
  Deadline = 0;
  DeadlineSet = false;
  return 0;
}

void CWsock::StartTimeout() {
  // The start is kept rather than start + time-out: elapsed time, computed in unsigned
  // arithmetic, stays right when the tick count wraps during the wait.
  DeadlineSet = TimeoutMs != 0;
  Deadline = DeadlineSet ? GetTickCount() : 0;
}

bool CWsock::TakeInterruptRequest() {
  if (!InterruptRequest) return false;
  InterruptRequest = false;
  Interrupted = true;
  SetFixedErrorText("Interrupted");
  return true;
}

int CWsock::DoEvents(DWORD milliseconds, HWND window) {
  if (TakeInterruptRequest()) return 0;
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The application's own loop must still see it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return 0;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    if (msg.message == WM_CLOSE) return 0;
    if (!IsWindow(window)) return 0;
  } else if (milliseconds != 0) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, kWakeOnAnyInput);
  }
  if (TakeInterruptRequest()) return 0;
  if (DeadlineSet && static_cast<DWORD>(GetTickCount() - Deadline) > TimeoutMs) {
    SetFixedErrorText("Timeout.");
    return 0;
  }
  return IsWindow(window) ? 1 : 0;
}

DWORD CWsock::PassMs() const {
  if (!DeadlineSet) return INFINITE;
  const DWORD elapsed = GetTickCount() - Deadline;
  // One past the time-out: the pass's own check then finds it over.
  return elapsed > TimeoutMs ? 0 : TimeoutMs - elapsed + 1;
}

void CWsock::FlushEvents() {
  for (int i = 0; i < 100; ++i) DoEvents(0, Window);
}

const char* CWsock::GetLocalHost() {
  LocalHostText[0] = '\0';
  if (!LocalHostAddr) {
    char name[kLocalHostMax + 1] = {};
    if (WinsockProcs.gethostname(name, kLocalHostMax) != 0) {
      FormatWinsockError(WinsockProcs.WSAGetLastError(), LocalHostText, sizeof LocalHostText);
    } else {
      CopyCut(LocalHostText, sizeof LocalHostText, name);
    }
  } else {
    ws::in_addr a{};
    a.s_addr = LocalHostAddr;
    const char* dotted = WinsockProcs.inet_ntoa(a);
    if (!dotted) {
      FormatWinsockError(WinsockProcs.WSAGetLastError(), LocalHostText, sizeof LocalHostText);
    } else {
      CopyCut(LocalHostText, sizeof LocalHostText, dotted);
    }
  }
  return LocalHostText;
}

int CWsock::SetLocalHost(const char* text) {
  ClearErrorText();
  if (!text || !*text) {
    LocalHostAddr = 0;
    return 0;
  }
  if (ResolveHostAddress(text, &LocalHostAddr)) return 0;
  int code = WinsockProcs.WSAGetLastError();
  if (code == ws::WSANOTINITIALISED) return 0;
  return code;
}
