// The engine base with the hidden notification window, the hold on Windows Sockets, the
// time-out and interruption, and the message-pumping wait on which every blocking operation
// of the library rests. Nothing here has a thread or a loop of its own: a blocking call pumps
// the calling thread's queue in short passes.
#pragma once
#include "corv/core/Core.h"
#include "corv/core/Winsock.h"
#include "platform/win32/user.h"

// Socket notifications to the hidden window: wParam the socket, lParam event and error.
inline constexpr UINT WM_CORV_SOCKET = WM_USER + 101;

class CWsock : public CCore {
 public:
  static constexpr int kLocalHostMax = 100;

  CWsock();
  ~CWsock() override;

  // The default window procedure on the object's window; 0 without one.
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  virtual const char* GetLocalHost();
  virtual int SetLocalHost(const char* text);
  // One pass of the wait loop: 1 to keep waiting, 0 to stop.
  virtual int DoEvents(DWORD milliseconds, HWND window);

  // Creates the hidden window (0 when that fails) and, when asked, takes a start of
  // Windows Sockets through the unit's record. Returns 1.
  int Init(bool useWinsock);

  int UseWinsock(bool use);
  bool GetWinsockLoaded() const { return HoldsWinsock; }
  const char* GetWinsockInfo() const;
  const char* GetWinsockStatus() const;
  const char* GetWinsockPath();
  int SetWinsockPath(const char* path);
  WORD GetWinsockMaxSockets() const;
  WORD GetWinsockMaxDatagramSize() const;

  int SetTimeout(DWORD seconds);
  DWORD GetTimeout() const { return TimeoutMs / 1000; }
  // Starts the action's time-out: one deadline shared by all its waits.
  void StartTimeout();
  // Handles socket messages already queued after an action: 100 passes of 0 ms.
  void FlushEvents();
  // Takes a pending interrupt request: sets Interrupted and the text "Interrupted".
  bool TakeInterruptRequest();
  // How long one pass of a blocking wait may sleep: until the action's deadline, without
  // limit when it has none. Everything else that ends a wait arrives as a message.
  DWORD PassMs() const;

  // An action on the engine's stack. The outermost one drops an interrupt request left from
  // before it began; a request made while it runs lives until one of its waits takes it.
  class ActionScope {
   public:
    explicit ActionScope(CWsock& engine) : engine_(engine) {
      if (engine_.ActionDepth++ == 0) engine_.InterruptRequest = false;
    }
    ~ActionScope() { --engine_.ActionDepth; }
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

   private:
    CWsock& engine_;
  };

  // The component unit's record; set it before Init (the core's own by default).
  CWinsock* WinsockRecord;

  DWORD TimeoutMs;         // 0: none
  DWORD Deadline;          // tick count when the running action started; see DeadlineSet
  char LocalHostText[kLocalHostMax + 1];
  bool HoldsWinsock;
  DWORD LocalHostAddr;     // network order; 0: none
  bool InterruptRequest;   // set by Interrupt, taken by DoEvents
  bool Interrupted;        // the running action ends with 301
  bool DeadlineSet;        // the running action has a time-out
  int ActionDepth = 0;     // actions on the stack (ActionScope)
};

// Window procedure of the notification window class: routes to the object in the window's
// first extra word.
LRESULT SocketWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
