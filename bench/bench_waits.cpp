// What long blocking waits cost the processor: a reply wait on a silent server, and an FTP
// upload that waits first for a late go-ahead and then for a reader that has stalled. Each
// figure is the process's CPU time (getrusage) over the wait's wall time, in % of one core.
//
// Usage: bench_waits [seconds per wait, default 2]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "corv/ftp/FTP.h"
#include "platform/winsock/winsock.h"
#include "tests/peers/process.h"
#include "tests/peers/scripted.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
  double cpu;  // seconds of the process, user and system
  Clock::time_point wall;
};

Sample Now() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const double cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                     static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  return {cpu, Clock::now()};
}

double PercentOfCore(const Sample& a, const Sample& b) {
  const double wall = std::chrono::duration<double>(b.wall - a.wall).count();
  return wall > 0 ? 100.0 * (b.cpu - a.cpu) / wall : 0.0;
}

std::string PasvReply(int port) {
  return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF) +
         ")\r\n";
}

// A reply wait on a server that accepts and says nothing, until the time-out ends it.
double SilentServer(int seconds) {
  peers::ScriptedServer server;
  server.Accept().Stall();
  server.Start();
  CFTP port;
  port.Init();
  port.SetRemoteHost("127.0.0.1");
  port.SetRemotePort(static_cast<WORD>(server.port()));
  if (port.ConnectAndWait() != 0) {
    std::fprintf(stderr, "silent server: no connection\n");
    std::exit(1);
  }
  port.SetTimeout(static_cast<DWORD>(seconds));
  port.StartTimeout();
  const Sample a = Now();
  const int r = port.WaitForLine();
  const Sample b = Now();
  if (r != CORV_INTERRUPTED) std::fprintf(stderr, "silent server: result %d\n", r);
  return PercentOfCore(a, b);
}

// A passive upload whose go-ahead comes `seconds` late and whose reader then stalls as long.
void StalledUpload(int seconds, double* goAhead, double* stalled) {
  Sample g0{}, g1{}, s0{}, s1{};
  const auto pause = std::chrono::seconds(seconds);
  peers::ScriptedServer data;
  peers::ScriptedServer control;
  data.Accept()
      .Run([&](int) {
        control.WaitStep(7, 60000);  // the 150 has gone out
        s0 = Now();
        std::this_thread::sleep_for(pause);
        s1 = Now();
      })
      .ReadUntilClosed();
  data.Start();
  control.Accept()
      .Send("220 bench\r\n")
      .Expect("PASV\r\n")
      .Send(PasvReply(data.port()))
      .Expect("STOR f\r\n")
      .Run([&](int) {
        g0 = Now();
        std::this_thread::sleep_for(pause);
        g1 = Now();
      })
      .Send("150 go\r\n")
      .Run([&](int) { data.WaitDone(60000); })
      .Send("226 done\r\n");
  control.Start();

  peers::TempDir dir("tavlin-bench-waits");
  // More than the socket buffers take, so the reader's stall holds the upload up.
  const std::string local = dir.Write("up.bin", std::string(32u << 20, 'u'));
  CFTP ftp;
  ftp.Init();
  ftp.SetTimeout(static_cast<DWORD>(4 * seconds + 30));
  ftp.SetRemoteHost("127.0.0.1");
  ftp.RemotePort = static_cast<WORD>(control.port());
  ftp.Passive = 1;
  ftp.SetLocalFile(local.c_str());
  ftp.SetRemoteFile("f");
  const int r = ftp.DoAction(ftpUpload);
  if (r != 0) std::fprintf(stderr, "upload: result %d %s\n", r, ftp.GetErrorText());
  if (data.received().size() != (32u << 20)) std::fprintf(stderr, "upload: %zu bytes arrived\n", data.received().size());
  *goAhead = PercentOfCore(g0, g1);
  *stalled = PercentOfCore(s0, s1);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 2;
  winsock::EnsureRegistered();
  const double silent = SilentServer(seconds);
  double goAhead = 0, stalled = 0;
  StalledUpload(seconds, &goAhead, &stalled);
  std::printf("%-46s %6.3f %% of a core (goal < 0.2)\n", "reply wait on a silent server", silent);
  std::printf("%-46s %6.3f %% of a core (goal < 5)\n", "upload waiting for a late go-ahead", goAhead);
  std::printf("%-46s %6.3f %% of a core (goal < 5)\n", "upload waiting for a stalled reader", stalled);
  return 0;
}
