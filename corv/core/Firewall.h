// Proxy settings of a port and the negotiation through an HTTP CONNECT tunnel, SOCKS4 or
// SOCKS5 (with RFC 1929 user and password). While a negotiation is pending the port's
// connect report and every received byte come here instead of to the engine.
#pragma once
#include <cstdint>

#include "corv/core/DynStr.h"
#include "platform/win32/types.h"

class CAsyncIPPort;

enum TFIREWALLTYPES : BYTE { fwNone = 0, fwTunnel = 1, fwSOCKS4 = 2, fwSOCKS5 = 3 };

// Result of every failed negotiation.
inline constexpr int CORV_FIREWALL_FAILED = 118;

// Base64 of a NUL-terminated text in one unbroken line; out needs 4 * ceil(n / 3) + 1 bytes.
// Returns the output length (a NUL follows it).
std::int32_t EncodeBase64(const char* text, char* out);

class CFirewall {
 public:
  static constexpr std::uint32_t kCredentialMax = 255;

  CFirewall();
  ~CFirewall();
  CFirewall(const CFirewall&) = delete;
  CFirewall& operator=(const CFirewall&) = delete;

  // Resolves the proxy host; "" clears it. 0 or a Windows Sockets error.
  int SetFirewallHost(const char* text);
  // Both are cut to 255 bytes. 0 or 200.
  int SetFirewallUser(const char* text);
  int SetFirewallPassword(const char* text);
  // Connected through the proxy: the socket is connected and nothing is pending.
  bool IsConnected() const;

  // Port side: connect report, received data, disconnection, errors, room to send.
  void Start(WORD error);
  int DataIn(const char* data, WORD length, bool eol);
  void Reset(WORD code);
  int ErrorHook(WORD code, const char* text);
  int ReadyToSend();

  // Reports 118 with the text, then disconnects.
  void Fail(const char* text);
  // The proxy closed or reset the connection: a negotiation still pending has failed.
  void ProxyClosed();
  bool ResolveRemote(DWORD* address);
  void SendSocks5Connect();

  CAsyncIPPort* Owner;
  BYTE FirewallType;
  BYTE Socks5Stage;
  bool Pending;
  WORD FirewallPort;
  DynStr Reply;
  DynStr FirewallUser;
  DynStr FirewallPassword;
  DynStr FirewallData;
  DWORD FirewallAddr;  // network order; 0: none
  // The text of the last failed negotiation, kept until the next one starts: the failure
  // the engine returns carries it.
  DynStr FailureText;

 private:
  BYTE Negotiating;  // the type the pending negotiation began with
  void StartTunnel();
  void StartSocks4();
  void StartSocks5();
  int TunnelReply(bool eol);
  void Socks4Reply(bool eol);
  // False while the reply in hand is incomplete or the negotiation has ended.
  bool Socks5Step(bool eol);
  // Reports 118 with the text; the connection stays as it is.
  void Report(const char* text);
  // Hands the bytes after the proxy's reply back to the engine's receive buffer.
  void PutBack(std::uint32_t offset, bool eol);
  int SendRequest(const void* data, std::uint32_t length);
  // The host text sent to the proxy must not break the request it is placed in.
  bool CheckRemoteHostText();
};
