// A hostile peer for the socket engines, played from a fuzz input on the engine's own thread.
//
// Input: one flags byte for the target (bit 7: keep the connections open once the stream is
// spent, so the engine can only end by its time-out), then the peer's stream. In the stream
// the byte FF starts a command:
//   FF FF      a literal FF
//   FF '|'     a cut: the bytes before it go out in one send, the rest later
//   FF '0'-'9' the following bytes go to that connection (0: the first the engine made;
//              a connection the engine listens for is connected to when first named)
//   FF 'c'     close the current connection; FF 'r' reset it
// Other commands are ignored.
//
// Every connect the engine makes goes to the peer's listener on 127.0.0.1 whatever address it
// names, and every host name resolves to 127.0.0.1: nothing leaves the machine. The peer sends
// one piece per wait of the engine that finds nothing else to do. Once the stream is spent the
// peer closes its connections, and an engine wait that does not end on that hangs the target,
// which libFuzzer's -timeout reports. A stalling peer (bit 7) keeps them open instead, and
// each further wait moves the engine's clock past its time-out (kTimeoutSeconds), so a stalled
// wait ends at once; one that still never ends is a hang again.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace fuzzpeer {

// The time-out every engine target sets.
inline constexpr std::uint32_t kTimeoutSeconds = 30;

class Script;

class Session {
 public:
  Session(const std::uint8_t* data, std::size_t size);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::uint8_t Flags() const { return flags_; }

 private:
  std::uint8_t flags_ = 0;
  std::unique_ptr<Script> script_;
};

// The port the engine's connects are turned to; 0 without a session.
std::uint16_t ListenerPort();
// The hooked Windows Sockets module reports each socket the engine listens on.
void NoteEngineListener(std::uint16_t port);
// Replaces "WSOCK32.DLL" with the real module plus the peer's connect, listen and look-up.
void InstallWinsockHook();

}  // namespace fuzzpeer
