// Error boxes left open on an unattended display: the main window (offscreen) ticks every
// millisecond instead of every ten seconds, with no display port, either against a refused
// port of 127.0.0.1 (each tick's fetch fails: the framework's exception box) or against a
// service that answers (each tick's send fails: "Send Error"). Nobody closes a box. Prints how
// many boxes are open, how deep the stack is at each tick, and what that means at ten seconds a
// tick for a stack of `ulimit -s`. With a PNG path, the offscreen screen (the window and its
// boxes) is saved there at the last tick.
//   bench_error_boxes [refused|answered] [ticks] [png]
// The framework's Windows Sockets names first: the system's socket headers define some of them
// as macros.
#include "app/Unit1.h"
#include "platform/win32/user.h"
#include "platform/winsock/winsock.h"
#include "tests/peers/scripted.h"

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace {

long RssKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kb = 0;
  while (status >> key)
    if (key == "VmRSS:") {
      status >> kb;
      break;
    }
  return kb;
}

int OpenBoxes() {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(w) && w->isVisible()) ++n;
  return n;
}

// A port of 127.0.0.1 that refuses: bound, never listening, held for the run.
int RefusedPort(int& fd) {
  fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 0;
  return ntohs(a.sin_port);
}

std::unique_ptr<peers::ScriptedServer> Answering(int answers) {
  auto server = std::make_unique<peers::ScriptedServer>();
  for (int i = 0; i < answers; ++i)
    server->Accept()
        .Run([](int fd) {
          char buf[4096];
          std::string request;
          while (request.find("s=") == std::string::npos || request.back() == '=') {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) return;
            request.append(buf, static_cast<std::size_t>(n));
          }
        })
        .Send("HTTP/1.0 200 OK\r\n\r\n\"QVTR\",23.45,\"12/9/2026\",\"6:07am\",+0.12,23.33,23.60,23.10,675479\r\n")
        .Close();
  server->Start();
  return server;
}

}  // namespace

int main(int argc, char** argv) {
  const bool refused = argc < 2 || std::strcmp(argv[1], "answered") != 0;
  const int ticks = argc > 2 ? std::atoi(argv[2]) : 300;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TAVLIN_COM3", "/nonexistent/bench-com3", 1);
  winsock::EnsureRegistered();
  int held = -1;
  std::unique_ptr<peers::ScriptedServer> server;
  if (refused) {
    QuoteServiceHost = ("127.0.0.1:" + std::to_string(RefusedPort(held))).c_str();
  } else {
    server = Answering(ticks + 10);
    QuoteServiceHost = ("127.0.0.1:" + std::to_string(server->port())).c_str();
  }
  Application->Initialize();
  Application->CreateForm(Form1);
  Form1->OnShow = nullptr;  // no start-up fetch and no port: the ticks do it all
  Form1->Show();

  int count = 0;
  int firstBoxes = 0, lastBoxes = 0;
  std::uintptr_t firstSp = 0, lastSp = 0;
  Form1->Timer1->Interval = 1;
  Form1->Timer1->OnTimer = TNotifyEvent([&](TObject* sender) {
    volatile char here = 0;
    const auto sp = reinterpret_cast<std::uintptr_t>(&here);
    const int boxes = OpenBoxes();
    if (count == 1) firstBoxes = boxes, firstSp = sp;
    lastBoxes = boxes, lastSp = sp;
    if (++count % 500 == 0)
      std::printf("tick %5d: %5d boxes open, stack %8zu bytes below the first tick's, %6ld KB resident\n", count, boxes,
                  firstSp - sp, RssKb());
    std::fflush(stdout);
    if (count >= ticks) {
      if (argc > 3) QApplication::primaryScreen()->grabWindow(0).save(argv[3]);
      Form1->Timer1->Enabled = false;
      PostQuitMessage(0);
      return;
    }
    Form1->Timer1Timer(sender);
  });
  while (Application->HandleMessage()) {
  }

  rlimit limit{};
  getrlimit(RLIMIT_STACK, &limit);
  const double perBox = lastBoxes > firstBoxes ? double(firstSp - lastSp) / (lastBoxes - firstBoxes) : 0;
  std::printf("%s: %d ticks, %d boxes open at the end, %.0f bytes of stack per box", refused ? "refused" : "answered",
              count, lastBoxes, perBox);
  if (server) std::printf(", %d answers fetched", server->connections());
  std::printf("\n");
  if (perBox > 0)
    std::printf("a stack of %lu KB lasts about %.0f boxes: %.1f hours at one tick in 10 s\n",
                static_cast<unsigned long>(limit.rlim_cur / 1024), limit.rlim_cur / perBox,
                limit.rlim_cur / perBox * 10 / 3600);
  if (held >= 0) close(held);
  return 0;
}
