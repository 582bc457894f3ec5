#include "corv/http/HTTPComponent.h"

#include "corv/http/HTTP.h"

namespace {

constexpr int kCookieRange = 156;

}  // namespace

void TcorvHTTPEngineComponent::AttachHTTPEngine(CHTTP* engine) {
  http_ = engine;
  AttachEngine(engine);
}

void TcorvHTTPEngineComponent::SetInitialValues() {
  CHTTP& e = *http_;
  TreatErr(e.Firewall.SetFirewallHost(""));
  TreatErr(e.Firewall.SetFirewallPassword(""));
  e.Firewall.FirewallPort = 0;
  e.Firewall.FirewallType = fwNone;
  e.Firewall.FirewallPort = 80;
  TreatErr(e.Firewall.SetFirewallUser(""));
  TreatErr(e.LocalFile.SetText(""));
  e.MaxTransferredData = 4096;
  TreatErr(e.SetPassword(""));
  TreatErr(e.SetProxyPassword(""));
  e.ProxyPort = 80;
  TreatErr(e.ProxyServer.SetText(""));
  TreatErr(e.SetProxyUser(""));
  TreatErr(e.SetTimeout(0));
  TreatErr(e.SetURL("", false));
  TreatErr(e.SetUser(""));
  TreatErr(e.UserAgent.SetText(kCorvComponentBanner));
}

// ---- events ----

void TcorvHTTPEngineComponent::FireConnected(int ErrorCode, char* Description) {
  FireCodeText(OnConnected, ErrorCode, Description);
}

void TcorvHTTPEngineComponent::FireDisconnected(int ErrorCode, char* Description) {
  FireCodeText(OnDisconnected, ErrorCode, Description);
}

void TcorvHTTPEngineComponent::FireError(int ErrorCode, char* Description) {
  FireCodeText(OnError, ErrorCode, Description);
}

void TcorvHTTPEngineComponent::FireHeader(char* Field, char* Value) {
  if (!OnHeader) return;
  AnsiString f = EventText(Field);
  AnsiString v = EventText(Value);
  OnHeader(this, f, v);
}

void TcorvHTTPEngineComponent::FireSetCookie(char* Name, char* Value, char* Expires, char* Domain, char* Path,
                                             bool Secure) {
  if (!OnSetCookie) return;
  AnsiString n = EventText(Name);
  AnsiString v = EventText(Value);
  AnsiString x = EventText(Expires);
  AnsiString d = EventText(Domain);
  AnsiString p = EventText(Path);
  OnSetCookie(this, n, v, x, d, p, Secure);
}

// ---- methods ----

void TcorvHTTPEngineComponent::AddCookie(AnsiString Name, AnsiString Value) {
  DynStrSeq& c = http_->Cookies;
  // A cookie list of odd length (a failed add) must not pair this name with an older value.
  const std::uint32_t pairs = c.Count() & ~1u;
  int r = c.SetCount(pairs);
  if (!r) r = c.Append(Name.c_str());
  if (!r) {
    r = c.Append(Value.c_str());
    if (r) c.SetCount(pairs);
  }
  TreatErr(r);
}

// ---- properties ----

AnsiString TcorvHTTPEngineComponent::FAuthorization() { return Text(http_->Authorization); }

void TcorvHTTPEngineComponent::FSetAuthorization(AnsiString value) {
  TreatErr(http_->Authorization.SetText(value.c_str()));
}

AnsiString TcorvHTTPEngineComponent::FContentType() { return Text(http_->ContentType); }

void TcorvHTTPEngineComponent::FSetContentType(AnsiString value) {
  TreatErr(http_->ContentType.SetText(value.c_str()));
}

int TcorvHTTPEngineComponent::FCookieCount() { return static_cast<int>(http_->Cookies.Count() / 2); }

void TcorvHTTPEngineComponent::FSetCookieCount(int value) {
  // A negative count empties the list.
  const std::uint64_t entries = value > 0 ? std::uint64_t{2} * static_cast<std::uint64_t>(value) : 0;
  TreatErr(entries > 0xFFFFFFFFu ? CORV_OUT_OF_MEMORY : http_->Cookies.SetCount(static_cast<std::uint32_t>(entries)));
}

AnsiString TcorvHTTPEngineComponent::FCookieName(unsigned short CookieIndex) {
  CheckIndexForRead(CookieIndex, http_->Cookies.Count() / 2, kCookieRange, "Invalid array index CookieIndex");
  return Entry(http_->Cookies, 2u * CookieIndex - 2);
}

void TcorvHTTPEngineComponent::FSetCookieName(unsigned short CookieIndex, AnsiString value) {
  DynStrSeq& c = http_->Cookies;
  if (!CheckIndexForWrite(CookieIndex, c.Count() / 2, kCookieRange, "Invalid cookie index (out of range)."))
    return;
  TreatErr(c.Set(2u * CookieIndex - 2, value.c_str()));
}

AnsiString TcorvHTTPEngineComponent::FCookieValue(unsigned short CookieIndex) {
  CheckIndexForRead(CookieIndex, http_->Cookies.Count() / 2, kCookieRange, "Invalid array index CookieIndex");
  return Entry(http_->Cookies, 2u * CookieIndex - 1);
}

void TcorvHTTPEngineComponent::FSetCookieValue(unsigned short CookieIndex, AnsiString value) {
  DynStrSeq& c = http_->Cookies;
  if (!CheckIndexForWrite(CookieIndex, c.Count() / 2, kCookieRange, "Invalid cookie index (out of range)."))
    return;
  TreatErr(c.Set(2u * CookieIndex - 1, value.c_str()));
}

AnsiString TcorvHTTPEngineComponent::FFrom() { return Text(http_->From); }

void TcorvHTTPEngineComponent::FSetFrom(AnsiString value) { TreatErr(http_->From.SetText(value.c_str())); }

AnsiString TcorvHTTPEngineComponent::FLocalFile() { return Text(http_->LocalFile); }

void TcorvHTTPEngineComponent::FSetLocalFile(AnsiString value) { TreatErr(http_->LocalFile.SetText(value.c_str())); }

long TcorvHTTPEngineComponent::FMaxTransferredData() { return static_cast<long>(http_->MaxTransferredData); }

void TcorvHTTPEngineComponent::FSetMaxTransferredData(long value) {
  http_->MaxTransferredData = static_cast<std::uint32_t>(value);
  TreatErr(0);
}

AnsiString TcorvHTTPEngineComponent::FOtherHeaders() { return Text(http_->OtherHeaders); }

void TcorvHTTPEngineComponent::FSetOtherHeaders(AnsiString value) {
  TreatErr(http_->OtherHeaders.SetText(value.c_str()));
}

AnsiString TcorvHTTPEngineComponent::FPassword() { return Text(http_->Password); }

void TcorvHTTPEngineComponent::FSetPassword(AnsiString value) { TreatErr(http_->SetPassword(value.c_str())); }

AnsiString TcorvHTTPEngineComponent::FProxyAuthorization() { return Text(http_->ProxyAuthorization); }

void TcorvHTTPEngineComponent::FSetProxyAuthorization(AnsiString value) {
  TreatErr(http_->ProxyAuthorization.SetText(value.c_str()));
}

AnsiString TcorvHTTPEngineComponent::FProxyPassword() { return Text(http_->ProxyPassword); }

void TcorvHTTPEngineComponent::FSetProxyPassword(AnsiString value) {
  TreatErr(http_->SetProxyPassword(value.c_str()));
}

unsigned short TcorvHTTPEngineComponent::FProxyPort() { return http_->ProxyPort; }

void TcorvHTTPEngineComponent::FSetProxyPort(unsigned short value) {
  http_->ProxyPort = value;
  TreatErr(0);
}

AnsiString TcorvHTTPEngineComponent::FProxyServer() { return Text(http_->ProxyServer); }

void TcorvHTTPEngineComponent::FSetProxyServer(AnsiString value) {
  TreatErr(http_->ProxyServer.SetText(value.c_str()));
}

AnsiString TcorvHTTPEngineComponent::FProxyUser() { return Text(http_->ProxyUser); }

void TcorvHTTPEngineComponent::FSetProxyUser(AnsiString value) { TreatErr(http_->SetProxyUser(value.c_str())); }

AnsiString TcorvHTTPEngineComponent::FReferer() { return Text(http_->Referer); }

void TcorvHTTPEngineComponent::FSetReferer(AnsiString value) { TreatErr(http_->Referer.SetText(value.c_str())); }

AnsiString TcorvHTTPEngineComponent::FStatusLine() { return Text(http_->StatusLine); }

AnsiString TcorvHTTPEngineComponent::FTransferredData() { return Bytes(http_->TransferredData); }

AnsiString TcorvHTTPEngineComponent::FTransferredHeaders() { return Text(http_->TransferredHeaders); }

AnsiString TcorvHTTPEngineComponent::FURL() { return Text(http_->URL); }

void TcorvHTTPEngineComponent::FSetURL(AnsiString value) { TreatErr(http_->SetURL(value.c_str(), false)); }

AnsiString TcorvHTTPEngineComponent::FUser() { return Text(http_->User); }

void TcorvHTTPEngineComponent::FSetUser(AnsiString value) { TreatErr(http_->SetUser(value.c_str())); }

AnsiString TcorvHTTPEngineComponent::FUserAgent() { return Text(http_->UserAgent); }

void TcorvHTTPEngineComponent::FSetUserAgent(AnsiString value) { TreatErr(http_->UserAgent.SetText(value.c_str())); }
