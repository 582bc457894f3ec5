#include "corv/core/AsyncIPPort.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "corv/core/Alloc.h"
#include "platform/win32/misc.h"
#include "platform/win32/module.h"

namespace {

constexpr LONG kAllEvents = ws::FD_READ | ws::FD_WRITE | ws::FD_CONNECT | ws::FD_CLOSE;

// Receive errors that end a read pass without a report.
bool QuietRecvError(int code) {
  return code == ws::WSAEWOULDBLOCK || code == ws::WSAENOTSOCK || code == ws::WSAECONNABORTED || code == ws::WSAECONNRESET;
}

}  // namespace

CAsyncIPPort::CAsyncIPPort()
    : InBufferSize(kDefaultBufferSize),
      OutBufferSize(kDefaultBufferSize),
      Socket(ws::INVALID_SOCKET),
      RemoteAddr(0),
      RemotePort(0),
      LocalPort(0),
      BytesSent(0),
      Connected(false),
      AcceptData(true),
      Linger(true),
      KeepAlive(false) {
  Firewall.Owner = this;
}

CAsyncIPPort::~CAsyncIPPort() {
  if (WinsockProcs.WSAIsBlocking()) WinsockProcs.WSACancelBlockingCall();
  CloseSocket();
  Fifo.Free();
  CorvFree(Ahead);
  Firewall.Reply.Clear();
  Firewall.FirewallUser.Clear();
  Firewall.FirewallPassword.Clear();
  Firewall.FirewallData.Clear();
  RemoteHost.Clear();
}

bool CAsyncIPPort::Init() {
  if (!CWsock::Init(true)) return false;
  InBufferSize = kDefaultBufferSize;
  OutBufferSize = kDefaultBufferSize;
  Socket = ws::INVALID_SOCKET;
  RemoteAddr = 0;
  RemoteHost.Clear();
  RemotePort = 0;
  LocalPort = 0;
  BytesSent = 0;
  Firewall.Owner = this;
  Firewall.FirewallType = fwNone;
  Firewall.Pending = false;
  Connected = false;
  AcceptData = true;
  Linger = true;
  KeepAlive = false;
  EmptyReceiveBuffer();
  Fifo.Free();
  Fifo.Init();
  return Fifo.SetSize(LineFIFO::kDefaultSize);
}

bool CAsyncIPPort::MayDeliver() const {
  return AcceptData || Firewall.Pending;
}

bool CAsyncIPPort::StopRequested() const { return InterruptRequest; }

bool CAsyncIPPort::StopReading() const { return !MayDeliver() || StopRequested(); }

void CAsyncIPPort::EmptyReceiveBuffer() {
  if (Fifo.Storage()) Fifo.SetSize(Fifo.Capacity());
  AheadStart = AheadCount = 0;
  NoStorageReported = false;
  // Whether a pass runs is the stack's business: a pass of the connection before ends when it
  // finds its connection gone.
  Read.closeAsked = Read.peerClose = Read.readAsked = false;
  Read.closeWord = 0;
  ++Read.connection;
}

void CAsyncIPPort::PostRead() {
  PostMessageA(Window, WM_CORV_SOCKET, static_cast<WPARAM>(Socket), ws::FD_READ);
}

int CAsyncIPPort::SetRemoteHost(const char* text) {
  ClearErrorText();
  if (RemoteHost.SetText(text ? text : "") != 0) return CORV_OUT_OF_MEMORY;
  if (Firewall.FirewallType != fwNone) return 0;
  if (Socket != ws::INVALID_SOCKET) {
    SetFixedErrorText("You cannot change the RemoteHost at this time. A connection is in progress.");
    return 101;
  }
  if (RemoteHost.IsEmpty()) {
    RemoteAddr = 0;
    return 0;
  }
  if (ResolveHostAddress(RemoteHost.Text(), &RemoteAddr)) return 0;
  int code = WinsockProcs.WSAGetLastError();
  return code == ws::WSANOTINITIALISED ? 0 : code;
}

int CAsyncIPPort::SetRemotePort(WORD port) {
  ClearErrorText();
  if (Socket != ws::INVALID_SOCKET) {
    SetFixedErrorText("You cannot change the RemotePort at this time. A connection is in progress.");
    return 100;
  }
  RemotePort = port;
  return 0;
}

const char* CAsyncIPPort::GetRemoteHost() {
  if (Firewall.FirewallType != fwNone) return RemoteHost.Text();
  if (!RemoteAddr) return "";
  ws::in_addr a{};
  a.s_addr = RemoteAddr;
  const char* dotted = WinsockProcs.inet_ntoa(a);
  return dotted ? dotted : "";
}

int CAsyncIPPort::Connect(bool open) {
  ClearErrorText();
  if (!open) return Disconnect(0);
  if (Socket != ws::INVALID_SOCKET) {
    SetFixedErrorText("Already connected. If you want to reconnect, close the current connection first.");
    return 104;
  }
  EmptyReceiveBuffer();

  bool viaFirewall = Firewall.FirewallType != fwNone;
  DWORD addr = viaFirewall ? Firewall.FirewallAddr : RemoteAddr;
  WORD port = viaFirewall ? Firewall.FirewallPort : RemotePort;
  if (!addr) {
    // With Windows Sockets started nowhere no name could be resolved: say why, when it is
    // because the module cannot be loaded.
    if (CWinsock::ProcessStarts() == 0) {
      if (HMODULE module = LoadLibraryA(WinsockRecord->Path)) {
        FreeLibrary(module);
      } else {
        std::snprintf(ErrorBuffer, sizeof ErrorBuffer, "The \"%.48s\" module could not be loaded.",
                      WinsockRecord->Path);
        ErrorText = ErrorBuffer;
        return ws::WSANOTINITIALISED;
      }
    }
    SetFixedErrorText(viaFirewall ? "The FirewallHost address is invalid (0.0.0.0)."
                                  : "The RemoteHost address is invalid (0.0.0.0).");
    return 102;
  }
  if (!port) {
    SetFixedErrorText(viaFirewall ? "The FirewallPort is invalid (0)."
                                  : "RemotePort can't be zero. Please specify a valid service port number.");
    return 116;
  }

  Connected = false;
  ws::SOCKET s = WinsockProcs.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  if (s == ws::INVALID_SOCKET) return WinsockProcs.WSAGetLastError();
  Socket = s;

  ws::sockaddr_in local{};
  local.sin_family = ws::AF_INET;
  local.sin_addr.s_addr = LocalHostAddr;
  local.sin_port = WinsockProcs.htons(LocalPort);
  if (WinsockProcs.bind(Socket, reinterpret_cast<const ws::sockaddr*>(&local), sizeof local) != 0) {
    int code = WinsockProcs.WSAGetLastError();
    CloseSocket();
    return code;
  }

  SetKeepAlive(KeepAlive);
  SetLinger(Linger);
  SetInBufferSize(InBufferSize);
  SetOutBufferSize(OutBufferSize);
  SetOOBInline(1);
  ClearErrorText();

  if (WinsockProcs.WSAAsyncSelect(Socket, Window, WM_CORV_SOCKET, kAllEvents) != 0) {
    int code = WinsockProcs.WSAGetLastError();
    CloseSocket();
    return code;
  }

  ws::sockaddr_in target{};
  target.sin_family = ws::AF_INET;
  target.sin_addr.s_addr = addr;
  target.sin_port = WinsockProcs.htons(port);
  if (WinsockProcs.connect(Socket, reinterpret_cast<const ws::sockaddr*>(&target), sizeof target) != 0) {
    int code = WinsockProcs.WSAGetLastError();
    if (code != ws::WSAEWOULDBLOCK) {
      CloseSocket();
      return code;
    }
  }
  return 0;
}

int CAsyncIPPort::Disconnect(LONG word) {
  if (Socket == ws::INVALID_SOCKET) {
    CloseSocket();
    return 0;
  }
  if (Read.inPass) {
    // The running pass closes once it is done with the data in hand; the socket reports
    // nothing more meanwhile.
    WinsockProcs.WSAAsyncSelect(Socket, Window, WM_CORV_SOCKET, 0);
    AskClose(word, false);
    return 0;
  }
  // Close stops the notifications itself.
  return Close(word, false);
}

int CAsyncIPPort::CloseSocket() {
  if (Socket != ws::INVALID_SOCKET) {
    WinsockProcs.closesocket(Socket);
    Socket = ws::INVALID_SOCKET;
  }
  Connected = false;
  BytesSent = 0;
  AcceptData = true;
  // The bulk receive buffer goes back with its connection: no handler ever holds its bytes.
  CorvFree(Ahead);
  Ahead = nullptr;
  AheadStart = AheadCount = 0;
  return 0;
}

int CAsyncIPPort::Send(const char* data, DWORD length, int flags, bool throughFirewall) {
  ClearErrorText();
  bool ok = throughFirewall ? Firewall.IsConnected() : Connected;
  if (!ok) {
    WinsockProcs.WSASetLastError(ws::WSAENOTCONN);
    return ws::WSAENOTCONN;
  }
  if (length == 0) return 0;
  // A single call takes at most what an int can say; the rest is "not all sent".
  int chunk = length > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(length);
  int sent = WinsockProcs.send(Socket, data, chunk, flags);
  if (sent == ws::SOCKET_ERROR) {
    BytesSent = 0;
    return WinsockProcs.WSAGetLastError();
  }
  BytesSent = sent;
  if (static_cast<DWORD>(sent) < length) {
    WinsockProcs.WSASetLastError(ws::WSAEWOULDBLOCK);
    return ws::WSAEWOULDBLOCK;
  }
  return 0;
}

int CAsyncIPPort::SetAcceptData(bool accept) {
  AcceptData = accept;
  if (Connected) {
    if (accept) PostRead();
  } else if (Socket != ws::INVALID_SOCKET) {
    DoRead(kReadConnecting);
  }
  return 0;
}

int CAsyncIPPort::SetEOL(const char* eol, WORD length) {
  ClearErrorText();
  if (!Fifo.SetEOL(eol, length)) return CORV_OUT_OF_MEMORY;
  if (Connected) PostRead();
  return 0;
}

int CAsyncIPPort::SetInBufferSize(std::int32_t size) {
  ClearErrorText();
  InBufferSize = size;
  if (Socket == ws::INVALID_SOCKET) return 0;
  if (WinsockProcs.setsockopt(Socket, ws::SOL_SOCKET, ws::SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size) != 0)
    return WinsockProcs.WSAGetLastError();
  return 0;
}

int CAsyncIPPort::SetOutBufferSize(std::int32_t size) {
  ClearErrorText();
  OutBufferSize = size;
  if (Socket == ws::INVALID_SOCKET) return 0;
  if (WinsockProcs.setsockopt(Socket, ws::SOL_SOCKET, ws::SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size) != 0)
    return WinsockProcs.WSAGetLastError();
  return 0;
}

int CAsyncIPPort::SetKeepAlive(bool on) {
  ClearErrorText();
  KeepAlive = on;
  if (Socket == ws::INVALID_SOCKET) return 0;
  std::int32_t v = on ? 1 : 0;
  if (WinsockProcs.setsockopt(Socket, ws::SOL_SOCKET, ws::SO_KEEPALIVE, reinterpret_cast<const char*>(&v), sizeof v) != 0) {
    int code = WinsockProcs.WSAGetLastError();
    std::int32_t back = 0;
    int len = sizeof back;
    if (WinsockProcs.getsockopt(Socket, ws::SOL_SOCKET, ws::SO_KEEPALIVE, reinterpret_cast<char*>(&back), &len) == 0)
      KeepAlive = back != 0;
    return code;
  }
  return 0;
}

int CAsyncIPPort::SetLinger(bool on) {
  ClearErrorText();
  if (Socket == ws::INVALID_SOCKET) {
    Linger = on;
    return 0;
  }
  // Linger off means an abortive close: l_onoff 1 with a time of 0.
  ws::linger l{};
  l.l_onoff = on ? 0 : 1;
  l.l_linger = 0;
  if (WinsockProcs.setsockopt(Socket, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l) != 0)
    return WinsockProcs.WSAGetLastError();
  Linger = on;
  return 0;
}

int CAsyncIPPort::SetOOBInline(std::int32_t on) {
  ClearErrorText();
  if (WinsockProcs.setsockopt(Socket, ws::SOL_SOCKET, ws::SO_OOBINLINE, reinterpret_cast<const char*>(&on), sizeof on) != 0)
    return WinsockProcs.WSAGetLastError();
  return 0;
}

const char* CAsyncIPPort::GetLocalHost() {
  if (Connected) {
    ws::sockaddr_in a{};
    int len = sizeof a;
    if (WinsockProcs.getsockname(Socket, reinterpret_cast<ws::sockaddr*>(&a), &len) == 0) {
      const char* dotted = WinsockProcs.inet_ntoa(a.sin_addr);
      if (dotted) {
        std::size_t n = std::strlen(dotted);
        if (n > kLocalHostMax) n = kLocalHostMax;
        std::memcpy(LocalHostText, dotted, n);
        LocalHostText[n] = '\0';
        return LocalHostText;
      }
    }
  }
  return CWsock::GetLocalHost();
}

LRESULT CAsyncIPPort::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message & 0xFFFF) != WM_CORV_SOCKET || Socket == ws::INVALID_SOCKET || static_cast<ws::SOCKET>(wParam) != Socket)
    return CWsock::HandleMessage(message, wParam, lParam);
  DWORD word = static_cast<DWORD>(lParam);
  switch (LOWORD(word)) {
    case ws::FD_READ:
      if (MayDeliver()) DoRead(kReadNotified);
      break;
    case ws::FD_WRITE:
      Firewall.ReadyToSend();
      break;
    case ws::FD_CONNECT: {
      Connected = true;
      SetOOBInline(1);
      WORD error = HIWORD(word);
      if (error == 0) {
        Firewall.Start(0);
      } else {
        Connected = false;
        Firewall.Start(error);
        CloseSocket();
      }
      break;
    }
    case ws::FD_CLOSE:
      // Reading to the end now would read under the pass in hand.
      if (Read.inPass) {
        AskClose(static_cast<LONG>(word), true);
      } else {
        Close(static_cast<LONG>(word), true);
      }
      break;
    default:
      break;
  }
  return 0;
}

// A delivery whose handler is running. Its bytes lie in the receive buffer's storage; a pass
// that starts meanwhile (a handler's own wait) gives the buffer new storage and leaves the old
// one to the delivery, which frees it when the handler is done.
struct CAsyncIPPort::InHand {
  explicit InHand(CAsyncIPPort& p) : port(p), outer(p.Hand), storage(p.Fifo.Storage()) { p.Hand = this; }
  ~InHand() {
    port.Hand = outer;
    CorvFree(owned);
  }
  InHand(const InHand&) = delete;
  InHand& operator=(const InHand&) = delete;
  CAsyncIPPort& port;
  InHand* outer;
  char* storage;
  char* owned = nullptr;
};

// Marks a pass as running; a handler's throw out of it posts again what the pass put off.
struct CAsyncIPPort::PassGuard {
  explicit PassGuard(CAsyncIPPort& p) : port(p) { p.Read.inPass = true; }
  ~PassGuard() {
    port.Read.inPass = false;
    if (std::uncaught_exceptions() > uncaught) port.RepostAsked();
  }
  PassGuard(const PassGuard&) = delete;
  PassGuard& operator=(const PassGuard&) = delete;
  CAsyncIPPort& port;
  int uncaught = std::uncaught_exceptions();
};

CAsyncIPPort::OwnWait::OwnWait(CAsyncIPPort& port) : port_(port), inPass_(port.Read.inPass) {
  port.Read.inPass = false;
  // The pass below would read on once the handler returns; the socket reports nothing more
  // until someone does, so the wait reads on instead.
  if (inPass_) port.Read.readAsked = true;
  try {
    port.Settle(0);
  } catch (...) {
    port.Read.inPass = inPass_;
    throw;
  }
}

CAsyncIPPort::OwnWait::~OwnWait() { port_.Read.inPass = inPass_; }

int CAsyncIPPort::Deliver(char* data, std::uint32_t n, bool eol) {
  InHand hand(*this);
  return Firewall.DataIn(data, static_cast<WORD>(n), eol);
}

bool CAsyncIPPort::DeliverLines(std::uint32_t connection) {
  char* line = nullptr;
  std::uint32_t n = 0;
  while (Fifo.NextLine(&line, &n)) {
    Deliver(line, n, true);
    if (StopReading() || !Live(connection)) return false;
  }
  return true;
}

bool CAsyncIPPort::ReceiveAhead(int mode) {
  if (mode == kReadFinal || !Fifo.IsRaw() || Fifo.Count() != 0 || Fifo.Capacity() >= kBulkReceive ||
      Firewall.Pending) {
    return false;
  }
  // Without the memory the receive goes into the buffer as before.
  if (!Ahead) Ahead = static_cast<char*>(CorvMalloc(kBulkReceive));
  return Ahead != nullptr;
}

void CAsyncIPPort::TakeAhead(char* room, std::uint32_t size) {
  // Copied rather than handed on in place: a handler only ever holds bytes of the receive
  // buffer, and the byte after them is never the next block's.
  const std::uint32_t n = std::min(AheadCount, size);
  std::memcpy(room, Ahead + AheadStart, n);
  Fifo.Commit(n);
  AheadStart += n;
  AheadCount -= n;
}

void CAsyncIPPort::FlushHeld(std::uint32_t connection) {
  char* p = nullptr;
  std::uint32_t n = 0;
  for (;;) {
    while (Live(connection) && Fifo.NextLine(&p, &n)) {
      if (MayDeliver()) Deliver(p, n, true);
    }
    if (!Live(connection) || AheadCount == 0 || StopRequested()) break;
    if (!Fifo.GetFreeBlock(&p, &n)) {
      if (Fifo.TakeAll(&p, &n) && MayDeliver()) Deliver(p, n, false);
      continue;
    }
    TakeAhead(p, n);
  }
  if (Live(connection) && Fifo.TakeAll(&p, &n) && MayDeliver()) Deliver(p, n, false);
}

int CAsyncIPPort::DoRead(int mode) {
  if (Read.inPass) {
    // A pass further up the stack has handed lines or blocks to handlers still running (one
    // pumps the queue): reading now would deliver out of turn. That pass reads again.
    Read.readAsked = true;
    return 0;
  }
  return Settle(GuardedPass(mode));
}

int CAsyncIPPort::GuardedPass(int mode) {
  if (Hand && Hand->storage && Hand->storage == Fifo.Storage()) {
    // A handler's own wait reads while the handler still holds bytes of the receive buffer.
    char* old = Fifo.Renew();
    if (!old) {
      ErrorHook(CORV_OUT_OF_MEMORY, "Out of memory: no receive buffer for a wait inside a handler.");
      return CORV_OUT_OF_MEMORY;
    }
    Hand->owned = old;
  }
  PassGuard guard(*this);
  return ReadPass(mode);
}

int CAsyncIPPort::Settle(int result) {
  if (Read.closeAsked) result = Close(Read.closeWord, Read.peerClose);
  if (Read.readAsked) {
    Read.readAsked = false;
    if (Connected && Socket != ws::INVALID_SOCKET) PostRead();
  }
  return result;
}

void CAsyncIPPort::AskClose(LONG word, bool peer) {
  if (!Read.closeAsked) {
    Read.closeAsked = true;
    Read.closeWord = word;
  }
  if (peer) Read.peerClose = true;
}

int CAsyncIPPort::Close(LONG word, bool peer) {
  const std::uint32_t connection = Read.connection;
  // Under way: a handler's own wait inside one of the passes below carries it out itself
  // rather than wait for it.
  Read.closeAsked = true;
  Read.closeWord = word;
  Read.peerClose = peer;
  try {
    if (peer && Live(connection)) {
      GuardedPass(kReadToEnd);
      if (Live(connection)) Firewall.ProxyClosed();
    }
    if (Live(connection)) {
      WinsockProcs.WSAAsyncSelect(Socket, Window, WM_CORV_SOCKET, 0);
      if (AcceptData) GuardedPass(kReadFinal);
    }
  } catch (...) {
    if (Read.connection == connection && Read.closeAsked) RepostAsked();
    throw;
  }
  // A handler connected anew: that connection is not this close's.
  if (Read.connection != connection) return 0;
  Read.closeAsked = Read.peerClose = false;
  Read.closeWord = 0;
  if (Connected) {
    Connected = false;
    Firewall.Reset(HIWORD(static_cast<DWORD>(word)));
  }
  if (Socket == ws::INVALID_SOCKET || Read.connection != connection) return 0;
  int r = WinsockProcs.closesocket(Socket);
  int code = r != 0 ? WinsockProcs.WSAGetLastError() : 0;
  Socket = ws::INVALID_SOCKET;
  CloseSocket();
  return code;
}

void CAsyncIPPort::RepostAsked() {
  const bool close = Read.closeAsked;
  const LONG word = Read.closeWord;
  Read.closeAsked = Read.peerClose = Read.readAsked = false;
  Read.closeWord = 0;
  if (Socket == ws::INVALID_SOCKET) return;
  // Handles are never reused, so a close still queued when the socket goes names nothing.
  if (close) {
    PostMessageA(Window, WM_CORV_SOCKET, static_cast<WPARAM>(Socket),
                 MAKELONG(ws::FD_CLOSE, HIWORD(static_cast<DWORD>(word))));
  } else if (Connected) {
    PostRead();
  }
}

int CAsyncIPPort::ReadPass(int mode) {
  const std::uint32_t connection = Read.connection;
  const DWORD start = GetTickCount();
  while (Live(connection)) {
    if (StopReading()) return 0;
    if (!Fifo.Storage() || Fifo.Capacity() == 0) {
      // Without storage there is nowhere to receive into: say so once instead of spinning.
      if (!NoStorageReported) {
        NoStorageReported = true;
        ErrorHook(CORV_OUT_OF_MEMORY, "Out of memory: the receive buffer has no storage.");
      }
      return CORV_OUT_OF_MEMORY;
    }
    if (!DeliverLines(connection)) return 0;

    char* block = nullptr;
    std::uint32_t room = 0;
    if (!Fifo.GetFreeBlock(&block, &room)) {
      // Full and no line end in it: hand the whole buffer over as a piece of a line.
      char* data = nullptr;
      std::uint32_t n = 0;
      if (Fifo.TakeAll(&data, &n)) {
        int r = Deliver(data, n, false);
        if (r) return r;
      }
      continue;
    }
    // A close asked for during the pass comes before more reading; the pass closes when done.
    // (The passes of a close under way read on to the end.)
    if (Read.closeAsked && mode != kReadFinal && mode != kReadToEnd) return 0;
    if (AheadCount > 0) {
      // Bytes already received come before anything still in the socket.
      TakeAhead(block, room);
      continue;
    }

    const bool ahead = ReceiveAhead(mode);
    char* into = ahead ? Ahead : block;
    int got = WinsockProcs.recv(Socket, into, static_cast<int>(ahead ? kBulkReceive : room), 0);
    if (got == ws::SOCKET_ERROR) {
      int code = WinsockProcs.WSAGetLastError();
      if (QuietRecvError(code)) return code;
      char text[64];
      wsprintfA(text, "socket error in recv: %d", code);
      ErrorHook(static_cast<WORD>(code), text);
      return code;
    }
    if (got > 0 && Firewall.Pending) {
      return Deliver(block, static_cast<std::uint32_t>(got), false);
    }
    if (got > 0) {
      if (ahead) {
        AheadStart = 0;
        AheadCount = static_cast<std::uint32_t>(got);
      } else {
        Fifo.Commit(static_cast<std::uint32_t>(got));
      }
      if (mode == kReadNotified) {
        // A peer that sends faster than the handlers take it would hold the pass for ever, and
        // the wait below with it (its time-out, timers, the GUI): the rest comes as a message.
        if (static_cast<DWORD>(GetTickCount() - start) < kPassMs) continue;
        Read.readAsked = true;
        return 0;
      }
    }
    // A final read, or the peer closed: hand over everything, dropping what is refused.
    FlushHeld(connection);
    if (mode == kReadFinal) return 0;
    if (got > 0) continue;
    if (mode == kReadNotified && Live(connection)) {
      Firewall.ProxyClosed();
      AskClose(0, false);
    }
    return 0;
  }
  return 0;
}

int CInternalIPPort::OnConnected(WORD code) {
  char text[CORV_ERROR_TEXT_SIZE];
  if (code == 0) {
    std::strcpy(text, "OK");
  } else {
    FormatWinsockError(code, text, sizeof text);
  }
  return FireConnected(code, text);
}

int CInternalIPPort::OnDisconnected(WORD code) {
  char text[CORV_ERROR_TEXT_SIZE];
  if (code == 0) {
    std::strcpy(text, "OK");
  } else {
    FormatWinsockError(code, text, sizeof text);
  }
  return FireDisconnected(code, text);
}

int CInternalIPPort::FireConnected(WORD, const char*) { return 0; }
int CInternalIPPort::OnDataIn(const char*, WORD, bool) { return 0; }
int CInternalIPPort::FireDisconnected(WORD, const char*) { return 0; }
int CInternalIPPort::FireError(WORD, const char*) { return 0; }
int CInternalIPPort::FireReadyToSend() { return 0; }
