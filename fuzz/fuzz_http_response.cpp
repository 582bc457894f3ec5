// The HTTP engine against a hostile server: status line, headers, cookies, line joining,
// Location and redirects, bodies, all arriving in fuzz-chosen pieces.
// Flags: bits 0-1 follow redirects (3: same scheme), bits 2-3 GET, POST, HEAD, GET through an
// HTTP proxy; bit 4 keeps at most 16 bytes of the body; bit 5 writes the body to a file.
#include <cstdio>
#include <string>

#include "corv/http/HTTP.h"
#include "fuzz/harness/peer.h"
#include "fuzz/harness/temp.h"
#include "fuzz/harness/touch.h"

namespace {

using fuzzpeer::Touch;

class Sink final : public HTTPEvts {
 public:
  void Connected(int, const char* d) override { Touch(d); }
  void Disconnected(int, const char* d) override { Touch(d); }
  void EndTransfer(std::uint16_t) override {}
  void Error(int, const char* d) override { Touch(d); }
  void Header(const char* f, const char* v) override {
    Touch(f);
    Touch(v);
  }
  void SetCookie(const char* n, const char* v, const char* e, const char* d, const char* p, int) override {
    Touch(n);
    Touch(v);
    Touch(e);
    Touch(d);
    Touch(p);
  }
  void StartTransfer(std::uint16_t) override {}
  void Transfer(std::uint16_t, std::uint32_t, const char* text, std::uint16_t length) override {
    Touch(text, length + 1u);
    if (text[length] != 0) __builtin_trap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string bodyFile = fuzzpeer::TempPath("http-body");
  fuzzpeer::Session peer(data, size);
  const std::uint8_t f = peer.Flags();
  {
    Sink sink;
    CHTTP http;
    if (!http.Init()) return 0;
    http.EventSink = static_cast<HTTPEvts*>(&sink);
    http.SetTimeout(fuzzpeer::kTimeoutSeconds);
    http.FollowRedirects = (f & 3) == 3 ? frSameScheme : (f & 3);
    if (f & 0x10) http.MaxTransferredData = 16;
    if (f & 0x20) http.LocalFile.SetText(bodyFile.c_str());
    http.SetURL("http://server.invalid:8080/d/quotes.csv?x=1", false);
    int action = 1;
    switch ((f >> 2) & 3) {
      case 1:
        action = 2;
        http.PostData.SetText("f=sl1d1t1c1ohgv&e=.csv&s=IBM");
        break;
      case 2: action = 3; break;
      case 3: http.ProxyServer.SetText("proxy.invalid"); break;
    }
    http.DoAction(action);
    Touch(http.GetErrorText());
    Touch(http.StatusLine.Text());
    Touch(http.TransferredData.Text(), http.TransferredData.Length());
  }
  if (f & 0x20) std::remove(bodyFile.c_str());
  return 0;
}
