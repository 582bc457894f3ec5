// Proxy negotiation against a hostile proxy: HTTP tunnel, SOCKS4 and SOCKS5 replies (method,
// authentication, connect), then the far server's HTTP response on the same connection.
// Flags: bits 0-1 tunnel, SOCKS4, SOCKS5, SOCKS5 with a host name for the proxy to resolve;
// bit 2 sets a user, bit 3 a password.
#include "corv/http/HTTP.h"
#include "fuzz/harness/peer.h"
#include "fuzz/harness/touch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzpeer::Session peer(data, size);
  const std::uint8_t f = peer.Flags();
  CHTTP http;
  if (!http.Init()) return 0;
  http.SetTimeout(fuzzpeer::kTimeoutSeconds);
  static const BYTE kTypes[] = {fwTunnel, fwSOCKS4, fwSOCKS5, fwSOCKS5};
  http.Firewall.FirewallType = kTypes[f & 3];
  http.Firewall.FirewallPort = 1080;
  http.Firewall.SetFirewallHost("proxy.invalid");
  if (f & 4) http.Firewall.SetFirewallUser("bob");
  if (f & 8) http.Firewall.SetFirewallPassword("s3cret");
  http.SetURL((f & 3) == 3 ? "http://*far.invalid/q" : "http://far.invalid/q", false);
  http.DoAction(1);
  fuzzpeer::Touch(http.GetErrorText());
  fuzzpeer::Touch(http.TransferredData.Text(), http.TransferredData.Length());
  return 0;
}
