// Socket handles and the socket calls, with window notifications driven by the thread's host.
//
// Notification rules: FD_READ is re-enabled only by recv/recvfrom, FD_ACCEPT only by accept,
// FD_OOB by a recv with MSG_OOB; FD_WRITE is posted after connect or accept and again once room
// frees after a send that would have blocked; FD_CONNECT and FD_CLOSE are posted once each.
// Whenever nothing is due the fd watch reports nothing, so a level-triggered host never spins.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/win32/host.h"
#include "platform/win32/user.h"
#include "platform/winsock/detail/bsd.h"
#include "platform/winsock/detail/internal.h"
#include "platform/winsock/wsock32.h"

namespace winsock::detail {
namespace {

struct Sock {
  std::mutex mu;
  ws::SOCKET handle = 0;
  int fd = -1;  // -1 once closed
  bsd::Kind kind = bsd::Kind::Stream;
  bool nonBlocking = false;
  bool listening = false;
  bool connecting = false;
  bool connected = false;
  bool sendShut = false;
  bool oobInline = false;
  bool closeDone = false;  // FD_CLOSE posted, or the end already reported
  int endError = 0;        // the reset that ended the stream, once seen
  // Bytes known to be waiting: the last FIONREAD answer less what recv took since. Bytes never
  // leave the receive queue but through recv, so while this is positive more data is certain.
  long knownReadable = 0;
  // SO_RCVBUF / SO_SNDBUF asked for on a stream socket: kept, not applied (see BufferSizeToKernel).
  int rcvBuf = 0;
  int sndBuf = 0;

  HWND hwnd = nullptr;
  UINT msg = 0;
  std::int32_t mask = 0;
  win32::Host* host = nullptr;
  int watchId = 0;
  short watchEvents = 0;
  std::thread::id owner;
  bool readEnabled = true;
  bool acceptEnabled = true;
  bool oobEnabled = true;
  bool writeDue = false;
};

using SockPtr = std::shared_ptr<Sock>;

struct Table {
  std::mutex mu;
  std::unordered_map<ws::SOCKET, SockPtr> sockets;
  // Handles only grow, so a notification still queued for a closed socket never names a live one.
  std::uint64_t next = 0x100;
};

Table& Sockets() {
  static Table* t = new Table;  // never destroyed: sockets may be closed from static destructors
  return *t;
}

SockPtr Find(ws::SOCKET s) {
  Table& t = Sockets();
  std::lock_guard lock(t.mu);
  auto it = t.sockets.find(s);
  return it == t.sockets.end() ? nullptr : it->second;
}

ws::SOCKET Insert(const SockPtr& sock) {
  Table& t = Sockets();
  std::lock_guard lock(t.mu);
  ws::SOCKET h;
  do {
    h = static_cast<ws::SOCKET>(t.next++);
  } while (h == 0 || h == ws::INVALID_SOCKET || t.sockets.count(h));
  sock->handle = h;
  t.sockets.emplace(h, sock);
  return h;
}

SockPtr Remove(ws::SOCKET s) {
  Table& t = Sockets();
  std::lock_guard lock(t.mu);
  auto it = t.sockets.find(s);
  if (it == t.sockets.end()) return nullptr;
  SockPtr sock = it->second;
  t.sockets.erase(it);
  return sock;
}

bool IsResetError(int err) {
  return err == ws::WSAECONNRESET || err == ws::WSAECONNABORTED || err == ws::WSAETIMEDOUT ||
         err == ws::WSAENETRESET;
}

bool OnOwnerThread(const Sock& s) { return s.owner == std::this_thread::get_id(); }

// --- notifications (socket lock held) ---

void Post(Sock& s, std::int32_t event, int error) {
  if (!s.hwnd || !(s.mask & event)) return;
  PostMessageA(s.hwnd, s.msg, s.handle,
               ws::WSAMAKESELECTREPLY(static_cast<WORD>(event), static_cast<WORD>(error)));
}

// One FD_READ waiting in the queue is enough: the reader's next recv re-arms.
void PostRead(Sock& s) {
  if (!s.hwnd || !(s.mask & ws::FD_READ)) return;
  const LPARAM l = ws::WSAMAKESELECTREPLY(static_cast<WORD>(ws::FD_READ), 0);
  if (NotificationQueued(s.hwnd, s.msg, s.handle, l)) return;
  PostMessageA(s.hwnd, s.msg, s.handle, l);
}

struct WatchCell {
  int id = 0;
};

void OnReady(ws::SOCKET handle, const std::shared_ptr<WatchCell>& cell, short revents);

// Watches the socket on the calling thread's host, reporting nothing until told what to.
void StartWatch(Sock& s, win32::Host* host) {
  auto cell = std::make_shared<WatchCell>();
  const ws::SOCKET handle = s.handle;
  cell->id = host->Watch(s.fd, 0, [handle, cell](short revents) { OnReady(handle, cell, revents); });
  s.host = host;
  s.watchId = cell->id;
  s.watchEvents = 0;
}

void UpdateWatch(Sock& s) {
  if (!s.watchId || !OnOwnerThread(s)) return;
  // A host installed since (the framework's) has none of the old host's watches.
  if (win32::Host* current = &win32::CurrentHost(); current != s.host) StartWatch(s, current);
  short want = 0;
  if (s.hwnd && s.mask && s.fd >= 0) {
    if (s.listening) {
      if ((s.mask & ws::FD_ACCEPT) && s.acceptEnabled) want |= bsd::kPollIn;
    } else if (s.connecting) {
      want |= bsd::kPollOut;
    } else if (s.connected) {
      if (!s.closeDone && s.readEnabled && (s.mask & (ws::FD_READ | ws::FD_CLOSE))) want |= bsd::kPollIn;
      if (s.writeDue && (s.mask & ws::FD_WRITE)) want |= bsd::kPollOut;
      if (!s.closeDone && !s.oobInline && s.oobEnabled && (s.mask & ws::FD_OOB)) want |= bsd::kPollPri;
    }
  }
  if (want != s.watchEvents) {
    s.host->SetEvents(s.watchId, want);
    s.watchEvents = want;
  }
}

void FinishConnect(Sock& s, int err) {
  s.connecting = false;
  if (err == 0) {
    s.connected = true;
    Post(s, ws::FD_CONNECT, 0);
    s.writeDue = false;
    Post(s, ws::FD_WRITE, 0);
  } else {
    Post(s, ws::FD_CONNECT, err);
  }
}

void ReportEnd(Sock& s, int err) {
  s.closeDone = true;
  if (err) s.endError = err;
  Post(s, ws::FD_CLOSE, err);
}

// Readable: either data (FD_READ) or the end of the stream (FD_CLOSE, once no data is left).
void CheckRead(Sock& s) {
  if (s.kind != bsd::Kind::Stream) {
    s.readEnabled = false;
    PostRead(s);
    return;
  }
  if (s.endError) {
    ReportEnd(s, s.endError);
    return;
  }
  int err = 0;
  const int n = bsd::Readable(s.fd, &err);
  s.knownReadable = n > 0 ? n : 0;
  if (n > 0) {
    // Until recv is called nothing more is reported: not even the end of the stream.
    s.readEnabled = false;
    PostRead(s);
    return;
  }
  const int end = n < 0 ? -1 : bsd::PeekEnd(s.fd, &err);
  if (end == 1) ReportEnd(s, 0);
  if (end < 0) ReportEnd(s, err);
}

void OnReady(ws::SOCKET handle, const std::shared_ptr<WatchCell>& cell, short revents) {
  SockPtr sp = Find(handle);
  win32::Host& host = win32::CurrentHost();
  if (!sp) {
    host.Unwatch(cell->id);
    return;
  }
  std::lock_guard lock(sp->mu);
  Sock& s = *sp;
  if (s.watchId != cell->id || s.host != &host) {
    // A watch left behind by an earlier selection on another thread or host.
    host.Unwatch(cell->id);
    return;
  }
  if (s.fd < 0 || !s.hwnd) return;
  const short inish = bsd::kPollIn | bsd::kPollErr | bsd::kPollHup;
  const short outish = bsd::kPollOut | bsd::kPollErr | bsd::kPollHup;
  if (s.listening) {
    if ((revents & inish) && s.acceptEnabled && (s.mask & ws::FD_ACCEPT)) {
      s.acceptEnabled = false;
      Post(s, ws::FD_ACCEPT, 0);
    }
  } else if (s.connecting) {
    if (revents & outish) FinishConnect(s, bsd::TakeError(s.fd));
  } else if (s.connected) {
    if ((revents & inish) && s.readEnabled && !s.closeDone) CheckRead(s);
    if ((revents & outish) && s.writeDue) {
      s.writeDue = false;
      Post(s, ws::FD_WRITE, 0);
    }
    if ((revents & bsd::kPollPri) && s.oobEnabled && !s.oobInline) {
      s.oobEnabled = false;
      Post(s, ws::FD_OOB, 0);
    }
  }
  UpdateWatch(s);
}

void StopWatching(Sock& s) {
  if (s.watchId && OnOwnerThread(s) && s.host == &win32::CurrentHost()) s.host->Unwatch(s.watchId);
  s.watchId = 0;
  s.watchEvents = 0;
  s.host = nullptr;
}

// Socket lock held.
int SelectLocked(Sock& s, HWND hwnd, UINT msg, std::int32_t mask) {
  int err = 0;
  if (bsd::SetNonBlocking(s.fd, true, &err) < 0) return err;
  s.nonBlocking = true;
  if (mask == 0) {
    if (s.hwnd && OnOwnerThread(s)) DropNotifications(s.hwnd, s.msg, s.handle);
    StopWatching(s);
    s.hwnd = nullptr;
    s.msg = 0;
    s.mask = 0;
    return 0;
  }
  win32::Host* host = &win32::CurrentHost();
  if (s.watchId && (s.host != host || !OnOwnerThread(s))) {
    // The old watch removes itself when it next fires.
    s.watchId = 0;
    s.watchEvents = 0;
  }
  s.hwnd = hwnd;
  s.msg = msg;
  s.mask = mask;
  s.owner = std::this_thread::get_id();
  s.host = host;
  s.readEnabled = s.acceptEnabled = s.oobEnabled = true;
  if (!s.watchId) StartWatch(s, host);
  // A connected socket can send at once.
  if (s.connected && !s.writeDue) Post(s, ws::FD_WRITE, 0);
  UpdateWatch(s);
  return 0;
}

bool ToInet(const ws::sockaddr* name, int namelen, bsd::Inet4* out, int* err) {
  if (!name || namelen < static_cast<int>(sizeof(ws::sockaddr_in))) {
    *err = ws::WSAEFAULT;
    return false;
  }
  ws::sockaddr_in sin;
  std::memcpy(&sin, name, sizeof sin);
  if (sin.sin_family != ws::AF_INET) {
    *err = ws::WSAEAFNOSUPPORT;
    return false;
  }
  out->addr = sin.sin_addr.s_addr;
  out->port = sin.sin_port;
  return true;
}

bool FromInet(const bsd::Inet4& in, ws::sockaddr* name, int* namelen, int* err) {
  if (!name) return true;
  if (!namelen || *namelen < static_cast<int>(sizeof(ws::sockaddr_in))) {
    *err = ws::WSAEFAULT;
    return false;
  }
  ws::sockaddr_in sin{};
  sin.sin_family = ws::AF_INET;
  sin.sin_port = in.port;
  sin.sin_addr.s_addr = in.addr;
  std::memcpy(name, &sin, sizeof sin);
  *namelen = sizeof sin;
  return true;
}

// Looks the socket up, or fails the call with the proper error.
#define TAKE_SOCKET(sp, s)                                  \
  if (!Started()) return Fail(ws::WSANOTINITIALISED);       \
  SockPtr sp = Find(s);                                     \
  if (!sp) return Fail(ws::WSAENOTSOCK)

int RecvCommon(ws::SOCKET handle, char* buf, int len, int flags, ws::sockaddr* from, int* fromlen) {
  TAKE_SOCKET(sp, handle);
  if (len < 0 || (!buf && len > 0)) return Fail(ws::WSAEFAULT);
  if (from && (!fromlen || *fromlen < static_cast<int>(sizeof(ws::sockaddr_in)))) return Fail(ws::WSAEFAULT);
  int fd;
  {
    std::lock_guard lock(sp->mu);
    fd = sp->fd;
    if (sp->listening) return Fail(ws::WSAENOTCONN);
  }
  if (fd < 0) return Fail(ws::WSAENOTSOCK);
  int err = 0;
  bsd::Inet4 peer;
  const long r = from ? bsd::RecvFrom(fd, buf, static_cast<std::size_t>(len), flags, &peer, &err)
                      : bsd::Recv(fd, buf, static_cast<std::size_t>(len), flags, &err);
  std::lock_guard lock(sp->mu);
  Sock& s = *sp;
  if (s.fd < 0) return r < 0 ? Fail(err) : static_cast<int>(r);
  if (flags & ws::MSG_OOB)
    s.oobEnabled = true;
  else
    s.readEnabled = true;
  if (r > 0) {
    if (s.connecting) FinishConnect(s, 0);
    const bool consumed = !(flags & (ws::MSG_PEEK | ws::MSG_OOB));
    if (consumed) s.knownReadable = std::max(0L, s.knownReadable - r);
    // Bytes left behind: report them now rather than at the next readiness report.
    const bool maybeMore = s.kind != bsd::Kind::Stream || r == len || (flags & ws::MSG_PEEK);
    if (s.hwnd && (s.mask & ws::FD_READ) && !s.closeDone && !(flags & ws::MSG_OOB) && maybeMore) {
      if (s.knownReadable <= 0 || s.kind != bsd::Kind::Stream) {
        int e2 = 0;
        const int n = bsd::Readable(s.fd, &e2);
        s.knownReadable = n > 0 ? n : 0;
      }
      if (s.knownReadable > 0) {
        s.readEnabled = false;
        PostRead(s);
      }
    }
  } else {
    s.knownReadable = 0;
  }
  if (r == 0 && s.endError && s.kind == bsd::Kind::Stream && len > 0) {
    UpdateWatch(s);
    return Fail(s.endError);
  } else if (r < 0 && IsResetError(err)) {
    s.endError = err;
  }
  UpdateWatch(s);
  if (r < 0) return Fail(err);
  if (from) FromInet(peer, from, fromlen, &err);
  return static_cast<int>(r);
}

int SendCommon(ws::SOCKET handle, const char* buf, int len, int flags, const ws::sockaddr* to, int tolen) {
  TAKE_SOCKET(sp, handle);
  if (len < 0 || (!buf && len > 0)) return Fail(ws::WSAEFAULT);
  int err = 0;
  bsd::Inet4 dest;
  if (to && !ToInet(to, tolen, &dest, &err)) return Fail(err);
  int fd;
  {
    std::lock_guard lock(sp->mu);
    fd = sp->fd;
  }
  if (fd < 0) return Fail(ws::WSAENOTSOCK);
  const long r = to ? bsd::SendTo(fd, buf, static_cast<std::size_t>(len), flags, dest, &err)
                    : bsd::Send(fd, buf, static_cast<std::size_t>(len), flags, &err);
  std::lock_guard lock(sp->mu);
  Sock& s = *sp;
  if (r < 0) {
    // The kernel says EPIPE both for a stream never connected and for one the peer ended.
    if (err == ws::WSAESHUTDOWN && !s.sendShut) {
      if (!s.connected && !s.connecting)
        err = ws::WSAENOTCONN;
      else
        err = s.endError ? s.endError : ws::WSAECONNRESET;
    }
    if (err == ws::WSAEWOULDBLOCK) s.writeDue = true;
    if (IsResetError(err) && !s.endError) s.endError = err;
  } else if (r < len && s.nonBlocking) {
    // The buffer filled: tell the sender when room frees.
    s.writeDue = true;
  }
  if (s.fd >= 0) UpdateWatch(s);
  return r < 0 ? Fail(err) : static_cast<int>(r);
}

int MapOption(int level, int optname, bsd::Option* out) {
  if (level == ws::IPPROTO_TCP) {
    if (optname != ws::TCP_NODELAY) return ws::WSAENOPROTOOPT;
    *out = bsd::Option::TcpNoDelay;
    return 0;
  }
  if (level != ws::SOL_SOCKET) return ws::WSAEINVAL;
  switch (optname) {
    case ws::SO_DEBUG: *out = bsd::Option::Debug; return 0;
    case ws::SO_ACCEPTCONN: *out = bsd::Option::AcceptConn; return 0;
    case ws::SO_REUSEADDR: *out = bsd::Option::ReuseAddr; return 0;
    case ws::SO_KEEPALIVE: *out = bsd::Option::KeepAlive; return 0;
    case ws::SO_DONTROUTE: *out = bsd::Option::DontRoute; return 0;
    case ws::SO_BROADCAST: *out = bsd::Option::Broadcast; return 0;
    case ws::SO_OOBINLINE: *out = bsd::Option::OobInline; return 0;
    case ws::SO_SNDBUF: *out = bsd::Option::SndBuf; return 0;
    case ws::SO_RCVBUF: *out = bsd::Option::RcvBuf; return 0;
    case ws::SO_SNDLOWAT: *out = bsd::Option::SndLowat; return 0;
    case ws::SO_RCVLOWAT: *out = bsd::Option::RcvLowat; return 0;
    case ws::SO_SNDTIMEO: *out = bsd::Option::SndTimeo; return 0;
    case ws::SO_RCVTIMEO: *out = bsd::Option::RcvTimeo; return 0;
    case ws::SO_ERROR: *out = bsd::Option::Error; return 0;
    case ws::SO_TYPE: *out = bsd::Option::Type; return 0;
    default: return ws::WSAENOPROTOOPT;
  }
}

}  // namespace

// Windows keeps a stream's TCP window and send queue apart from these sizes; Linux shrinks
// both to them and stops tuning them, which cut loopback throughput tenfold (receive) and
// far more (send) at the engine's 2048 bytes. Stream sockets therefore keep the size they were
// asked for (getsockopt reads it back) and leave the kernel to size its buffers; 0 means "do
// not apply". Datagram sockets pass their size straight through and do not come here.
int BufferSizeToKernel(int /*winsockBytes*/) { return 0; }
// The kernel reports twice what it was given (its bookkeeping share).
int BufferSizeFromKernel(int kernelBytes) { return kernelBytes / 2; }

void CloseAllSockets() {
  std::vector<ws::SOCKET> handles;
  {
    Table& t = Sockets();
    std::lock_guard lock(t.mu);
    for (const auto& [h, s] : t.sockets) handles.push_back(h);
  }
  for (ws::SOCKET h : handles) ws::closesocket(h);
}

}  // namespace winsock::detail

namespace ws {

using namespace winsock::detail;
namespace bsd = winsock::bsd;

namespace {
SOCKET FailSocket(int code) {
  SetError(code);
  return INVALID_SOCKET;
}
}  // namespace

int WSAFDIsSet(SOCKET s, fd_set* set) { return set ? FdSetHas(s, set) : 0; }

SOCKET socket(int af, int type, int protocol) {
  if (!Started()) return FailSocket(WSANOTINITIALISED);
  if (af != AF_INET) return FailSocket(WSAEAFNOSUPPORT);
  bsd::Kind kind;
  switch (type) {
    case SOCK_STREAM:
      kind = bsd::Kind::Stream;
      if (protocol != 0 && protocol != IPPROTO_TCP) return FailSocket(WSAEPROTONOSUPPORT);
      break;
    case SOCK_DGRAM:
      kind = bsd::Kind::Datagram;
      if (protocol != 0 && protocol != IPPROTO_UDP) return FailSocket(WSAEPROTONOSUPPORT);
      break;
    case SOCK_RAW: kind = bsd::Kind::Raw; break;
    default: return FailSocket(WSAESOCKTNOSUPPORT);
  }
  int err = 0;
  const int fd = bsd::OpenSocket(kind, protocol, &err);
  if (fd < 0) return FailSocket(err);
  auto sock = std::make_shared<Sock>();
  sock->fd = fd;
  sock->kind = kind;
  sock->connected = kind != bsd::Kind::Stream;
  return Insert(sock);
}

int closesocket(SOCKET s) {
  if (!Started()) return Fail(WSANOTINITIALISED);
  SockPtr sp = Remove(s);
  if (!sp) return Fail(WSAENOTSOCK);
  std::lock_guard lock(sp->mu);
  if (sp->hwnd && OnOwnerThread(*sp)) DropNotifications(sp->hwnd, sp->msg, sp->handle);
  StopWatching(*sp);
  sp->hwnd = nullptr;
  sp->mask = 0;
  bsd::Close(sp->fd);
  sp->fd = -1;
  return 0;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  TAKE_SOCKET(sp, s);
  int err = 0;
  bsd::Inet4 local;
  if (!ToInet(name, namelen, &local, &err)) return Fail(err);
  std::lock_guard lock(sp->mu);
  return bsd::Bind(sp->fd, local, &err) < 0 ? Fail(err) : 0;
}

int listen(SOCKET s, int backlog) {
  TAKE_SOCKET(sp, s);
  std::lock_guard lock(sp->mu);
  if (sp->kind != bsd::Kind::Stream) return Fail(WSAEOPNOTSUPP);
  if (sp->connected || sp->connecting) return Fail(WSAEISCONN);
  int err = 0;
  if (bsd::Listen(sp->fd, std::clamp(backlog, 1, SOMAXCONN), &err) < 0) return Fail(err);
  sp->listening = true;
  sp->acceptEnabled = true;
  UpdateWatch(*sp);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
  if (!Started()) return FailSocket(WSANOTINITIALISED);
  SockPtr sp = Find(s);
  if (!sp) return FailSocket(WSAENOTSOCK);
  if (addr && (!addrlen || *addrlen < static_cast<int>(sizeof(sockaddr_in)))) return FailSocket(WSAEFAULT);
  int fd;
  bool nonBlocking;
  {
    std::lock_guard lock(sp->mu);
    if (!sp->listening) return FailSocket(WSAEINVAL);
    fd = sp->fd;
    nonBlocking = sp->nonBlocking;
  }
  int err = 0;
  bsd::Inet4 peer;
  const int nfd = bsd::Accept(fd, &peer, nonBlocking, &err);
  std::lock_guard lock(sp->mu);
  sp->acceptEnabled = true;
  if (sp->fd >= 0) UpdateWatch(*sp);
  if (nfd < 0) return FailSocket(err);
  auto sock = std::make_shared<Sock>();
  sock->fd = nfd;
  sock->connected = true;
  sock->nonBlocking = nonBlocking;
  const SOCKET h = Insert(sock);
  // The new socket takes over the listener's notifications, as Windows hands them on.
  if (sp->hwnd && sp->mask && OnOwnerThread(*sp)) {
    std::lock_guard lock2(sock->mu);
    SelectLocked(*sock, sp->hwnd, sp->msg, sp->mask);
  }
  FromInet(peer, addr, addrlen, &err);
  return h;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
  TAKE_SOCKET(sp, s);
  int err = 0;
  bsd::Inet4 remote;
  if (!ToInet(name, namelen, &remote, &err)) return Fail(err);
  if (remote.addr == INADDR_ANY || remote.port == 0) return Fail(WSAEADDRNOTAVAIL);
  int fd;
  {
    std::lock_guard lock(sp->mu);
    if (sp->listening) return Fail(WSAEINVAL);
    if (sp->connecting) return Fail(WSAEALREADY);
    if (sp->connected && sp->kind == bsd::Kind::Stream) return Fail(WSAEISCONN);
    fd = sp->fd;
  }
  bool inProgress = false;
  const int r = bsd::Connect(fd, remote, &inProgress, &err);
  std::lock_guard lock(sp->mu);
  Sock& c = *sp;
  if (c.fd < 0) return Fail(WSAENOTSOCK);
  if (r == 0) {
    if (c.kind == bsd::Kind::Stream) {
      if (c.hwnd)
        FinishConnect(c, 0);
      else
        c.connected = true;
    }
    UpdateWatch(c);
    return 0;
  }
  if (inProgress) {
    c.connecting = true;
    UpdateWatch(c);
    return Fail(WSAEWOULDBLOCK);
  }
  // A non-blocking connect on Windows never fails at once: the outcome comes as FD_CONNECT.
  const bool outcomeLater = err == WSAECONNREFUSED || err == WSAENETUNREACH || err == WSAEHOSTUNREACH ||
                            err == WSAETIMEDOUT;
  if (c.nonBlocking && c.hwnd && (c.mask & FD_CONNECT) && outcomeLater) {
    Post(c, FD_CONNECT, err);
    return Fail(WSAEWOULDBLOCK);
  }
  return Fail(err);
}

int ioctlsocket(SOCKET s, std::int32_t cmd, u_long* argp) {
  TAKE_SOCKET(sp, s);
  if (!argp) return Fail(WSAEFAULT);
  std::lock_guard lock(sp->mu);
  int err = 0;
  if (cmd == FIONBIO) {
    const bool on = *argp != 0;
    // A socket that reports to a window stays non-blocking.
    if (!on && sp->hwnd) return Fail(WSAEINVAL);
    if (bsd::SetNonBlocking(sp->fd, on, &err) < 0) return Fail(err);
    sp->nonBlocking = on;
    return 0;
  }
  if (cmd == FIONREAD) {
    if (sp->listening) {
      *argp = 0;
      return 0;
    }
    const int n = bsd::Readable(sp->fd, &err);
    if (n < 0) return Fail(err);
    *argp = static_cast<u_long>(n);
    return 0;
  }
  if (cmd == SIOCATMARK) {
    const int at = bsd::AtOobMark(sp->fd, &err);
    if (at < 0) return Fail(err);
    // Winsock answers whether all urgent data has been read.
    *argp = at ? 0 : 1;
    return 0;
  }
  return Fail(WSAEINVAL);
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
  TAKE_SOCKET(sp, s);
  if (!name || !namelen) return Fail(WSAEFAULT);
  std::lock_guard lock(sp->mu);
  int err = 0;
  bsd::Inet4 a;
  if (bsd::PeerName(sp->fd, &a, &err) < 0) return Fail(err);
  return FromInet(a, name, namelen, &err) ? 0 : Fail(err);
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  TAKE_SOCKET(sp, s);
  if (!name || !namelen) return Fail(WSAEFAULT);
  std::lock_guard lock(sp->mu);
  int err = 0;
  bsd::Inet4 a;
  if (bsd::LocalName(sp->fd, &a, &err) < 0) return Fail(err);
  return FromInet(a, name, namelen, &err) ? 0 : Fail(err);
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  TAKE_SOCKET(sp, s);
  if (!optval) return Fail(WSAEFAULT);
  std::lock_guard lock(sp->mu);
  int err = 0;
  if (level == SOL_SOCKET && (optname == SO_LINGER || optname == SO_DONTLINGER)) {
    bsd::Linger l;
    if (optname == SO_LINGER) {
      if (optlen < static_cast<int>(sizeof(linger))) return Fail(WSAEFAULT);
      linger wl;
      std::memcpy(&wl, optval, sizeof wl);
      l.on = wl.l_onoff != 0;
      l.seconds = wl.l_linger;
    } else {
      if (optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
      int v;
      std::memcpy(&v, optval, sizeof v);
      l.on = v == 0;
      l.seconds = 0;
    }
    return bsd::SetLinger(sp->fd, l, &err) < 0 ? Fail(err) : 0;
  }
  bsd::Option opt;
  if (const int e = MapOption(level, optname, &opt)) return Fail(e);
  if (opt == bsd::Option::Error || opt == bsd::Option::Type || opt == bsd::Option::AcceptConn)
    return Fail(WSAENOPROTOOPT);
  if (optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
  int v;
  std::memcpy(&v, optval, sizeof v);
  if (opt == bsd::Option::RcvBuf || opt == bsd::Option::SndBuf) {
    if (v < 0) return Fail(WSAEINVAL);
    if (sp->kind == bsd::Kind::Stream) {
      (opt == bsd::Option::RcvBuf ? sp->rcvBuf : sp->sndBuf) = v;
      const int k = BufferSizeToKernel(v);
      if (k == 0) return 0;
      v = k;
    }
  }
  if (bsd::SetIntOption(sp->fd, opt, v, &err) < 0) return Fail(err);
  if (opt == bsd::Option::OobInline) {
    sp->oobInline = v != 0;
    UpdateWatch(*sp);
  }
  return 0;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  TAKE_SOCKET(sp, s);
  if (!optval || !optlen) return Fail(WSAEFAULT);
  std::lock_guard lock(sp->mu);
  int err = 0;
  if (level == SOL_SOCKET && (optname == SO_LINGER || optname == SO_DONTLINGER)) {
    bsd::Linger l;
    if (bsd::GetLinger(sp->fd, &l, &err) < 0) return Fail(err);
    if (optname == SO_LINGER) {
      if (*optlen < static_cast<int>(sizeof(linger))) return Fail(WSAEFAULT);
      const linger wl{static_cast<u_short>(l.on ? 1 : 0), static_cast<u_short>(l.seconds)};
      std::memcpy(optval, &wl, sizeof wl);
      *optlen = sizeof wl;
    } else {
      if (*optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
      const int v = l.on ? 0 : 1;
      std::memcpy(optval, &v, sizeof v);
      *optlen = sizeof v;
    }
    return 0;
  }
  bsd::Option opt;
  if (const int e = MapOption(level, optname, &opt)) return Fail(e);
  if (*optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
  int v = 0;
  const int kept = opt == bsd::Option::RcvBuf ? sp->rcvBuf : opt == bsd::Option::SndBuf ? sp->sndBuf : 0;
  if (kept > 0) {
    v = kept;
  } else {
    if (bsd::GetIntOption(sp->fd, opt, &v, &err) < 0) return Fail(err);
    if (opt == bsd::Option::RcvBuf || opt == bsd::Option::SndBuf) v = BufferSizeFromKernel(v);
  }
  std::memcpy(optval, &v, sizeof v);
  *optlen = sizeof v;
  return 0;
}

u_long htonl(u_long v) { return __builtin_bswap32(v); }
u_short htons(u_short v) { return __builtin_bswap16(v); }
u_long ntohl(u_long v) { return __builtin_bswap32(v); }
u_short ntohs(u_short v) { return __builtin_bswap16(v); }

int recv(SOCKET s, char* buf, int len, int flags) { return RecvCommon(s, buf, len, flags, nullptr, nullptr); }

int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  return RecvCommon(s, buf, len, flags, from, fromlen);
}

int send(SOCKET s, const char* buf, int len, int flags) { return SendCommon(s, buf, len, flags, nullptr, 0); }

int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
  return SendCommon(s, buf, len, flags, to, tolen);
}

int shutdown(SOCKET s, int how) {
  TAKE_SOCKET(sp, s);
  if (how < SD_RECEIVE || how > SD_BOTH) return Fail(WSAEINVAL);
  std::lock_guard lock(sp->mu);
  int err = 0;
  if (bsd::Shutdown(sp->fd, how, &err) < 0) return Fail(err);
  if (how != SD_RECEIVE) sp->sendShut = true;
  return 0;
}

int select(int, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout) {
  if (!Started()) return Fail(WSANOTINITIALISED);
  fd_set* sets[3] = {readfds, writefds, exceptfds};
  struct Entry {
    SOCKET handle;
    SockPtr sock;
    bool want[3] = {false, false, false};
    bool ready[3] = {false, false, false};
  };
  std::vector<Entry> entries;
  for (int k = 0; k < 3; ++k) {
    if (!sets[k]) continue;
    if (sets[k]->fd_count > kFdSetSize) return Fail(WSAEINVAL);
    for (u_int i = 0; i < sets[k]->fd_count; ++i) {
      const SOCKET h = sets[k]->fd_array[i];
      auto it = std::find_if(entries.begin(), entries.end(), [h](const Entry& e) { return e.handle == h; });
      if (it == entries.end()) {
        SockPtr sp = Find(h);
        if (!sp) return Fail(WSAENOTSOCK);
        entries.push_back(Entry{h, std::move(sp)});
        it = entries.end() - 1;
      }
      it->want[k] = true;
    }
  }
  if (entries.empty()) return Fail(WSAEINVAL);
  int ms = -1;
  if (timeout) {
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return Fail(WSAEINVAL);
    const long long total = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
    ms = static_cast<int>(std::min<long long>(total, 0x7FFFFFFF));
  }
  std::vector<bsd::PollItem> items;
  for (Entry& e : entries) {
    std::lock_guard lock(e.sock->mu);
    short ev = 0;
    if (e.want[0]) ev |= bsd::kPollIn;
    if (e.want[1] || (e.want[2] && e.sock->connecting)) ev |= bsd::kPollOut;
    if (e.want[2]) ev |= bsd::kPollPri;
    items.push_back(bsd::PollItem{e.sock->fd, ev, 0});
  }
  int err = 0;
  int r;
  do {
    r = bsd::Poll(items, ms, &err);
  } while (r < 0 && err == WSAEINTR && ms < 0);
  if (r < 0) return Fail(err);
  int count = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Entry& e = entries[i];
    const short rev = items[i].revents;
    std::lock_guard lock(e.sock->mu);
    Sock& s = *e.sock;
    bool writable = rev & (bsd::kPollOut | bsd::kPollErr | bsd::kPollHup);
    bool failed = false;
    if (s.connecting && writable) {
      // The outcome is read here once; the window, if any, hears it from here too.
      const int cerr = bsd::TakeError(s.fd);
      FinishConnect(s, cerr);
      if (cerr != 0) {
        // Windows reports a failed connect among the exceptions, not as writable.
        writable = false;
        failed = true;
      }
      UpdateWatch(s);
    }
    e.ready[0] = e.want[0] && (rev & (bsd::kPollIn | bsd::kPollErr | bsd::kPollHup));
    e.ready[1] = e.want[1] && writable;
    e.ready[2] = e.want[2] && ((rev & bsd::kPollPri) || failed);
  }
  for (int k = 0; k < 3; ++k) {
    if (!sets[k]) continue;
    fd_set out{};
    for (u_int i = 0; i < sets[k]->fd_count; ++i) {
      const SOCKET h = sets[k]->fd_array[i];
      auto it = std::find_if(entries.begin(), entries.end(), [h](const Entry& e) { return e.handle == h; });
      if (it->ready[k] && !FdSetHas(h, &out)) {
        out.fd_array[out.fd_count++] = h;
        ++count;
      }
    }
    *sets[k] = out;
  }
  return count;
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, u_int msg, std::int32_t events) {
  TAKE_SOCKET(sp, s);
  if (events & ~(FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE)) return Fail(WSAEINVAL);
  if (events != 0 && !IsWindow(hwnd)) return Fail(WSAEINVAL);
  std::lock_guard lock(sp->mu);
  if (const int err = SelectLocked(*sp, hwnd, msg, events)) return Fail(err);
  return 0;
}

}  // namespace ws
