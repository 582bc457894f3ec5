// Huge quote answers through Get Data: one 10 MB line, then 100,000 ordinary lines, each from
// a local server over HTTP into the grid of the main window (offscreen, shown and painted).
// Prints the time of each fetch and the resident memory before it, after it and after three
// small answers that follow it.
#include <malloc.h>
#include <unistd.h>

#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <memory>

#include "app/Unit1.h"
#include "platform/winsock/winsock.h"
#include "tests/peers/scripted.h"

namespace {

std::string body;  // the next answer's body; set before each fetch

long RssMb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kb = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> kb;
      break;
    }
  }
  return kb / 1024;
}

// One answer of `body` from a scripted server on 127.0.0.1, after the request's form body.
std::unique_ptr<peers::ScriptedServer> Serve() {
  auto server = std::make_unique<peers::ScriptedServer>();
  server->Accept()
      .Run([](int fd) {
        std::string request;
        char buf[4096];
        while (request.find("s=") == std::string::npos || request.back() == '=') {
          const ssize_t n = read(fd, buf, sizeof buf);
          if (n <= 0) return;
          request.append(buf, static_cast<std::size_t>(n));
        }
      })
      .Send("HTTP/1.0 200 OK\r\n\r\n" + body)
      .Close();
  server->Start();
  return server;
}

double Fetch(std::string answer) {
  body = std::move(answer);
  auto server = Serve();
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(server->port())).c_str();
  const auto t0 = std::chrono::steady_clock::now();
  Form1->bUpdateClick(Form1);
  Form1->Widget()->repaint();
  Application->ProcessMessages();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

const std::string kSmall =
    "\"QVTR\",23.45,\"12/9/2026\",\"6:07am\",+0.12,23.33,23.60,23.10,675479\r\n"
    "\"IBM\",143.58,\"12/9/2026\",\"6:07am\",+0.05,143.53,143.66,143.53,515208\r\n";

// The answer is made after the first reading and gone before the others: only what the program
// keeps counts.
void Round(const char* what, const std::function<std::string()>& answer) {
  const long before = RssMb();
  const double seconds = Fetch(answer());
  body = std::string();
  const long after = RssMb();
  for (int i = 0; i < 3; ++i) Fetch(kSmall);
  std::printf("%-22s %7.3f s   memory %4ld MB before, %4ld MB after, %4ld MB after three small answers\n", what,
              seconds, before, after, RssMb());
  const struct mallinfo2 m = mallinfo2();
  std::printf("  in use %zu MB, heap %zu MB, mapped %zu MB\n", m.uordblks >> 20, m.arena >> 20, m.hblkhd >> 20);
}

}  // namespace

int main() {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  winsock::EnsureRegistered();
  Application->Initialize();
  Application->CreateForm(Form1);
  Form1->Timer1->Enabled = false;
  Form1->OnShow = nullptr;  // no port, no start-up fetch
  Form1->Show();
  for (int i = 0; i < 3; ++i) Fetch(kSmall);
  std::printf("start: %ld MB\n", RssMb());

  Round("one 10 MB line", [] { return "\"QVTR\"," + std::string(10u << 20, '7') + "\r\n"; });
  Round("100,000 lines", [] {
    std::string many;
    for (int i = 0; i < 100000; ++i)
      many += "\"QVTR\",23.45,\"12/9/2026\",\"6:07am\",+0.12,23.33,23.60,23.10," + std::to_string(i) + "\r\n";
    return many;
  });
  return 0;
}
