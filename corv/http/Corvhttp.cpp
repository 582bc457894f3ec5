#include "corv/http/Corvhttp.h"

#include "corv/core/Winsock.h"
#include "corv/http/HTTPComponentEngine.h"
#include "platform/vcl/core/typinfo.h"

// Implements the engine's event interface for one component and embeds its engine.
class HTTPCThunk final : public HTTPEvts {
 public:
  using Events = HTTPEvts;
  HTTPCThunk() = default;
  ~HTTPCThunk() = default;
  HTTPCThunk(const HTTPCThunk&) = delete;
  HTTPCThunk& operator=(const HTTPCThunk&) = delete;

  void Connected(int code, const char* description) override {
    if (Owner) Owner->FireConnected(static_cast<WORD>(code), const_cast<char*>(description));
  }
  void Disconnected(int code, const char* description) override {
    if (Owner) Owner->FireDisconnected(static_cast<WORD>(code), const_cast<char*>(description));
  }
  void EndTransfer(std::uint16_t direction) override {
    if (Owner) Owner->FireEndTransfer(direction);
  }
  void Error(int code, const char* description) override {
    if (Owner) Owner->FireError(static_cast<WORD>(code), const_cast<char*>(description));
  }
  void Header(const char* field, const char* value) override {
    if (Owner) Owner->FireHeader(const_cast<char*>(field), const_cast<char*>(value));
  }
  void SetCookie(const char* name, const char* value, const char* expires, const char* domain,
                 const char* path, int secure) override {
    if (Owner)
      Owner->FireSetCookie(const_cast<char*>(name), const_cast<char*>(value), const_cast<char*>(expires),
                           const_cast<char*>(domain), const_cast<char*>(path), secure != 0);
  }
  void StartTransfer(std::uint16_t direction) override {
    if (Owner) Owner->FireStartTransfer(direction);
  }
  void Transfer(std::uint16_t direction, std::uint32_t bytesTransferred, const char* text,
                std::uint16_t length) override {
    // The block is the engine's own buffer: handed on without a copy.
    static char empty[1] = {0};
    if (Owner)
      Owner->FireTransfer(direction, static_cast<long>(bytesTransferred), text ? const_cast<char*>(text) : empty,
                          text ? length : 0);
  }

  static constexpr const char* kOutOfMemory = "HTTP. Out of memory.";
  TcorvHTTP* Owner = nullptr;
  // Engine actions of the component on the stack, and whether the component is gone: a
  // component destroyed inside its own request leaves the thunk to the outermost call.
  int Depth = 0;
  bool Orphaned = false;
  CHTTP Engine;
};

namespace {

const bool registered = [] {
  CorvhttpWinsock();
  vcl::RegisterEnum<TcorvHTTPActions>({{"httpIdle", httpIdle},
                                       {"httpGet", httpGet},
                                       {"httpPost", httpPost},
                                       {"httpHead", httpHead},
                                       {"httpResetHeaders", httpResetHeaders},
                                       {"httpPut", httpPut}});
  vcl::RegisterEnum<TcorvHTTPFollowRedirects>(
      {{"frNever", frNever}, {"frAlways", frAlways}, {"frSameScheme", frSameScheme}});
  using H = TcorvHTTP;
  auto b = vcl::RegisterClass<H, TcorvComponent>("TcorvHTTP");
  b.Property("Accept", &H::FAccept, &H::FSetAccept)
      .Default(AnsiString())
      .Property("Action", &H::FAction, &H::FSetAction)
      .NotStored()
      .Property("FollowRedirects", &H::FFollowRedirects, &H::FSetFollowRedirects)
      .Default(frNever);
  RegisterHTTPEngineProperties(b);
  return true;
}();

}  // namespace

CWinsock& CorvhttpWinsock() {
  static CWinsock record;
  return record;
}

namespace Corvhttp {
void Register() { RegisterComponents<TcorvHTTP>("Corvane"); }
}  // namespace Corvhttp

// ---- construction ----

TcorvHTTP::TcorvHTTP(TComponent* Owner) : TcorvHTTPEngineComponent(Owner, "HTTP") {
  StartThunk(
      FThunk, CorvhttpWinsock(), "HTTP", [](CHTTP&) {},
      [this](CHTTP& e) {
        TreatErr(e.Accept.SetText(""));
        e.FollowRedirects = frNever;
      });
}

TcorvHTTP::~TcorvHTTP() {
  AttachEngine(nullptr);
  HTTPCThunk* t = FThunk;
  FThunk = nullptr;
  ReleaseThunk(t, httpIdle);
}

// ---- events ----

void TcorvHTTP::FireEndTransfer(int Direction) {
  if (OnEndTransfer) OnEndTransfer(this, Direction);
}

void TcorvHTTP::FireStartTransfer(int Direction) {
  if (OnStartTransfer) OnStartTransfer(this, Direction);
}

void TcorvHTTP::FireTransfer(int Direction, long BytesTransferred, char* Text, unsigned short lenText) {
  if (OnTransfer) OnTransfer(this, Direction, BytesTransferred, Text, lenText);
}

// ---- methods ----

void TcorvHTTP::RunAction(int action, const char* url) { RunEngineAction(FThunk, action, url); }

void TcorvHTTP::Get(AnsiString URL) { RunAction(httpGet, URL.c_str()); }

void TcorvHTTP::Head(AnsiString URL) { RunAction(httpHead, URL.c_str()); }

void TcorvHTTP::Post(AnsiString URL) { RunAction(httpPost, URL.c_str()); }

void TcorvHTTP::Put(AnsiString URL) { RunAction(httpPut, URL.c_str()); }

void TcorvHTTP::Interrupt() { RunAction(httpIdle, nullptr); }

void TcorvHTTP::ResetHeaders() { RunAction(httpResetHeaders, nullptr); }

// ---- properties ----

AnsiString TcorvHTTP::FAccept() { return Text(FThunk->Engine.Accept); }

void TcorvHTTP::FSetAccept(AnsiString value) { TreatErr(FThunk->Engine.Accept.SetText(value.c_str())); }

TcorvHTTPActions TcorvHTTP::FAction() { return static_cast<TcorvHTTPActions>(FThunk->Engine.Action); }

void TcorvHTTP::FSetAction(TcorvHTTPActions value) { RunAction(value, nullptr); }

AnsiString TcorvHTTP::FAttachedFile() { return Text(FThunk->Engine.AttachedFile); }

void TcorvHTTP::FSetAttachedFile(AnsiString value) {
  TreatErr(FThunk->Engine.AttachedFile.SetText(value.c_str()));
}

TcorvHTTPFollowRedirects TcorvHTTP::FFollowRedirects() {
  return static_cast<TcorvHTTPFollowRedirects>(FThunk->Engine.FollowRedirects);
}

void TcorvHTTP::FSetFollowRedirects(TcorvHTTPFollowRedirects value) {
  FThunk->Engine.FollowRedirects = static_cast<std::uint8_t>(value);
  TreatErr(0);
}

AnsiString TcorvHTTP::FHTTPMethod() { return Text(FThunk->Engine.HTTPMethod); }

void TcorvHTTP::FSetHTTPMethod(AnsiString value) { TreatErr(FThunk->Engine.HTTPMethod.SetText(value.c_str())); }

AnsiString TcorvHTTP::FHTTPVersion() { return Text(FThunk->Engine.HTTPVersion); }

void TcorvHTTP::FSetHTTPVersion(AnsiString value) {
  TreatErr(FThunk->Engine.HTTPVersion.SetText(value.c_str()));
}

AnsiString TcorvHTTP::FIfModifiedSince() { return Text(FThunk->Engine.IfModifiedSince); }

void TcorvHTTP::FSetIfModifiedSince(AnsiString value) {
  TreatErr(FThunk->Engine.IfModifiedSince.SetText(value.c_str()));
}

AnsiString TcorvHTTP::FPostData() { return Bytes(FThunk->Engine.PostData); }

void TcorvHTTP::FSetPostData(AnsiString value) {
  TreatErr(FThunk->Engine.PostData.Set(static_cast<std::uint32_t>(value.Length()), value.data()));
}

void TcorvHTTP::SetPostData(char* Data, unsigned short Length) {
  if (!Data) Length = 0;
  TreatErr(FThunk->Engine.PostData.Set(Length, Data));
}

AnsiString TcorvHTTP::FPragma() { return Text(FThunk->Engine.Pragma); }

void TcorvHTTP::FSetPragma(AnsiString value) { TreatErr(FThunk->Engine.Pragma.SetText(value.c_str())); }

AnsiString TcorvHTTP::FURLPath() { return Text(FThunk->Engine.URLPath); }

void TcorvHTTP::FSetURLPath(AnsiString value) { TreatErr(FThunk->Engine.URLPath.SetText(value.c_str())); }

unsigned short TcorvHTTP::FURLPort() { return FThunk->Engine.URLPort; }

void TcorvHTTP::FSetURLPort(unsigned short value) {
  FThunk->Engine.URLPort = value;
  TreatErr(0);
}

AnsiString TcorvHTTP::FURLScheme() { return Text(FThunk->Engine.URLScheme); }

void TcorvHTTP::FSetURLScheme(AnsiString value) { TreatErr(FThunk->Engine.URLScheme.SetText(value.c_str())); }

AnsiString TcorvHTTP::FURLServer() { return Text(FThunk->Engine.URLServer); }

void TcorvHTTP::FSetURLServer(AnsiString value) { TreatErr(FThunk->Engine.URLServer.SetText(value.c_str())); }
