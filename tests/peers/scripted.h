// A scripted TCP server on 127.0.0.1 for faults real servers will not produce: exact bytes
// expected and answered, replies cut into separate segments, stalls, resets.
//
// The script runs on its own thread, step by step, over one accepted connection at a time.
// A step that does not go as written (different bytes, a time-out, a closed connection)
// ends the script and is reported by failures(); tests check it with EXPECT_EQ("", ...).
#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace peers {

class ScriptedServer {
 public:
  // host: where it listens, an address of the loopback range.
  explicit ScriptedServer(const char* host = "127.0.0.1");
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int port() const { return port_; }

  // Script building; call Start() when done.
  ScriptedServer& Accept();                          // waits for the next connection
  ScriptedServer& Expect(const std::string& bytes);  // reads exactly these bytes
  ScriptedServer& ExpectLine();                      // reads up to and including LF, any text
  ScriptedServer& Send(const std::string& bytes);    // one send() call
  ScriptedServer& Gate(int id);                      // waits for Open(id) from the test
  ScriptedServer& ReadUntilClosed();                 // reads everything until the peer closes
  ScriptedServer& Echo();                            // sends back what it reads until closed
  ScriptedServer& Close();                           // orderly close
  ScriptedServer& Reset();                           // close with RST (linger 0)
  ScriptedServer& Stall();                           // keeps the connection, silent, until destroyed
  ScriptedServer& Run(std::function<void(int fd)> step);  // anything else, on the raw fd
  void Start();

  // Lets the script pass Gate(id).
  void Open(int id);
  // Waits (with a deadline) until the script has finished or stopped at a failure.
  bool WaitDone(int timeoutMs = 10000);
  // Waits until the script has reached step index n (counting from 0) or beyond.
  bool WaitStep(std::size_t n, int timeoutMs = 10000);

  std::string failures() const;
  std::string received() const;   // every byte read, all connections
  int connections() const { return accepted_.load(); }

  // Per-step read/accept time-out; a script never hangs a test for longer.
  int stepTimeoutMs = 10000;

 private:
  struct Step {
    enum Kind { AcceptK, ExpectK, ExpectLineK, SendK, GateK, ReadAllK, EchoK, CloseK, ResetK, StallK, RunK } kind;
    std::string bytes;
    int id = 0;
    std::function<void(int)> fn;
  };
  void Main();
  bool ReadSome(int fd, std::string& out, std::size_t max);
  bool WaitReadable(int fd);
  void Fail(const std::string& what);

  int listen_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::vector<Step> steps_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<int> open_;
  std::size_t stepIndex_ = 0;
  bool done_ = false;
  std::string failures_;
  std::string received_;
};

// Sends back what it reads, on every connection, until destroyed (a plain peer for tests
// that need a live far end).
class EchoServer {
 public:
  explicit EchoServer(const std::string& greeting = "");
  ~EchoServer();
  int port() const { return port_; }

 private:
  void Main();
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::string greeting_;
  std::thread thread_;
};

// A peer played inside the waits of the calling thread, for tests that must cut a stream in
// the same places on every run: it accepts one connection and sends the next piece each time a
// wait of the thread would sleep with nothing to do, so each piece arrives on its own. Then it
// closes, resets, or stalls: keeps the connection and moves the clock past every time-out.
// While it lives it is the thread's host; sockets made before it are not watched.
class InlinePeer {
 public:
  enum class End { Close, Reset, Stall };
  InlinePeer(std::vector<std::string> pieces, End end);
  ~InlinePeer();
  InlinePeer(const InlinePeer&) = delete;
  InlinePeer& operator=(const InlinePeer&) = delete;

  int port() const { return port_; }
  // Every piece has gone out.
  bool Spent() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
  int port_ = 0;
};

}  // namespace peers
