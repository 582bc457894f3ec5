// A scripted HTTP server for client tests: it keeps the exact bytes of every request it
// receives and answers in one of a few ways that real servers do not produce on demand
// (close at once, never answer, reset in the middle of the body), or with a canned reply.
#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace peers {

class HttpCapture {
 public:
  enum class Mode {
    Reply,          // send the canned reply, then close
    CloseSilently,  // close right after the request, without a byte
    NeverAnswer,    // keep the connection open and silent until the server is destroyed
    ResetMidBody,   // send the canned reply's first half, then reset the connection
  };

  explicit HttpCapture(Mode mode = Mode::Reply,
                       std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nok");
  ~HttpCapture();
  HttpCapture(const HttpCapture&) = delete;
  HttpCapture& operator=(const HttpCapture&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& path) const;
  void SetReply(Mode mode, std::string reply);
  // The next captured request (head and body as announced by Content-Length), waiting at
  // most timeoutMs for it; empty when none came.
  std::string NextRequest(int timeoutMs = 5000);
  int Connections();

 private:
  void Run();
  void Serve(int fd);

  int listenFd_ = -1;
  int wakeFd_[2] = {-1, -1};
  int port_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::string> requests_;
  Mode mode_;
  std::string reply_;
  int connections_ = 0;
  std::thread thread_;
};

}  // namespace peers
