// How long a stop takes: an Interrupt or an Abort during a transfer, against vsftpd and
// pyftpdlib and against scripted servers that stall (one that stops answering mid-transfer,
// one that ignores an ABOR behind the Telnet IP/Synch bytes, one that answers ABOR with a
// single 226), with Timeout 0 and 30; and how long an action that times out takes (Timeout 2)
// against a server that stops answering. Goals: a stop returns within 2 s of the call; a
// time-out ends within Timeout + 1 s. Figures are the worst and the median of 3 runs, from
// the Interrupt or Abort call to the action's return (an Abort's own call included).
//   bench_ftp_stops
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "corv/ftp/Corvftp.h"
#include "platform/win32/user.h"
#include "tests/peers/ftp.h"
#include "tests/peers/scripted.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 3;
constexpr double kStopGoal = 2.0;
constexpr double kGiveUp = 20.0;  // a run still going then is ended by repeated interrupts

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Calls the stop from a timer, so it runs inside the engine's wait like a user's click.
struct Pending {
  TcorvFTP* f = nullptr;
  bool abort = false;
  Clock::time_point due{}, at{};
  bool done = false;
  Clock::time_point started{};
  bool gaveUp = false;
};
Pending pending;

void Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (!pending.f) return;
  if (!pending.done && pending.due != Clock::time_point{} && Clock::now() >= pending.due) {
    pending.done = true;
    pending.at = Clock::now();
    try {
      if (pending.abort)
        pending.f->Abort();
      else
        pending.f->Interrupt();
    } catch (...) {
    }
  }
  if (Since(pending.started) > kGiveUp) {
    pending.gaveUp = true;
    try {
      pending.f->Interrupt();
    } catch (...) {
    }
  }
}

struct Figure {
  std::vector<double> t;
  bool hung = false;
  std::string how;
};

void Print(const std::string& what, const Figure& f, double goal) {
  std::vector<double> s = f.t;
  std::sort(s.begin(), s.end());
  const double worst = s.empty() ? 0 : s.back(), median = s.empty() ? 0 : s[s.size() / 2];
  std::printf("  %-58s worst %6.3f s, median %6.3f s  %s%s\n", what.c_str(), worst, median,
              f.hung          ? "HUNG (ended by interrupts after 20 s)"
              : worst <= goal ? "ok"
                              : "OVER GOAL",
              f.how.empty() ? "" : ("  [" + f.how + "]").c_str());
}

std::unique_ptr<TcorvFTP> Make(int port, const std::string& user, const std::string& password, int timeout) {
  auto f = std::make_unique<TcorvFTP>(nullptr);
  f->RemoteHost = "127.0.0.1";
  f->RemotePort = static_cast<unsigned short>(port);
  f->Passive = true;
  f->User = user.c_str();
  f->Password = password.c_str();
  f->Timeout = timeout;
  return f;
}

// Runs the action; the stop is called 'delay' after the first Transfer (0: from that
// Transfer's handler). Returns the seconds
// from the stop call to the action's return, or a negative value when the stop never came.
double Stopped(TcorvFTP& f, bool abort, double delay, const std::function<void()>& action, std::string& how) {
  pending = {};
  pending.f = &f;
  pending.abort = abort;
  pending.started = Clock::now();
  f.OnTransfer = [delay](TObject*, long, char*, unsigned short) {
    if (pending.due != Clock::time_point{}) return;
    pending.due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(delay));
    if (delay == 0) Tick(nullptr, 0, 0, 0);  // from the handler itself
  };
  how.clear();
  try {
    action();
    how = "success";
  } catch (const ECORVCore& e) {
    how = e.Message.str();
  }
  const double t = pending.done ? Since(pending.at) : -1;
  f.OnTransfer = nullptr;
  if (pending.gaveUp) how += ", hung";
  pending.f = nullptr;
  return t;
}

// ---- a scripted FTP server that stalls ----

enum class Stall { Silent, IgnoresUrgentAbor, Single226 };

// Answers a control connection line by line; the data port sends 20000 bytes and then holds
// the connection silent.
struct StallServer {
  peers::ScriptedServer data, control;
  std::atomic<bool> quit{false};
  explicit StallServer(Stall kind) {
    data.Accept().Send(std::string(20000, 'x')).Stall();
    data.Start();
    const int dataPort = data.port();
    control.Accept().Send("220 scripted\r\n").Run([this, kind, dataPort](int fd) {
      std::string in;
      bool transferring = false;
      const auto reply = [fd](const std::string& s) {
        return ::write(fd, s.data(), s.size()) == static_cast<ssize_t>(s.size());
      };
      const auto start = Clock::now();
      while (!quit && Since(start) < 60) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return;
        in.append(buf, static_cast<std::size_t>(n));
        for (std::size_t eol; (eol = in.find('\n')) != std::string::npos;) {
          const std::string line = in.substr(0, eol + 1);
          in.erase(0, eol + 1);
          const bool urgent = line.find('\xFF') != std::string::npos;
          const std::size_t at = line.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
          const std::string cmd = at == std::string::npos ? "" : line.substr(at, line.find_first_of(" \r\n", at) - at);
          if (transferring && kind == Stall::Silent) continue;  // gone quiet
          bool ok = true;
          if (cmd == "PASV")
            ok = reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(dataPort / 256) + "," +
                       std::to_string(dataPort % 256) + ")\r\n");
          else if (cmd == "RETR" || cmd == "STOR") {
            transferring = true;
            ok = reply("150 here it comes\r\n");
          } else if (cmd == "ABOR") {
            if (kind == Stall::IgnoresUrgentAbor && urgent) continue;
            transferring = false;
            ok = reply(kind == Stall::Single226 ? "226 abort done\r\n" : "426 aborted\r\n226 abort done\r\n");
          } else if (cmd == "QUIT") {
            reply("221 bye\r\n");
            return;
          } else
            ok = reply(cmd == "NOOP" || cmd == "TYPE" || cmd == "USER" ? "200 ok\r\n" : "500 what\r\n");
          if (!ok) return;
        }
      }
    });
    control.stepTimeoutMs = 60000;
    control.Start();
  }
  ~StallServer() { quit = true; }
};

// ---- the measures ----

template <class Server>
void RealServer(const char* name, const std::string& user, const std::string& password) {
  Server server;
  peers::TempDir local("tavlin-bench-stops");
  const std::string big(64u * 1024u * 1024u, 'q');
  peers::WriteFileBytes(server.root() + "/big.bin", big);
  peers::WriteFileBytes(local.File("up.bin"), big);
  const std::string dir = server.home() == "/" ? "" : server.home();
  std::printf("%s (64 MiB passive transfers, the stop from the first Transfer's handler):\n", name);
  for (int timeout : {0, 30})
    for (bool upload : {false, true})
      for (bool abort : {false, true}) {
        Figure fig;
        for (int round = 0; round < kRounds; ++round) {
          auto f = Make(server.port(), user, password, timeout);
          f->TransferMode = tmBinary;
          f->Logon();
          f->RemoteFile = (dir + (upload ? "/up.bin" : "/big.bin")).c_str();
          f->LocalFile = local.File(upload ? "up.bin" : "down.bin").c_str();
          const double t = Stopped(
              *f, abort, 0, [&] { upload ? f->Upload() : f->Download(); }, fig.how);
          fig.hung = fig.hung || pending.gaveUp;
          fig.t.push_back(t < 0 ? kGiveUp : t);
          if (t < 0) fig.how = "the transfer ended before the stop: " + fig.how;
          if (t > kStopGoal) break;
        }
        Print(std::string(abort ? "Abort" : "Interrupt") + " during " + (upload ? "an upload" : "a download") +
                  ", Timeout " + std::to_string(timeout),
              fig, kStopGoal);
      }
}

void Scripted() {
  const struct {
    Stall kind;
    const char* name;
  } stalls[] = {{Stall::Silent, "stops answering mid-transfer"},
                {Stall::IgnoresUrgentAbor, "ignores ABOR behind IP/Synch"},
                {Stall::Single226, "answers ABOR with a single 226"}};
  for (const auto& s : stalls) {
    std::printf("scripted server that %s (the stop 300 ms into the stalled download):\n", s.name);
    for (int timeout : {0, 30})
      for (bool abort : {false, true}) {
        Figure fig;
        double nextWorst = 0;
        std::string nextHow;
        for (int round = 0; round < kRounds; ++round) {
          StallServer server(s.kind);
          auto f = Make(server.control.port(), "", "", timeout);
          f->RemoteFile = "f.bin";
          const double t = Stopped(
              *f, abort, 0.3, [&] { f->Download(); }, fig.how);
          fig.hung = fig.hung || pending.gaveUp;
          fig.t.push_back(t < 0 ? kGiveUp : t);
          // The cost must not move to the next action: it runs on the same component.
          if (s.kind != Stall::Silent) {
            f->Timeout = 5;
            const auto t0 = Clock::now();
            try {
              f->Command = "NOOP";
              nextHow = f->LastReply().str();
            } catch (const ECORVCore& e) {
              nextHow = e.Message.str();
            }
            nextWorst = std::max(nextWorst, Since(t0));
          }
          f.reset();
          if (t > kStopGoal) break;
        }
        if (s.kind != Stall::Silent)
          fig.how += "; the next NOOP worst " + std::to_string(nextWorst).substr(0, 5) + " s, " + nextHow;
        Print(std::string(abort ? "Abort" : "Interrupt") + ", Timeout " + std::to_string(timeout), fig, kStopGoal);
      }
  }
}

// An action against a server that stops answering, with Timeout 2: from the call to its end.
void TimeOuts() {
  constexpr int kTimeout = 2;
  std::printf("time-outs (Timeout %d, goal %d s):\n", kTimeout, kTimeout + 1);
  const struct {
    const char* name;
    std::function<void(peers::ScriptedServer&, peers::ScriptedServer&)> script;
    std::function<void(TcorvFTP&)> action;
  } cases[] = {
      {"a logon whose greeting never comes",
       [](peers::ScriptedServer& c, peers::ScriptedServer&) { c.Accept().Stall(); }, [](TcorvFTP& f) { f.Logon(); }},
      {"a command that gets no reply",
       [](peers::ScriptedServer& c, peers::ScriptedServer&) {
         c.Accept().Send("220 scripted\r\n").Expect("NOOP\r\n").Stall();
       },
       [](TcorvFTP& f) {
         f.Logon();
         f.Command = "NOOP";
       }},
      {"a download whose server stops mid-transfer",
       [](peers::ScriptedServer& c, peers::ScriptedServer& d) {
         d.Accept().Send(std::string(20000, 'x')).Stall();
         c.Accept()
             .Send("220 scripted\r\n")
             .Expect("PASV\r\n")
             .Send("227 Entering Passive Mode (127,0,0,1," + std::to_string(d.port() / 256) + "," +
                   std::to_string(d.port() % 256) + ")\r\n")
             .Expect("RETR f.bin\r\n")
             .Send("150 here it comes\r\n")
             .Stall();
       },
       [](TcorvFTP& f) { f.Download(); }},
  };
  for (const auto& c : cases) {
    Figure fig;
    for (int round = 0; round < kRounds; ++round) {
      peers::ScriptedServer control, data;
      control.stepTimeoutMs = 60000;
      c.script(control, data);
      data.Start();
      control.Start();
      auto f = Make(control.port(), "", "", kTimeout);
      f->RemoteFile = "f.bin";
      pending = {};
      pending.f = f.get();
      pending.started = Clock::now();
      const auto t0 = Clock::now();
      try {
        c.action(*f);
        fig.how = "success";
      } catch (const ECORVCore& e) {
        fig.how = e.Message.str();
      }
      const double t = Since(t0);
      fig.hung = fig.hung || pending.gaveUp;
      pending.f = nullptr;
      fig.t.push_back(t);
      f.reset();
      if (t > kTimeout + 1) break;
    }
    Print(c.name, fig, kTimeout + 1);
  }
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  SetTimer(nullptr, 0, 10, Tick);
  std::printf("FTP stops: seconds from the Interrupt or Abort call to the action's return (goal %.0f s)\n", kStopGoal);
  RealServer<peers::Vsftpd>("vsftpd", "anonymous", "");
  RealServer<peers::Pyftpdlib>("pyftpdlib", peers::Pyftpdlib::kUser, peers::Pyftpdlib::kPassword);
  Scripted();
  TimeOuts();
  return 0;
}
