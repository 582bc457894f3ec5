// Receive throughput of the message port in raw mode against a plain recv() loop, both from
// a loopback peer in the same run.
//
// The port asks for SO_RCVBUF and SO_SNDBUF of 2048 bytes at connect. Linux takes that
// literally and shrinks the TCP window; the Windows stack the program was written for does
// not. To choose how the Winsock stand-in should map the two options, the port is measured
// through modules that map them differently:
//   literal   passed to the kernel as asked (the stand-in today)
//   ignored   dropped, the kernel keeps tuning its buffers
//   floor64k  raised to at least 64 KB
//
// Usage: bench_ipportmsg [megabytes, default 256]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

// The peer and the plain loop use the BSD calls, the port the Winsock stand-in: keep the BSD
// constants under names of their own and clear the macros that the Winsock header reuses.
namespace posix {
constexpr int kInet = AF_INET;
constexpr int kStream = SOCK_STREAM;
constexpr uint32_t kLoopback = INADDR_LOOPBACK;
}  // namespace posix
#undef INVALID_SOCKET
#undef SOCKET_ERROR
#undef AF_UNSPEC
#undef AF_INET
#undef PF_INET
#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef SOCK_RAW
#undef IPPROTO_IP
#undef IPPROTO_ICMP
#undef IPPROTO_TCP
#undef IPPROTO_UDP
#undef INADDR_ANY
#undef INADDR_LOOPBACK
#undef INADDR_BROADCAST
#undef INADDR_NONE
#undef SOL_SOCKET
#undef SO_DEBUG
#undef SO_ACCEPTCONN
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_DONTROUTE
#undef SO_BROADCAST
#undef SO_USELOOPBACK
#undef SO_LINGER
#undef SO_OOBINLINE
#undef SO_DONTLINGER
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef SO_SNDLOWAT
#undef SO_RCVLOWAT
#undef SO_SNDTIMEO
#undef SO_RCVTIMEO
#undef SO_ERROR
#undef SO_TYPE
#undef TCP_NODELAY
#undef MSG_OOB
#undef MSG_PEEK
#undef MSG_DONTROUTE
#undef SOMAXCONN
#undef SD_RECEIVE
#undef SD_SEND
#undef SD_BOTH
#undef FIONREAD
#undef FIONBIO
#undef SIOCATMARK
#undef FD_READ
#undef FD_WRITE
#undef FD_OOB
#undef FD_ACCEPT
#undef FD_CONNECT
#undef FD_CLOSE
#undef MAXGETHOSTSTRUCT
#undef WSADESCRIPTION_LEN
#undef WSASYS_STATUS_LEN

#include "corv/core/IPPortMsg.h"
#include "platform/win32/module.h"
#include "platform/winsock/winsock.h"

namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on a free loopback port; a bench that cannot have one has nothing to measure.
int ListenLoopback(const char* who, int* port) {
  int fd = ::socket(posix::kInet, posix::kStream, 0);
  sockaddr_in a{};
  a.sin_family = posix::kInet;
  a.sin_addr.s_addr = htonl(posix::kLoopback);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    std::perror(who);
    std::exit(1);
  }
  *port = ntohs(a.sin_port);
  return fd;
}

// A peer that accepts one connection, sends `total` bytes and closes.
class Sender {
 public:
  explicit Sender(std::size_t total) : total_(total) {
    listen_ = ListenLoopback("sender", &port_);
    thread_ = std::thread([this] { Run(); });
  }
  ~Sender() {
    thread_.join();
    ::close(listen_);
  }
  int port() const { return port_; }

 private:
  void Run() {
    int c = ::accept(listen_, nullptr, nullptr);
    std::vector<char> chunk(1 << 20, 'z');
    std::size_t left = total_;
    while (left > 0) {
      ssize_t k = ::send(c, chunk.data(), std::min(left, chunk.size()), MSG_NOSIGNAL);
      if (k <= 0) break;
      left -= static_cast<std::size_t>(k);
    }
    ::close(c);
  }
  std::size_t total_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// A peer that accepts one connection and reads until it closes.
class Sink {
 public:
  Sink() {
    listen_ = ListenLoopback("sink", &port_);
    thread_ = std::thread([this] {
      int c = ::accept(listen_, nullptr, nullptr);
      std::vector<char> buf(1 << 16);
      for (;;) {
        ssize_t k = ::recv(c, buf.data(), buf.size(), 0);
        if (k <= 0) break;
        got += static_cast<std::size_t>(k);
      }
      ::close(c);
    });
  }
  ~Sink() {
    if (thread_.joinable()) thread_.join();
    ::close(listen_);
  }
  void Join() { thread_.join(); }
  int port() const { return port_; }
  std::atomic<std::size_t> got{0};

 private:
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
};

double Rate(std::size_t bytes, Clock::duration d) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0) / std::chrono::duration<double>(d).count();
}

double PlainRecv(std::size_t total, std::size_t readSize) {
  Sender sender(total);
  int fd = ::socket(posix::kInet, posix::kStream, 0);
  sockaddr_in a{};
  a.sin_family = posix::kInet;
  a.sin_addr.s_addr = htonl(posix::kLoopback);
  a.sin_port = htons(static_cast<uint16_t>(sender.port()));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("connect");
    std::exit(1);
  }
  std::vector<char> buf(readSize);
  std::size_t got = 0;
  auto start = Clock::now();
  for (;;) {
    ssize_t k = ::recv(fd, buf.data(), buf.size(), 0);
    if (k <= 0) break;
    got += static_cast<std::size_t>(k);
  }
  auto d = Clock::now() - start;
  ::close(fd);
  if (got != total) std::fprintf(stderr, "plain recv got %zu of %zu bytes\n", got, total);
  return Rate(got, d);
}

// How the wrapper modules hand SO_RCVBUF / SO_SNDBUF to the real setsockopt.
enum class Mapping { Literal, Ignored, Floor64k };
std::atomic<int> g_mapping{0};

int MappedSetsockopt(ws::SOCKET s, int level, int name, const char* value, int len) {
  auto real = reinterpret_cast<ws::PFN_setsockopt>(GetProcAddress(LoadLibraryA("WSOCK32.DLL"), MAKEINTRESOURCEA(21)));
  bool buffer = level == ws::SOL_SOCKET && (name == ws::SO_RCVBUF || name == ws::SO_SNDBUF);
  if (buffer && g_mapping == static_cast<int>(Mapping::Ignored)) return 0;
  if (buffer && g_mapping == static_cast<int>(Mapping::Floor64k) && len == 4) {
    std::int32_t v = 0;
    std::memcpy(&v, value, 4);
    if (v < 65536) v = 65536;
    return real(s, level, name, reinterpret_cast<const char*>(&v), 4);
  }
  return real(s, level, name, value, len);
}

// The real module's exports, with setsockopt replaced.
void RegisterMappedModule() {
  HMODULE real = LoadLibraryA("WSOCK32.DLL");
  static const WORD ordinals[] = {151, 1,  2,  3,  4,  12, 5,  6,   7,   8,   9,   10,  11,  13,  14,  15,
                                  16,  17, 18, 19, 20, 21, 22, 23,  51,  52,  57,  56,  55,  54,  53,  115,
                                  116, 112, 111, 114, 110, 109, 113, 107, 106, 105, 104, 103, 102, 108, 101};
  std::vector<win32::ModuleExport> exports;
  for (WORD o : ordinals) {
    FARPROC p = o == 21 ? reinterpret_cast<FARPROC>(&MappedSetsockopt) : GetProcAddress(real, MAKEINTRESOURCEA(o));
    exports.push_back({o, "", p});
  }
  win32::RegisterBuiltinModule("WSMAPPED.DLL", "C:\\BENCH\\WSMAPPED.DLL", exports);
}

// Counts what arrives and keeps nothing, as a body receiver does.
class Receiver : public CIPPortMsg {
 public:
  int OnDataIn(const char*, WORD length, bool) override {
    bytes += length;
    ++blocks;
    return 0;
  }
  std::size_t bytes = 0;
  std::size_t blocks = 0;
};

struct PortResult {
  double rate;
  std::size_t blocks;
};

PortResult ThroughPort(std::size_t total, Mapping mapping) {
  static CWinsock record;  // a unit of its own, bound to the mapped module
  record.SetPath("WSMAPPED.DLL");
  g_mapping = static_cast<int>(mapping);
  Sender sender(total);
  Receiver port;
  port.WinsockRecord = &record;
  if (!port.Init() || !port.GetWinsockLoaded()) {
    std::fprintf(stderr, "port init failed: %s\n", port.GetWinsockInfo());
    std::exit(1);
  }
  port.StopAtLine = false;
  port.SetRemoteHost("127.0.0.1");
  port.SetRemotePort(static_cast<WORD>(sender.port()));
  auto start = Clock::now();
  int r = port.ConnectAndWait();
  if (r == 0) r = port.WaitForDisconnect();
  auto d = Clock::now() - start;
  if (r != 0 || port.bytes != total) {
    std::fprintf(stderr, "port: result %d, %zu of %zu bytes\n", r, port.bytes, total);
  }
  return {Rate(port.bytes, d), port.blocks};
}

double SendThroughPort(std::size_t total, Mapping mapping) {
  static CWinsock record;
  record.SetPath("WSMAPPED.DLL");
  g_mapping = static_cast<int>(mapping);
  Sink sink;
  CIPPortMsg port;
  port.WinsockRecord = &record;
  if (!port.Init()) std::exit(1);
  port.SetRemoteHost("127.0.0.1");
  port.SetRemotePort(static_cast<WORD>(sink.port()));
  std::vector<char> body(1 << 20, 'q');
  auto start = Clock::now();
  int r = port.ConnectAndWait();
  for (std::size_t sent = 0; r == 0 && sent < total; sent += body.size())
    r = port.SendAndWait(body.data(), static_cast<std::int32_t>(body.size()), false);
  port.Connect(false);
  sink.Join();
  auto d = Clock::now() - start;
  if (r != 0 || sink.got != total) std::fprintf(stderr, "send: result %d, %zu of %zu bytes\n", r, sink.got.load(), total);
  return Rate(sink.got, d);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  std::size_t total = mb << 20;
  winsock::EnsureRegistered();
  RegisterMappedModule();

  std::printf("receiving %zu MB from a loopback peer\n", mb);
  double plain = PlainRecv(total, 64 * 1024);
  double plain2k = PlainRecv(total, 2048);
  std::printf("%-34s %9.1f MB/s\n", "plain recv, 64 KB reads", plain);
  std::printf("%-34s %9.1f MB/s  (%.2f of plain)\n", "plain recv, 2048-byte reads", plain2k, plain2k / plain);
  const struct {
    Mapping mapping;
    const char* name;
  } runs[] = {
      {Mapping::Literal, "port, buffers 2048 literal"},
      {Mapping::Ignored, "port, buffer options ignored"},
      {Mapping::Floor64k, "port, buffers raised to 64 KB"},
  };
  for (const auto& run : runs) {
    PortResult p = ThroughPort(total, run.mapping);
    std::printf("%-34s %9.1f MB/s  (%.2f of plain, %zu deliveries)\n", run.name, p.rate, p.rate / plain, p.blocks);
  }
  // Sending through SendAndWait, which waits for room after every partial send.
  const std::size_t sendTotal = 16u << 20;
  std::printf("sending %zu MB through SendAndWait to a loopback sink\n", sendTotal >> 20);
  const char* sendNames[] = {"send, buffers 2048 literal", "send, buffer options ignored", "send, buffers raised to 64 KB"};
  for (int i = 0; i < 3; ++i) {
    double rate = SendThroughPort(sendTotal, static_cast<Mapping>(i));
    std::printf("%-34s %9.1f MB/s\n", sendNames[i], rate);
  }
  return 0;
}
