// quote-service: a local stand-in for the public quote service.
//
//   quote-service [--port N] [--seed N]
//
// Listens on 127.0.0.1 (port 0, the default, picks a free one) and prints
// "quote-service: listening on 127.0.0.1:PORT" once it accepts. Answers the quote form POSTed
// (or sent as a query) to /d/quotes.csv, also when the request names an absolute URL as a
// proxy would get it, with one comma-separated line per symbol, then closes the connection
// (HTTP/1.0). Prints each request line with its body, then each answer line after "> ". Ends
// on SIGINT or SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "tools/quote-service/quotes.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

constexpr std::size_t kMaxHead = 16 * 1024;
constexpr long kMaxBody = 64 * 1024;
constexpr int kClientDeadlineMs = 5000;
const char* const kQuotePath = "/d/quotes.csv";

int Usage() {
  std::fprintf(stderr, "usage: quote-service [--port N] [--seed N]\n");
  return 2;
}

bool ParseNumber(const char* text, unsigned long long max, unsigned long long* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v > max || text[0] == '-') return false;
  *out = v;
  return true;
}

// Reads until `done` says the text is complete, the peer closes, or the deadline passes.
template <class Done>
bool ReadUntil(int fd, std::string* text, std::chrono::steady_clock::time_point deadline, Done done) {
  char buf[4096];
  while (!done(*text)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) {
      if (g_stop) return false;
      continue;
    }
    if (r <= 0) return false;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text->append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

void SendAll(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

std::string Reply(int status, const char* reason, const std::string& type, const std::string& body) {
  return "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string ErrorReply(int status, const char* reason) {
  return Reply(status, reason, "text/plain", std::string(reason) + "\r\n");
}

void NowTexts(std::string* date, std::string* time) {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d/%d/%d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
  *date = buf;
  const int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
  std::snprintf(buf, sizeof buf, "%d:%02d%s", hour12, tm.tm_min, tm.tm_hour < 12 ? "am" : "pm");
  *time = buf;
}

void Serve(int fd, quotes::Market& market) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kClientDeadlineMs);
  std::string text;
  std::size_t headEnd = std::string::npos;
  std::size_t bodyStart = 0;
  const bool gotHead = ReadUntil(fd, &text, deadline, [&](const std::string& t) {
    for (const char* end : {"\r\n\r\n", "\n\n"}) {
      const std::size_t at = t.find(end);
      if (at != std::string::npos && at < headEnd) {
        headEnd = at;
        bodyStart = at + std::strlen(end);
      }
    }
    return headEnd != std::string::npos || t.size() > kMaxHead;
  });
  if (!gotHead || headEnd == std::string::npos) {
    if (text.size() > kMaxHead) SendAll(fd, ErrorReply(431, "Request Header Fields Too Large"));
    return;
  }
  const auto request = quotes::ParseHead(text.substr(0, headEnd));
  if (!request) {
    std::printf("quote-service: bad request\n");
    SendAll(fd, ErrorReply(400, "Bad Request"));
    return;
  }
  if (request->contentLength > kMaxBody) {
    SendAll(fd, ErrorReply(413, "Payload Too Large"));
    return;
  }
  const std::size_t want = request->contentLength < 0 ? 0 : static_cast<std::size_t>(request->contentLength);
  if (!ReadUntil(fd, &text, deadline, [&](const std::string& t) { return t.size() - bodyStart >= want; })) {
    SendAll(fd, ErrorReply(400, "Bad Request"));
    return;
  }
  const std::string body = text.substr(bodyStart, want);

  std::printf("quote-service: %s %s%s%s%s\n", quotes::Printable(request->method).c_str(),
              quotes::Printable(request->target).c_str(), request->viaProxy ? " (as proxy)" : "",
              body.empty() ? "" : " body ", quotes::Printable(body).c_str());
  if (request->path != kQuotePath) {
    SendAll(fd, ErrorReply(404, "Not Found"));
    return;
  }
  if (request->method != "POST" && request->method != "GET") {
    SendAll(fd, ErrorReply(405, "Method Not Allowed"));
    return;
  }
  auto form = quotes::ParseForm(request->query);
  if (request->method == "POST")
    for (auto& [name, value] : quotes::ParseForm(body)) form[name] = value;
  if (form.find("s") == form.end()) {
    SendAll(fd, ErrorReply(400, "Bad Request"));
    return;
  }
  const std::string format = form.count("f") ? form["f"] : "sl1d1t1c1ohgv";
  std::string date, time;
  NowTexts(&date, &time);
  const std::string csv = market.Answer(format, form["s"], date, time);
  // The answer as sent, one line per quote, without the line ends.
  for (std::size_t at = 0; at < csv.size();) {
    const std::size_t end = csv.find("\r\n", at);
    std::printf("quote-service: > %s\n", quotes::Printable(csv.substr(at, end - at)).c_str());
    at = end + 2;
  }
  SendAll(fd, Reply(200, "OK", "application/octet-stream", csv));
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  unsigned long long port = 0;
  unsigned long long seed = static_cast<unsigned long long>(std::time(nullptr)) ^ static_cast<unsigned long long>(getpid());
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--port" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 65535, &port)) return Usage();
    } else if (a == "--seed" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], ~0ull, &seed)) return Usage();
    } else {
      return Usage();
    }
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;  // no SA_RESTART: a signal ends the wait in poll
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t len = sizeof addr;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::fprintf(stderr, "quote-service: cannot listen on 127.0.0.1:%llu: %s\n", port, std::strerror(errno));
    return 1;
  }
  std::printf("quote-service: listening on 127.0.0.1:%u\n", ntohs(addr.sin_port));

  quotes::Market market(seed);
  while (!g_stop) {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, -1) <= 0) continue;  // EINTR: look at the flag again
    const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Serve(client, market);
    shutdown(client, SHUT_WR);
    close(client);
  }
  close(listener);
  return 0;
}
