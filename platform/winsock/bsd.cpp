// The BSD side. This file sees only the C library's socket headers, never winsock.h.
#include "platform/winsock/detail/bsd.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/winsock/errors.h"

namespace winsock::bsd {

const short kPollIn = POLLIN;
const short kPollPri = POLLPRI;
const short kPollOut = POLLOUT;
const short kPollErr = POLLERR;
const short kPollHup = POLLHUP;
const short kPollNval = POLLNVAL;

int MapErrno(int e) {
  switch (e) {
    case 0: return 0;
    case EINTR: return ws::WSAEINTR;
    case EBADF: return ws::WSAEBADF;
    case EACCES: case EPERM: return ws::WSAEACCES;
    case EFAULT: return ws::WSAEFAULT;
    case EINVAL: return ws::WSAEINVAL;
    case EMFILE: case ENFILE: return ws::WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
    case EAGAIN: case EINPROGRESS: return ws::WSAEWOULDBLOCK;
    case EALREADY: return ws::WSAEALREADY;
    case ENOTSOCK: return ws::WSAENOTSOCK;
    case EDESTADDRREQ: return ws::WSAEDESTADDRREQ;
    case EMSGSIZE: return ws::WSAEMSGSIZE;
    case EPROTOTYPE: return ws::WSAEPROTOTYPE;
    case ENOPROTOOPT: return ws::WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return ws::WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return ws::WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return ws::WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return ws::WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return ws::WSAEAFNOSUPPORT;
    case EADDRINUSE: return ws::WSAEADDRINUSE;
    case EADDRNOTAVAIL: return ws::WSAEADDRNOTAVAIL;
    case ENETDOWN: return ws::WSAENETDOWN;
    case ENETUNREACH: return ws::WSAENETUNREACH;
    case ENETRESET: return ws::WSAENETRESET;
    case ECONNABORTED: return ws::WSAECONNABORTED;
    case ECONNRESET: return ws::WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return ws::WSAENOBUFS;
    case EISCONN: return ws::WSAEISCONN;
    case ENOTCONN: return ws::WSAENOTCONN;
    case ESHUTDOWN: case EPIPE: return ws::WSAESHUTDOWN;
    case ETOOMANYREFS: return ws::WSAETOOMANYREFS;
    case ETIMEDOUT: return ws::WSAETIMEDOUT;
    case ECONNREFUSED: return ws::WSAECONNREFUSED;
    case ELOOP: return ws::WSAELOOP;
    case ENAMETOOLONG: return ws::WSAENAMETOOLONG;
    case EHOSTDOWN: return ws::WSAEHOSTDOWN;
    case EHOSTUNREACH: return ws::WSAEHOSTUNREACH;
    case ENOTEMPTY: return ws::WSAENOTEMPTY;
    case EUSERS: return ws::WSAEUSERS;
    case EDQUOT: return ws::WSAEDQUOT;
    case ESTALE: return ws::WSAESTALE;
    case EREMOTE: return ws::WSAEREMOTE;
    default: return ws::WSAEINVAL;
  }
}

namespace {

int Fail(int* err) {
  *err = MapErrno(errno);
  return -1;
}

sockaddr_in ToSock(const Inet4& a) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = a.port;
  sin.sin_addr.s_addr = a.addr;
  return sin;
}

Inet4 FromSock(const sockaddr_in& sin) { return Inet4{sin.sin_addr.s_addr, sin.sin_port}; }

int MapFlags(int flags) {
  int out = 0;
  if (flags & kMsgOob) out |= MSG_OOB;
  if (flags & kMsgPeek) out |= MSG_PEEK;
  if (flags & kMsgDontRoute) out |= MSG_DONTROUTE;
  return out;
}

bool MapOption(Option o, int* level, int* name) {
  *level = SOL_SOCKET;
  switch (o) {
    case Option::Debug: *name = SO_DEBUG; return true;
    case Option::AcceptConn: *name = SO_ACCEPTCONN; return true;
    case Option::ReuseAddr: *name = SO_REUSEADDR; return true;
    case Option::KeepAlive: *name = SO_KEEPALIVE; return true;
    case Option::DontRoute: *name = SO_DONTROUTE; return true;
    case Option::Broadcast: *name = SO_BROADCAST; return true;
    case Option::OobInline: *name = SO_OOBINLINE; return true;
    case Option::SndBuf: *name = SO_SNDBUF; return true;
    case Option::RcvBuf: *name = SO_RCVBUF; return true;
    case Option::SndLowat: *name = SO_SNDLOWAT; return true;
    case Option::RcvLowat: *name = SO_RCVLOWAT; return true;
    case Option::SndTimeo: *name = SO_SNDTIMEO; return true;
    case Option::RcvTimeo: *name = SO_RCVTIMEO; return true;
    case Option::Error: *name = SO_ERROR; return true;
    case Option::Type: *name = SO_TYPE; return true;
    case Option::TcpNoDelay: *level = IPPROTO_TCP; *name = TCP_NODELAY; return true;
  }
  return false;
}

}  // namespace

int OpenSocket(Kind kind, int protocol, int* err) {
  const int type = kind == Kind::Stream ? SOCK_STREAM : kind == Kind::Datagram ? SOCK_DGRAM : SOCK_RAW;
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
  return fd < 0 ? Fail(err) : fd;
}

int Close(int fd) { return ::close(fd); }

int SetNonBlocking(int fd, bool on, int* err) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return Fail(err);
  const int next = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (next != flags && ::fcntl(fd, F_SETFL, next) < 0) return Fail(err);
  return 0;
}

int Bind(int fd, const Inet4& local, int* err) {
  const sockaddr_in sin = ToSock(local);
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) < 0 ? Fail(err) : 0;
}

int Listen(int fd, int backlog, int* err) { return ::listen(fd, backlog) < 0 ? Fail(err) : 0; }

int Accept(int fd, Inet4* peer, bool nonBlocking, int* err) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  int r;
  do {
    r = ::accept4(fd, reinterpret_cast<sockaddr*>(&sin), &len, SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail(err);
  if (peer) *peer = FromSock(sin);
  return r;
}

int Connect(int fd, const Inet4& remote, bool* inProgress, int* err) {
  *inProgress = false;
  const sockaddr_in sin = ToSock(remote);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0) return 0;
  if (errno == EINPROGRESS) *inProgress = true;
  return Fail(err);
}

int LocalName(int fd, Inet4* out, int* err) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) < 0) return Fail(err);
  *out = FromSock(sin);
  return 0;
}

int PeerName(int fd, Inet4* out, int* err) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sin), &len) < 0) return Fail(err);
  *out = FromSock(sin);
  return 0;
}

long Send(int fd, const void* data, std::size_t len, int flags, int* err) {
  const ssize_t r = ::send(fd, data, len, MapFlags(flags) | MSG_NOSIGNAL);
  return r < 0 ? Fail(err) : r;
}

long SendTo(int fd, const void* data, std::size_t len, int flags, const Inet4& to, int* err) {
  const sockaddr_in sin = ToSock(to);
  const ssize_t r = ::sendto(fd, data, len, MapFlags(flags) | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sin),
                             sizeof sin);
  return r < 0 ? Fail(err) : r;
}

long Recv(int fd, void* buffer, std::size_t len, int flags, int* err) {
  const ssize_t r = ::recv(fd, buffer, len, MapFlags(flags));
  return r < 0 ? Fail(err) : r;
}

long RecvFrom(int fd, void* buffer, std::size_t len, int flags, Inet4* from, int* err) {
  sockaddr_in sin{};
  socklen_t slen = sizeof sin;
  const ssize_t r = ::recvfrom(fd, buffer, len, MapFlags(flags), reinterpret_cast<sockaddr*>(&sin), &slen);
  if (r < 0) return Fail(err);
  if (from) *from = FromSock(sin);
  return r;
}

int Shutdown(int fd, int how, int* err) {
  const int h = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
  return ::shutdown(fd, h) < 0 ? Fail(err) : 0;
}

int Readable(int fd, int* err) {
  int n = 0;
  return ::ioctl(fd, FIONREAD, &n) < 0 ? Fail(err) : n;
}

int AtOobMark(int fd, int* err) {
  int n = 0;
  return ::ioctl(fd, SIOCATMARK, &n) < 0 ? Fail(err) : (n != 0);
}

int PeekEnd(int fd, int* err) {
  char c;
  const ssize_t r = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (r == 0) return 1;
  if (r > 0) return 0;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return Fail(err);
}

int TakeError(int fd) {
  int e = 0;
  socklen_t len = sizeof e;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &len) < 0) return MapErrno(errno);
  return MapErrno(e);
}

int SetIntOption(int fd, Option option, int value, int* err) {
  int level, name;
  if (!MapOption(option, &level, &name)) {
    *err = ws::WSAENOPROTOOPT;
    return -1;
  }
  if (option == Option::SndTimeo || option == Option::RcvTimeo) {
    timeval tv{value / 1000, (value % 1000) * 1000};
    return ::setsockopt(fd, level, name, &tv, sizeof tv) < 0 ? Fail(err) : 0;
  }
  return ::setsockopt(fd, level, name, &value, sizeof value) < 0 ? Fail(err) : 0;
}

int GetIntOption(int fd, Option option, int* value, int* err) {
  int level, name;
  if (!MapOption(option, &level, &name)) {
    *err = ws::WSAENOPROTOOPT;
    return -1;
  }
  if (option == Option::SndTimeo || option == Option::RcvTimeo) {
    timeval tv{};
    socklen_t len = sizeof tv;
    if (::getsockopt(fd, level, name, &tv, &len) < 0) return Fail(err);
    *value = static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
    return 0;
  }
  int v = 0;
  socklen_t len = sizeof v;
  if (::getsockopt(fd, level, name, &v, &len) < 0) return Fail(err);
  if (option == Option::Error) v = MapErrno(v);
  if (option == Option::Type) v = v == SOCK_STREAM ? 1 : v == SOCK_DGRAM ? 2 : 3;
  *value = v;
  return 0;
}

int SetLinger(int fd, const Linger& value, int* err) {
  ::linger l{value.on ? 1 : 0, value.seconds};
  return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) < 0 ? Fail(err) : 0;
}

int GetLinger(int fd, Linger* value, int* err) {
  ::linger l{};
  socklen_t len = sizeof l;
  if (::getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &len) < 0) return Fail(err);
  value->on = l.l_onoff != 0;
  value->seconds = l.l_linger;
  return 0;
}

int Poll(std::vector<PollItem>& items, int timeoutMs, int* err) {
  std::vector<pollfd> fds(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) fds[i] = pollfd{items[i].fd, items[i].events, 0};
  const int r = ::poll(fds.data(), fds.size(), timeoutMs);
  if (r < 0) return Fail(err);
  for (std::size_t i = 0; i < items.size(); ++i) items[i].revents = fds[i].revents;
  return r;
}

long MaxDescriptors() {
  rlimit rl{};
  if (::getrlimit(RLIMIT_NOFILE, &rl) < 0 || rl.rlim_cur == RLIM_INFINITY) return 1024;
  return static_cast<long>(rl.rlim_cur);
}

namespace {

int MapAddrInfoError(int e) {
  switch (e) {
    case EAI_NONAME: return ws::WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return ws::WSATRY_AGAIN;
    case EAI_FAIL: return ws::WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return ws::WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return ws::WSANO_DATA;
#endif
    case EAI_MEMORY: return ws::WSAENOBUFS;
    case EAI_SYSTEM: return MapErrno(errno);
    default: return ws::WSANO_RECOVERY;
  }
}

void CopyList(char** list, std::vector<std::string>* out) {
  for (; list && *list; ++list) out->emplace_back(*list);
}

}  // namespace

int ResolveHost(const std::string& name, HostInfo* out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  const int r = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (r != 0) return MapAddrInfoError(r);
  *out = HostInfo{};
  out->name = list->ai_canonname ? list->ai_canonname : name;
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
    const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    bool seen = false;
    for (std::uint32_t x : out->addrs) seen = seen || x == sin->sin_addr.s_addr;
    if (!seen) out->addrs.push_back(sin->sin_addr.s_addr);
  }
  ::freeaddrinfo(list);
  return out->addrs.empty() ? ws::WSANO_DATA : 0;
}

int ReverseHost(std::uint32_t addr, HostInfo* out) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = addr;
  char host[NI_MAXHOST];
  const int r = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sin), sizeof sin, host, sizeof host, nullptr, 0,
                              NI_NAMEREQD);
  if (r != 0) return MapAddrInfoError(r);
  *out = HostInfo{};
  out->name = host;
  out->addrs.push_back(addr);
  return 0;
}

int LocalHostName(std::string* out) {
  char buf[256];
  if (::gethostname(buf, sizeof buf) < 0) return MapErrno(errno);
  buf[sizeof buf - 1] = '\0';
  *out = buf;
  return 0;
}

namespace {

int FillServ(servent* s, ServInfo* out) {
  if (!s) return ws::WSANO_DATA;
  out->name = s->s_name;
  out->aliases.clear();
  CopyList(s->s_aliases, &out->aliases);
  out->port = s->s_port;
  out->proto = s->s_proto ? s->s_proto : "";
  return 0;
}

int FillProto(protoent* p, ProtoInfo* out) {
  if (!p) return ws::WSANO_DATA;
  out->name = p->p_name;
  out->aliases.clear();
  CopyList(p->p_aliases, &out->aliases);
  out->number = p->p_proto;
  return 0;
}

}  // namespace

int ServiceByName(const std::string& name, const std::string& proto, ServInfo* out) {
  servent s{};
  servent* res = nullptr;
  char buf[4096];
  ::getservbyname_r(name.c_str(), proto.empty() ? nullptr : proto.c_str(), &s, buf, sizeof buf, &res);
  return FillServ(res, out);
}

int ServiceByPort(int portNet, const std::string& proto, ServInfo* out) {
  servent s{};
  servent* res = nullptr;
  char buf[4096];
  ::getservbyport_r(portNet, proto.empty() ? nullptr : proto.c_str(), &s, buf, sizeof buf, &res);
  return FillServ(res, out);
}

int ProtocolByName(const std::string& name, ProtoInfo* out) {
  protoent p{};
  protoent* res = nullptr;
  char buf[4096];
  ::getprotobyname_r(name.c_str(), &p, buf, sizeof buf, &res);
  return FillProto(res, out);
}

int ProtocolByNumber(int number, ProtoInfo* out) {
  protoent p{};
  protoent* res = nullptr;
  char buf[4096];
  ::getprotobynumber_r(number, &p, buf, sizeof buf, &res);
  return FillProto(res, out);
}

}  // namespace winsock::bsd
