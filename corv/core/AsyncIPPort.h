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
  // Forgets everything received and not yet delivered, for a new connection.
  void EmptyReceiveBuffer();
  // Bytes received ahead of the receive buffer and not yet delivered.
  std::uint32_t HeldAhead() const { return AheadCount; }

  std::int32_t InBufferSize;
  std::int32_t OutBufferSize;
  ws::SOCKET Socket;
  DWORD RemoteAddr;  // network order; 0: none
  DynStr RemoteHost;
  WORD RemotePort;
  WORD LocalPort;
  LONG DeferredCloseWord;
  std::int32_t BytesSent;
  CFirewall Firewall;
  bool Connected;
  bool AcceptData;
  bool InRead;
  bool Linger;
  bool KeepAlive;
  bool DeferredClose;
  LineFIFO Fifo;

 private:
  bool NoStorageReported = false;  // a buffer without storage is reported once per connection
  // Notifications that came while a read pass ran; the pass handles them once it is done.
  bool ReadAgain = false;
  bool PeerClosed = false;
  LONG PeerCloseWord = 0;
  char* Ahead = nullptr;           // kBulkReceive + 1 bytes, taken for a connection's first bulk receive
  std::uint32_t AheadStart = 0;
  std::uint32_t AheadCount = 0;
  void PostRead();
  // The read pass proper; DoRead runs it under the in-read guard.
  int ReadPass(int mode);
  // What the pass put off: a close asked for, the peer's close, a read notification.
  int AfterRead(int result);
  // A handler threw out of the pass: the put-off notifications are posted again.
  void RepostDeferred();
  // The peer closed: read to the end, then disconnect.
  void PeerClose(LONG word);
  // Delivers the held complete lines; false when delivery must stop.
  bool DeliverLines();
  bool StopReading() const;
  // Whether the next receive goes ahead of the receive buffer (raw mode, nothing held, no
  // negotiation, not a final read).
  bool ReceiveAhead(int mode);
  // Hands on the next block received ahead (dropped unless deliver), or in line mode moves
  // what fits into the receive buffer's free block.
  void TakeAhead(char* room, std::uint32_t size, bool deliver);
  // After a final receive: everything held goes out, refused data is dropped; an interrupt
  // leaves what was received ahead.
  void FlushHeld();
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
