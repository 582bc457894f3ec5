#include "corv/core/Firewall.h"

#include <cstring>

#include "corv/core/AsyncIPPort.h"
#include "platform/win32/misc.h"

namespace {

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

const char* Socks5ConnectText(unsigned code) {
  switch (code) {
    case 1: return "general SOCKS server failure";
    case 2: return "connection not allowed by ruleset";
    case 3: return "network unreachable";
    case 4: return "host unreachable";
    case 5: return "connection refused";
    case 6: return "TTL expired";
    case 7: return "command not supported";
    case 8: return "address type not supported";
    default: return nullptr;
  }
}

// Offset just past the first CR LF CR LF or LF LF that ends a tunnel reply's header, or 0
// when it has not arrived yet.
std::uint32_t EndOfHeader(const char* text, std::uint32_t n) {
  for (std::uint32_t i = 0; i + 1 < n; ++i) {
    if (text[i] == '\n' && text[i + 1] == '\n') return i + 2;
    if (i + 3 < n && std::memcmp(text + i, "\r\n\r\n", 4) == 0) return i + 4;
  }
  return 0;
}

}  // namespace

std::int32_t EncodeBase64(const char* text, char* out) {
  const auto* in = reinterpret_cast<const unsigned char*>(text ? text : "");
  std::size_t n = std::strlen(reinterpret_cast<const char*>(in));
  std::int32_t k = 0;
  for (std::size_t i = 0; i < n; i += 3) {
    unsigned b0 = in[i];
    unsigned b1 = i + 1 < n ? in[i + 1] : 0;
    unsigned b2 = i + 2 < n ? in[i + 2] : 0;
    out[k++] = kB64[b0 >> 2];
    out[k++] = kB64[((b0 << 4) & 0x30) | (b1 >> 4)];
    out[k++] = i + 1 < n ? kB64[((b1 << 2) & 0x3C) | (b2 >> 6)] : '=';
    out[k++] = i + 2 < n ? kB64[b2 & 0x3F] : '=';
  }
  out[k] = '\0';
  return k;
}

CFirewall::CFirewall()
    : Owner(nullptr),
      FirewallType(fwNone),
      Socks5Stage(0),
      Pending(false),
      FirewallPort(0),
      FirewallAddr(0),
      Negotiating(fwNone) {}

CFirewall::~CFirewall() {
  Reply.Clear();
  FirewallUser.Clear();
  FirewallPassword.Clear();
  FirewallData.Clear();
}

int CFirewall::SetFirewallHost(const char* text) {
  if (!text || !*text) {
    FirewallAddr = 0;
    return 0;
  }
  if (ResolveHostAddress(text, &FirewallAddr)) return 0;
  int code = WinsockProcs.WSAGetLastError();
  return code == ws::WSANOTINITIALISED ? 0 : code;
}

int CFirewall::SetFirewallUser(const char* text) {
  std::size_t n = text ? std::strlen(text) : 0;
  return FirewallUser.Set(static_cast<std::uint32_t>(n > kCredentialMax ? kCredentialMax : n), text ? text : "");
}

int CFirewall::SetFirewallPassword(const char* text) {
  std::size_t n = text ? std::strlen(text) : 0;
  return FirewallPassword.Set(static_cast<std::uint32_t>(n > kCredentialMax ? kCredentialMax : n), text ? text : "");
}

bool CFirewall::IsConnected() const { return !Pending && Owner && Owner->Connected; }

int CFirewall::ErrorHook(WORD code, const char* text) { return Owner->ErrorHook(code, text); }
int CFirewall::ReadyToSend() { return Owner->ReadyToSendHook(); }

void CFirewall::Reset(WORD code) {
  Pending = false;
  Reply.Clear();
  Owner->DisconnectedHook(code);
}

int CFirewall::SendRequest(const void* data, std::uint32_t length) {
  return Owner->Send(static_cast<const char*>(data), length, 0, false);
}

void CFirewall::Report(const char* text) {
  // A copy: the text may lie in the reply, which a handler that closes the port empties.
  if (FailureText.SetText(text) != 0) FailureText.Set(0u);
  Owner->ErrorHook(CORV_FIREWALL_FAILED, FailureText.IsEmpty() ? text : FailureText.Text());
  Pending = false;
  Owner->ConnectedHook(CORV_FIREWALL_FAILED);
}

void CFirewall::Fail(const char* text) {
  Report(text);
  Owner->Connect(false);
}

void CFirewall::ProxyClosed() {
  // Nobody else would end the connect: its waiter would wait for ever.
  if (Pending) Report("the proxy closed the connection during the handshake");
}

bool CFirewall::ResolveRemote(DWORD* address) {
  if (ResolveHostAddress(Owner->RemoteHost.Text(), address)) return true;
  int code = WinsockProcs.WSAGetLastError();
  char text[CORV_ERROR_TEXT_SIZE + 40];
  char reason[CORV_ERROR_TEXT_SIZE];
  FormatWinsockError(code, reason, sizeof reason);
  wsprintfA(text, "cannot resolve RemoteHost: %s", reason);
  Fail(text);
  return false;
}

bool CFirewall::CheckRemoteHostText() {
  const auto* p = reinterpret_cast<const unsigned char*>(Owner->RemoteHost.Text());
  for (std::uint32_t i = 0; i < Owner->RemoteHost.Length(); ++i) {
    // A CR or LF would end the CONNECT line early and let the host text add header lines;
    // a NUL would cut a SOCKS host name short.
    if (p[i] < 0x20 || p[i] == 0x7F) {
      Fail("RemoteHost holds a control character");
      return false;
    }
  }
  return true;
}

void CFirewall::Start(WORD error) {
  Reply.Set(0u);
  FailureText.Set(0u);
  if (error != 0) {
    Pending = false;
    Owner->ConnectedHook(error);
    return;
  }
  Pending = true;
  // The negotiation goes on as it began: a handler may set another type meanwhile.
  Negotiating = FirewallType;
  switch (Negotiating) {
    case fwTunnel:
      StartTunnel();
      break;
    case fwSOCKS4:
      StartSocks4();
      break;
    case fwSOCKS5:
      StartSocks5();
      break;
    default:
      Pending = false;
      Owner->ConnectedHook(0);
      break;
  }
}

void CFirewall::StartTunnel() {
  if (!CheckRemoteHostText()) return;
  // Built in engine strings: neither the credentials nor the host name have a size limit
  // to overrun.
  DynStr request;
  char port[16];
  wsprintfA(port, "%u", static_cast<unsigned>(Owner->RemotePort));
  int r = request.Append("CONNECT ");
  if (!r) r = request.Append(Owner->RemoteHost.Text(), Owner->RemoteHost.Length());
  if (!r) r = request.Append(":");
  if (!r) r = request.Append(port);
  if (!r) r = request.Append(" HTTP/1.0\r\n");
  if (!r && (!FirewallUser.IsEmpty() || !FirewallPassword.IsEmpty())) {
    DynStr plain;
    DynStr encoded;
    r = plain.Append(FirewallUser.Text(), FirewallUser.Length());
    if (!r) r = plain.Append(":");
    if (!r) r = plain.Append(FirewallPassword.Text(), FirewallPassword.Length());
    if (!r) r = encoded.Set(4 * ((plain.Length() + 2) / 3));
    if (!r) EncodeBase64(plain.Text(), encoded.Text());
    if (!r) r = request.Append("Proxy-authorization: Basic ");
    if (!r) r = request.Append(encoded.Text(), encoded.Length());
    if (!r) r = request.Append("\r\n");
  }
  if (!r) r = request.Append("\r\n");
  if (r) {
    Fail("Out of memory.");
    return;
  }
  SendRequest(request.Text(), request.Length());
}

void CFirewall::StartSocks4() {
  DWORD addr = 0;
  if (!ResolveRemote(&addr)) return;
  DynStr request;
  unsigned char head[8] = {4, 1, static_cast<unsigned char>(Owner->RemotePort >> 8),
                           static_cast<unsigned char>(Owner->RemotePort & 0xFF)};
  std::memcpy(head + 4, &addr, 4);
  int r = request.Append(head, sizeof head);
  if (!r) r = request.Append(FirewallUser.Text(), FirewallUser.Length());
  if (!r) r = request.Append("\0", 1);
  if (r) {
    Fail("Out of memory.");
    return;
  }
  SendRequest(request.Text(), request.Length());
}

void CFirewall::StartSocks5() {
  const DynStr& host = Owner->RemoteHost;
  // Checked before anything is sent: the request carries the name with a one-byte length.
  if (host.Length() > 0 && host.Text()[0] == '*') {
    if (!CheckRemoteHostText()) return;
    if (host.Length() - 1 > 255) {
      Fail("RemoteHost name is longer than 255 bytes");
      return;
    }
  }
  Socks5Stage = 1;
  if (!FirewallUser.IsEmpty() && !FirewallPassword.IsEmpty()) {
    static const unsigned char greeting[] = {5, 2, 0, 2};
    SendRequest(greeting, sizeof greeting);
  } else {
    static const unsigned char greeting[] = {5, 1, 0};
    SendRequest(greeting, sizeof greeting);
  }
}

void CFirewall::SendSocks5Connect() {
  const DynStr& host = Owner->RemoteHost;
  DynStr request;
  static const unsigned char head[] = {5, 1, 0};
  int r = request.Append(head, sizeof head);
  if (host.Length() > 0 && host.Text()[0] == '*') {
    unsigned char type[2] = {3, static_cast<unsigned char>(host.Length() - 1)};
    if (!r) r = request.Append(type, 2);
    if (!r) r = request.Append(host.Text() + 1, host.Length() - 1);
  } else {
    DWORD addr = 0;
    if (!ResolveRemote(&addr)) return;
    unsigned char type = 1;
    if (!r) r = request.Append(&type, 1);
    if (!r) r = request.Append(&addr, 4);
  }
  unsigned char port[2] = {static_cast<unsigned char>(Owner->RemotePort >> 8),
                           static_cast<unsigned char>(Owner->RemotePort & 0xFF)};
  if (!r) r = request.Append(port, 2);
  Socks5Stage = 3;
  if (r) {
    Fail("Out of memory.");
    return;
  }
  SendRequest(request.Text(), request.Length());
}

int CFirewall::DataIn(const char* data, WORD length, bool eol) {
  if (!Pending) return Owner->DataInHook(data, length, eol);
  if (Reply.Append(data, length) != 0) {
    Fail("Out of memory.");
    return 0;
  }
  switch (Negotiating) {
    case fwTunnel:
      return TunnelReply(eol);
    case fwSOCKS4:
      Socks4Reply(eol);
      break;
    case fwSOCKS5:
      // The proxy may send its next reply in the same segment as the one before.
      while (Socks5Step(eol)) {
      }
      break;
    default:
      break;
  }
  return 0;
}

void CFirewall::PutBack(std::uint32_t offset, bool eol) {
  LineFIFO& fifo = Owner->Fifo;
  bool ok = true;
  if (Reply.Length() > offset) ok = fifo.Put(Reply.Text() + offset, Reply.Length() - offset);
  if (ok && eol && fifo.EOLLength()) ok = fifo.Put(fifo.EOL(), fifo.EOLLength());
  if (!ok) Owner->ErrorHook(CORV_OUT_OF_MEMORY, "Receive buffer full: data after the firewall reply lost.");
  Reply.Set(0u);
}

int CFirewall::TunnelReply(bool eol) {
  LineFIFO& fifo = Owner->Fifo;
  // The port cut the terminator off a delivered line; the reply needs it back to find the
  // empty line.
  if (eol && fifo.EOLLength() && Reply.Append(fifo.EOL(), fifo.EOLLength()) != 0) {
    Fail("Out of memory.");
    return 0;
  }
  const char* text = Reply.Text();
  std::uint32_t n = Reply.Length();
  if (n >= 10) {
    std::uint32_t i = 0;
    while (i < n && text[i] != ' ') ++i;
    while (i < n && text[i] == ' ') ++i;
    if (i >= n || text[i] != '2') {
      // Left open, the connection would read as linked to the far server.
      Fail(text);
      return 0;
    }
  }
  std::uint32_t end = EndOfHeader(text, n);
  if (!end) return 0;
  Pending = false;
  // A far server that speaks first may have sent its greeting in the same segment. Held
  // before the report: a handler of it that waits for that greeting finds it there.
  PutBack(end, false);
  return Owner->ConnectedHook(0);
}

void CFirewall::Socks4Reply(bool eol) {
  if (Reply.Length() < 8) return;
  Pending = false;
  unsigned code = static_cast<unsigned char>(Reply.Text()[1]);
  switch (code) {
    case 90:
      PutBack(8, eol);
      Owner->ConnectedHook(0);
      return;
    case 91:
      Fail("firewall request rejected or failed");
      return;
    case 92:
      Fail("firewall request rejected because identd is not available");
      return;
    case 93:
      Fail("firewall request rejected because identd reports different user");
      return;
    default: {
      char text[64];
      wsprintfA(text, "unknown firewall error: %d", static_cast<int>(code));
      Fail(text);
      return;
    }
  }
}

bool CFirewall::Socks5Step(bool eol) {
  const auto* p = reinterpret_cast<const unsigned char*>(Reply.Text());
  std::uint32_t n = Reply.Length();
  switch (Socks5Stage) {
    case 1: {
      if (n < 2) return false;
      unsigned method = p[1];
      if (method == 0) {
        Socks5Stage = 3;
        Reply.Set(n - 2, Reply.Text() + 2);
        SendSocks5Connect();
      } else if (method == 2) {
        std::uint32_t ul = FirewallUser.Length() > kCredentialMax ? kCredentialMax : FirewallUser.Length();
        std::uint32_t pl = FirewallPassword.Length() > kCredentialMax ? kCredentialMax : FirewallPassword.Length();
        DynStr request;
        unsigned char b = 1;
        int r = request.Append(&b, 1);
        b = static_cast<unsigned char>(ul);
        if (!r) r = request.Append(&b, 1);
        if (!r) r = request.Append(FirewallUser.Text(), ul);
        b = static_cast<unsigned char>(pl);
        if (!r) r = request.Append(&b, 1);
        if (!r) r = request.Append(FirewallPassword.Text(), pl);
        if (r) {
          Fail("Out of memory.");
          return false;
        }
        Socks5Stage = 2;
        Reply.Set(n - 2, Reply.Text() + 2);
        SendRequest(request.Text(), request.Length());
      } else if (method == 255) {
        Fail("no acceptable firewall authentication methods");
      } else {
        Fail("unknown firewall authentication method");
      }
      return Pending;
    }
    case 2: {
      if (n < 2) return false;
      unsigned status = p[1];
      if (status != 0) {
        char text[64];
        wsprintfA(text, "firewall authentication failed: %d", static_cast<int>(status));
        Fail(text);
        return false;
      }
      // What follows the two bytes is the start of the connect reply.
      Reply.Set(n - 2, Reply.Text() + 2);
      SendSocks5Connect();
      return Pending;
    }
    case 3: {
      // The bound address decides the reply's length: IPv4 10, IPv6 22, a name 7 + its
      // length. Counting it right keeps the far server's first bytes intact.
      std::uint32_t need = 10;
      if (n >= 4 && p[3] == 4) need = 22;
      if (n >= 5 && p[3] == 3) need = 7u + p[4];
      if (n < need) return false;
      Pending = false;
      unsigned code = p[1];
      if (code != 0) {
        const char* known = Socks5ConnectText(code);
        char text[64];
        if (!known) {
          wsprintfA(text, "unknown firewall error: %d", static_cast<int>(code));
          known = text;
        }
        Fail(known);
        return false;
      }
      PutBack(need, eol);
      Owner->ConnectedHook(0);
      return false;
    }
    default:
      return false;
  }
}
