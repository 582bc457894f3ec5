// The asynchronous TCP client port under every protocol engine: a non-blocking socket whose
// connect, read, write and close reports arrive as messages to the engine's hidden window and
// leave as five hooks. Received bytes pass through the receive buffer and are delivered as
// lines or raw blocks; while a proxy negotiation is pending they go to the firewall member.
#pragma once
#include <cstdint>

#include "corv/core/DynStr.h"
#include "corv/core/Firewall.h"
#include "corv/core/LineFIFO.h"
#include "corv/core/Wsock.h"

class CAsyncIPPort : public CWsock {
 public:
  // Read pass modes.
  enum { kReadNotified = 0, kReadFinal = 1, kReadToEnd = 2, kReadConnecting = 3 };
  static constexpr std::int32_t kDefaultBufferSize = 2048;
  // Raw data is received up to this much per call and handed on in blocks of at most the
  // receive buffer's capacity: a receive per 2 KiB would cost more than the bytes.
  static constexpr std::uint32_t kBulkReceive = 65536;

  CAsyncIPPort();
  ~CAsyncIPPort() override;

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  const char* GetLocalHost() override;
  virtual int DoRead(int mode);
  virtual int ConnectedHook(WORD code) = 0;
  virtual int DisconnectedHook(WORD code) = 0;
  virtual int DataInHook(const char* data, WORD length, bool eol) = 0;
  virtual int ErrorHook(WORD code, const char* text) = 0;
  virtual int ReadyToSendHook() = 0;

  bool Init();
  int SetRemoteHost(const char* text);
  int SetRemotePort(WORD port);
  const char* GetRemoteHost();
  int Connect(bool open);
  int Disconnect(LONG word);
  int CloseSocket();
  int Send(const char* data, DWORD length, int flags, bool throughFirewall);
  int SetAcceptData(bool accept);
  int SetEOL(const char* eol, WORD length);
  int SetInBufferSize(std::int32_t size);
  int SetOutBufferSize(std::int32_t size);
  int SetKeepAlive(bool on);
  int SetLinger(bool on);
  int SetOOBInline(std::int32_t on);

  // Data may be delivered: the engine accepts it, or a negotiation wants it.
  bool MayDeliver() const;
  // A stop was asked for: the read pass ends between two deliveries. A port that serves
  // another engine asks that engine.
  virtual bool StopRequested() const;
  // For a new connection: forgets everything received and not yet delivered, and what a
  // read pass of the connection before put off.
  void EmptyReceiveBuffer();
  // Bytes received ahead of the receive buffer and not yet delivered.
  std::uint32_t HeldAhead() const { return AheadCount; }
  // A read pass runs and has not handed the port over to a wait of its own (see OwnWait).
  bool ReadPassRunning() const { return Read.inPass; }
  // A close waits for the running read pass, or is under way.
  bool CloseAsked() const { return Read.closeAsked; }

  // A blocking wait of the port's own that a handler calls inside a delivery takes the port
  // over: its read passes run, into storage of their own, while the outer delivery's bytes
  // stay as they were; and a close or read the running pass put off is carried out at once
  // instead of after the handler, which the wait would otherwise wait for.
  class OwnWait {
   public:
    explicit OwnWait(CAsyncIPPort& port);
    ~OwnWait();
    OwnWait(const OwnWait&) = delete;
    OwnWait& operator=(const OwnWait&) = delete;

   private:
    CAsyncIPPort& port_;
    bool inPass_;
  };

  std::int32_t InBufferSize;
  std::int32_t OutBufferSize;
  ws::SOCKET Socket;
  DWORD RemoteAddr;  // network order; 0: none
  DynStr RemoteHost;
  WORD RemotePort;
  WORD LocalPort;
  std::int32_t BytesSent;
  CFirewall Firewall;
  bool Connected;
  bool AcceptData;
  bool Linger;
  bool KeepAlive;
  LineFIFO Fifo;

 private:
  // The read pass's whole state. Changed only by the read pass's own members (DoRead, the
  // pass guard, Settle, AskClose, Close, RepostAsked), by OwnWait, and for a new connection by
  // EmptyReceiveBuffer.
  struct ReadState {
    bool inPass = false;           // a pass runs and has not handed the port to an own wait
    bool closeAsked = false;       // a close waits for the pass to end, or is under way
    bool peerClose = false;        // that close is the peer's: what it sent is read first
    LONG closeWord = 0;            // that close's notification word (first one asked)
    bool readAsked = false;        // a read notification came while the pass ran
    std::uint32_t connection = 0;  // counts connections: a pass or close ends with its own
  };
  struct InHand;
  struct PassGuard;
  ReadState Read;
  // The innermost delivery whose handler is running.
  InHand* Hand = nullptr;
  bool NoStorageReported = false;  // a buffer without storage is reported once per connection
  char* Ahead = nullptr;           // kBulkReceive bytes, taken for a connection's first bulk receive
  std::uint32_t AheadStart = 0;
  std::uint32_t AheadCount = 0;
  void PostRead();
  // The socket of the pass's connection is still open.
  bool Live(std::uint32_t connection) const { return Socket != ws::INVALID_SOCKET && Read.connection == connection; }
  // One pass under the guard; does not carry out what it put off.
  int GuardedPass(int mode);
  // The read pass proper.
  int ReadPass(int mode);
  // Carries out what the passes put off: a close, then a read.
  int Settle(int result);
  // Puts a close off until the running pass ends.
  void AskClose(LONG word, bool peer);
  // Closes now: the peer's close reads what it sent first; then the final read (when data is
  // accepted), the disconnect report and the socket's close.
  int Close(LONG word, bool peer);
  // A handler threw out of a pass: what was put off is posted again as notifications.
  void RepostAsked();
  // Hands one line or block to the firewall member and on to the hooks.
  int Deliver(char* data, std::uint32_t n, bool eol);
  // Delivers the held complete lines; false when delivery must stop.
  bool DeliverLines(std::uint32_t connection);
  bool StopReading() const;
  // Whether the next receive goes ahead of the receive buffer (raw mode, nothing held, no
  // negotiation, not a final read).
  bool ReceiveAhead(int mode);
  // Moves what fits of the bytes received ahead into the receive buffer's free block.
  void TakeAhead(char* room, std::uint32_t size);
  // After a final receive: everything held goes out, refused data is dropped; an interrupt
  // leaves what was received ahead.
  void FlushHeld(std::uint32_t connection);
};

// Routes the port's hooks to the operations the message port and the engines override.
class CInternalIPPort : public CAsyncIPPort {
 public:
  int ConnectedHook(WORD code) override { return OnConnected(code); }
  int DisconnectedHook(WORD code) override { return OnDisconnected(code); }
  int DataInHook(const char* data, WORD length, bool eol) override { return OnDataIn(data, length, eol); }
  int ErrorHook(WORD code, const char* text) override { return FireError(code, text); }
  int ReadyToSendHook() override { return FireReadyToSend(); }

  // Adds "OK" or the Windows Sockets text of the code.
  virtual int OnConnected(WORD code);
  virtual int OnDisconnected(WORD code);
  virtual int FireConnected(WORD code, const char* text);
  virtual int OnDataIn(const char* data, WORD length, bool eol);
  virtual int FireDisconnected(WORD code, const char* text);
  virtual int FireError(WORD code, const char* text);
  virtual int FireReadyToSend();
};
