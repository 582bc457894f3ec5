// Receive throughput through window notifications (one 2048-byte recv per FD_READ) against a
// plain blocking recv loop, and the time from readiness seen by the host to the window procedure.
//
//   bench_winsock [megabytes]      (default 256)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/win32/host.h"
#include "platform/win32/user.h"
#include "platform/winsock/wsock32.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT kSocketMsg = WM_USER + 101;
constexpr int kReadSize = 2048;

// Wraps the poll host and notes when a watched fd was last reported ready.
class TimingHost final : public win32::Host {
 public:
  explicit TimingHost(std::unique_ptr<win32::Host> inner) : inner_(std::move(inner)) {}
  void Wait(int timeoutMs) override { inner_->Wait(timeoutMs); }
  void Wake() override { inner_->Wake(); }
  int Watch(int fd, short events, win32::FdCallback callback) override {
    return inner_->Watch(fd, events, [this, cb = std::move(callback)](short revents) {
      lastReady = Clock::now();
      ++reports;
      cb(revents);
    });
  }
  void SetEvents(int id, short events) override { inner_->SetEvents(id, events); }
  void Unwatch(int id) override { inner_->Unwatch(id); }

  Clock::time_point lastReady{};
  long long reports = 0;

 private:
  std::unique_ptr<win32::Host> inner_;
};

TimingHost* gHost = nullptr;

struct Receiver {
  ws::SOCKET sock = ws::INVALID_SOCKET;
  long long received = 0;
  long long reads = 0;
  bool closed = false;
  bool echo = false;   // latency rounds: answer each byte
  bool drain = false;  // read until the socket would block, as a receive loop in a handler does
  long long idle = 0;  // FD_READs whose first recv found nothing
  std::vector<double> latencyUs;
  char buf[kReadSize];
};
Receiver* gRx = nullptr;

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != kSocketMsg) return DefWindowProcA(hwnd, msg, wParam, lParam);
  Receiver& rx = *gRx;
  if (wParam != rx.sock) return 0;
  const WORD event = ws::WSAGETSELECTEVENT(lParam);
  if (event == ws::FD_READ) {
    if (rx.echo && gHost->lastReady != Clock::time_point{}) {
      rx.latencyUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - gHost->lastReady).count());
      gHost->lastReady = Clock::time_point{};
    }
    bool first = true;
    for (;;) {
      const int r = ws::recv(rx.sock, rx.buf, kReadSize, 0);
      if (r <= 0) {
        if (first) ++rx.idle;
        break;
      }
      first = false;
      rx.received += r;
      ++rx.reads;
      if (rx.echo) ws::send(rx.sock, rx.buf, r, 0);
      if (!rx.drain) break;
    }
  } else if (event == ws::FD_CLOSE) {
    rx.closed = true;
  }
  return 0;
}

ws::SOCKET Listen(ws::u_short* port, int rcvbuf) {
  ws::SOCKET l = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  if (rcvbuf > 0) ws::setsockopt(l, ws::SOL_SOCKET, ws::SO_RCVBUF, reinterpret_cast<const char*>(&rcvbuf), sizeof rcvbuf);
  ws::sockaddr_in a{};
  a.sin_family = ws::AF_INET;
  a.sin_addr.s_addr = ws::htonl(ws::INADDR_LOOPBACK);
  if (ws::bind(l, reinterpret_cast<ws::sockaddr*>(&a), sizeof a) != 0 || ws::listen(l, 1) != 0) {
    std::fprintf(stderr, "listen failed: %d\n", ws::WSAGetLastError());
    std::exit(1);
  }
  int len = sizeof a;
  ws::getsockname(l, reinterpret_cast<ws::sockaddr*>(&a), &len);
  *port = ws::ntohs(a.sin_port);
  return l;
}

ws::SOCKET Dial(ws::u_short port) {
  ws::SOCKET s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  ws::sockaddr_in a{};
  a.sin_family = ws::AF_INET;
  a.sin_port = ws::htons(port);
  a.sin_addr.s_addr = ws::htonl(ws::INADDR_LOOPBACK);
  if (ws::connect(s, reinterpret_cast<ws::sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "connect failed: %d\n", ws::WSAGetLastError());
    std::exit(1);
  }
  return s;
}

// Sends total bytes in 64 KiB blocks, then closes.
std::thread Sender(ws::u_short port, long long total) {
  return std::thread([port, total] {
    ws::SOCKET s = Dial(port);
    std::vector<char> block(65536, 'x');
    for (long long sent = 0; sent < total;) {
      const int n = static_cast<int>(std::min<long long>(static_cast<long long>(block.size()), total - sent));
      const int r = ws::send(s, block.data(), n, 0);
      if (r <= 0) break;
      sent += r;
    }
    ws::closesocket(s);
  });
}

void Pump(const bool& done) {
  MSG m;
  while (!done) {
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageA(&m);
      if (done) return;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
  }
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

struct Result {
  double mbps;
  long long reads;
  long long reports;
  long long idle;
};

Result Async(HWND hwnd, long long total, int rcvbuf, bool drain = false) {
  ws::u_short port;
  ws::SOCKET l = Listen(&port, rcvbuf);
  Receiver rx;
  rx.drain = drain;
  gRx = &rx;
  std::thread sender = Sender(port, total);
  rx.sock = ws::accept(l, nullptr, nullptr);
  ws::closesocket(l);
  const long long reports0 = gHost->reports;
  const auto t0 = Clock::now();
  ws::WSAAsyncSelect(rx.sock, hwnd, kSocketMsg, ws::FD_READ | ws::FD_CLOSE);
  Pump(rx.closed);
  const double secs = Seconds(t0);
  sender.join();
  ws::closesocket(rx.sock);
  if (rx.received != total) std::fprintf(stderr, "async: received %lld of %lld\n", rx.received, total);
  return Result{rx.received / secs / 1e6, rx.reads, gHost->reports - reports0, rx.idle};
}

double Plain(long long total, int readSize) {
  ws::u_short port;
  ws::SOCKET l = Listen(&port, 0);
  std::thread sender = Sender(port, total);
  ws::SOCKET s = ws::accept(l, nullptr, nullptr);
  ws::closesocket(l);
  std::vector<char> buf(static_cast<std::size_t>(readSize));
  long long got = 0;
  const auto t0 = Clock::now();
  for (;;) {
    const int r = ws::recv(s, buf.data(), readSize, 0);
    if (r <= 0) break;
    got += r;
  }
  const double secs = Seconds(t0);
  sender.join();
  ws::closesocket(s);
  if (got != total) std::fprintf(stderr, "plain: received %lld of %lld\n", got, total);
  return got / secs / 1e6;
}

// One byte out, one byte back, rounds times; the window procedure timestamps each FD_READ.
std::vector<double> Latency(HWND hwnd, int rounds) {
  ws::u_short port;
  ws::SOCKET l = Listen(&port, 0);
  Receiver rx;
  rx.echo = true;
  gRx = &rx;
  std::thread pinger([port, rounds] {
    ws::SOCKET s = Dial(port);
    const int one = 1;
    ws::setsockopt(s, ws::IPPROTO_TCP, ws::TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    char c = 'p';
    for (int i = 0; i < rounds; ++i) {
      if (ws::send(s, &c, 1, 0) != 1 || ws::recv(s, &c, 1, 0) != 1) break;
    }
    ws::closesocket(s);
  });
  rx.sock = ws::accept(l, nullptr, nullptr);
  ws::closesocket(l);
  const int one = 1;
  ws::setsockopt(rx.sock, ws::IPPROTO_TCP, ws::TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  ws::WSAAsyncSelect(rx.sock, hwnd, kSocketMsg, ws::FD_READ | ws::FD_CLOSE);
  Pump(rx.closed);
  pinger.join();
  ws::closesocket(rx.sock);
  return rx.latencyUs;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  const long long mb = argc > 1 ? std::atoll(argv[1]) : 256;
  const long long total = mb * 1024 * 1024;
  auto host = std::make_unique<TimingHost>(win32::MakePollHost());
  gHost = host.get();
  win32::InstallHost(std::move(host));

  ws::WSADATA data;
  if (ws::WSAStartup(ws::MAKEWORD(1, 1), &data) != 0) return 1;
  WNDCLASSA wc{};
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = "bench_winsock";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "bench_winsock", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);

  // Warm up both paths once.
  Async(hwnd, 16 << 20, 0);
  Plain(16 << 20, kReadSize);

  const Result async = Async(hwnd, total, 0);
  const double plain = Plain(total, kReadSize);
  const double plainLarge = Plain(total, 65536);
  std::printf("received %lld MiB, %d-byte recvs\n", mb, kReadSize);
  std::printf("  notifications (one recv per FD_READ): %8.0f MB/s  (%lld FD_READs, %lld readiness reports)\n",
              async.mbps, async.reads, async.reports);
  std::printf("  plain blocking recv loop:             %8.0f MB/s\n", plain);
  std::printf("  ratio notifications / plain:          %8.2f\n", async.mbps / plain);
  std::printf("  plain loop with 65536-byte recvs:     %8.0f MB/s\n", plainLarge);
  const Result drained = Async(hwnd, total, 0, true);
  std::printf("  notifications, recv until it would block: %8.0f MB/s  (%lld of the FD_READs found nothing)\n",
              drained.mbps, drained.idle);

  const long long small = std::min<long long>(total, 32LL << 20);
  const Result literal = Async(hwnd, small, 2048);
  std::printf("  notifications, SO_RCVBUF 2048 set literally: %8.0f MB/s over %lld MiB\n", literal.mbps,
              small >> 20);

  const std::vector<double> lat = Latency(hwnd, 20000);
  std::printf("readiness to window procedure, %zu one-byte round trips: median %.1f us, p99 %.1f us\n", lat.size(),
              Percentile(lat, 0.5), Percentile(lat, 0.99));

  DestroyWindow(hwnd);
  ws::WSACleanup();
  return 0;
}
