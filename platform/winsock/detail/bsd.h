// The BSD socket calls behind the Winsock exports, in neutral terms: neither the Winsock nor the
// BSD declarations appear here, so both sides can include it. Every call that fails returns -1
// and stores a Winsock error number in *err.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace winsock::bsd {

// An IPv4 endpoint; both fields in network byte order.
struct Inet4 {
  std::uint32_t addr = 0;
  std::uint16_t port = 0;
};

enum class Kind { Stream, Datagram, Raw };

enum class Option {
  Debug,
  AcceptConn,
  ReuseAddr,
  KeepAlive,
  DontRoute,
  Broadcast,
  OobInline,
  SndBuf,
  RcvBuf,
  SndLowat,
  RcvLowat,
  SndTimeo,  // milliseconds
  RcvTimeo,  // milliseconds
  Error,     // reads and clears the pending error, as a Winsock number
  Type,      // 1 stream, 2 datagram, 3 raw
  TcpNoDelay,
};

struct Linger {
  bool on = false;
  int seconds = 0;
};

// Flags as Winsock numbers them; mapped inside.
inline constexpr int kMsgOob = 0x1;
inline constexpr int kMsgPeek = 0x2;
inline constexpr int kMsgDontRoute = 0x4;

// poll() bits, as the host's watches take them.
extern const short kPollIn;
extern const short kPollPri;
extern const short kPollOut;
extern const short kPollErr;
extern const short kPollHup;
extern const short kPollNval;

int MapErrno(int errnoValue);

int OpenSocket(Kind kind, int protocol, int* err);
int Close(int fd);
int SetNonBlocking(int fd, bool on, int* err);
int Bind(int fd, const Inet4& local, int* err);
int Listen(int fd, int backlog, int* err);
// The accepted socket is non-blocking when nonBlocking is set (Linux does not inherit it).
int Accept(int fd, Inet4* peer, bool nonBlocking, int* err);
// Returns 0, or -1 with *err; a connection still in progress gives *err = WSAEWOULDBLOCK and
// *inProgress = true.
int Connect(int fd, const Inet4& remote, bool* inProgress, int* err);
int LocalName(int fd, Inet4* out, int* err);
int PeerName(int fd, Inet4* out, int* err);
long Send(int fd, const void* data, std::size_t len, int flags, int* err);
long SendTo(int fd, const void* data, std::size_t len, int flags, const Inet4& to, int* err);
long Recv(int fd, void* buffer, std::size_t len, int flags, int* err);
long RecvFrom(int fd, void* buffer, std::size_t len, int flags, Inet4* from, int* err);
int Shutdown(int fd, int how, int* err);
// Bytes that a recv would return now; -1 on failure.
int Readable(int fd, int* err);
int AtOobMark(int fd, int* err);
// Whether the stream has ended: 1 orderly end, 0 nothing to report (data or nothing yet),
// -1 an error (*err, such as WSAECONNRESET). Consumes a pending socket error.
int PeekEnd(int fd, int* err);
// The pending socket error as a Winsock number (0 for none); consumes it.
int TakeError(int fd);
int SetIntOption(int fd, Option option, int value, int* err);
int GetIntOption(int fd, Option option, int* value, int* err);
int SetLinger(int fd, const Linger& value, int* err);
int GetLinger(int fd, Linger* value, int* err);

struct PollItem {
  int fd;
  short events;
  short revents;
};
// timeoutMs < 0 waits without limit. Returns the number of ready items or -1.
int Poll(std::vector<PollItem>& items, int timeoutMs, int* err);

// The soft limit on open descriptors.
long MaxDescriptors();

// Name services. Host lookups return 0 or a Winsock error number (11001..11004 and others).
struct HostInfo {
  std::string name;
  std::vector<std::string> aliases;
  std::vector<std::uint32_t> addrs;  // network byte order
};
int ResolveHost(const std::string& name, HostInfo* out);
int ReverseHost(std::uint32_t addr, HostInfo* out);
int LocalHostName(std::string* out);

struct ServInfo {
  std::string name;
  std::vector<std::string> aliases;
  int port = 0;  // network byte order
  std::string proto;
};
// proto may be empty (any). Return 0 or WSANO_DATA.
int ServiceByName(const std::string& name, const std::string& proto, ServInfo* out);
int ServiceByPort(int portNet, const std::string& proto, ServInfo* out);

struct ProtoInfo {
  std::string name;
  std::vector<std::string> aliases;
  int number = 0;
};
int ProtocolByName(const std::string& name, ProtoInfo* out);
int ProtocolByNumber(int number, ProtoInfo* out);

}  // namespace winsock::bsd
