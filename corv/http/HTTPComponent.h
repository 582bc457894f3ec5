// What the HTTP-based components have in common over their CHTTP engine: the request's
// URL, proxy, credentials, headers and cookies, the reply's read-only texts, the events that
// carry no direction, the engine's initial values, and running an engine action in a way
// that survives the component being destroyed by one of its own handlers.
#pragma once
#include <cstdint>

#include "corv/core/Component.h"
#include "corv/core/DynStrSeq.h"
#include "corv/http/HTTPRequest.h"
#include "platform/vcl/core/typinfo.h"

class CHTTP;
class CWinsock;

class TcorvHTTPEngineComponent : public TcorvComponent {
 public:
  void AddCookie(AnsiString Name, AnsiString Value);

  // Called by the thunk for each engine event; each calls its handler, when one is assigned,
  // with copies of the texts.
  virtual void FireConnected(int ErrorCode, char* Description);
  virtual void FireDisconnected(int ErrorCode, char* Description);
  virtual void FireError(int ErrorCode, char* Description);
  virtual void FireHeader(char* Field, char* Value);
  virtual void FireSetCookie(char* Name, char* Value, char* Expires, char* Domain, char* Path, bool Secure);

  TcorvErrorEvent OnConnected;
  TcorvErrorEvent OnDisconnected;
  TcorvErrorEvent OnError;
  TcorvHeaderEvent OnHeader;
  TcorvSetCookieEvent OnSetCookie;

  AnsiString FAuthorization();
  void FSetAuthorization(AnsiString value);
  AnsiString FContentType();
  void FSetContentType(AnsiString value);
  int FCookieCount();
  void FSetCookieCount(int value);
  AnsiString FCookieName(unsigned short CookieIndex);
  void FSetCookieName(unsigned short CookieIndex, AnsiString value);
  AnsiString FCookieValue(unsigned short CookieIndex);
  void FSetCookieValue(unsigned short CookieIndex, AnsiString value);
  AnsiString FFrom();
  void FSetFrom(AnsiString value);
  AnsiString FLocalFile();
  void FSetLocalFile(AnsiString value);
  long FMaxTransferredData();
  void FSetMaxTransferredData(long value);
  AnsiString FOtherHeaders();
  void FSetOtherHeaders(AnsiString value);
  AnsiString FPassword();
  void FSetPassword(AnsiString value);
  AnsiString FProxyAuthorization();
  void FSetProxyAuthorization(AnsiString value);
  AnsiString FProxyPassword();
  void FSetProxyPassword(AnsiString value);
  unsigned short FProxyPort();
  void FSetProxyPort(unsigned short value);
  AnsiString FProxyServer();
  void FSetProxyServer(AnsiString value);
  AnsiString FProxyUser();
  void FSetProxyUser(AnsiString value);
  AnsiString FReferer();
  void FSetReferer(AnsiString value);
  AnsiString FStatusLine();
  AnsiString FTransferredData();
  AnsiString FTransferredHeaders();
  AnsiString FURL();
  void FSetURL(AnsiString value);
  AnsiString FUser();
  void FSetUser(AnsiString value);
  AnsiString FUserAgent();
  void FSetUserAgent(AnsiString value);

 protected:
  using TcorvComponent::TcorvComponent;

  // Reader values of engine fields: a text up to its NUL, a binary block whole, an entry of
  // a list whole.
  static AnsiString Text(const DynStr& s) { return AnsiString(s.Text()); }
  static AnsiString Bytes(const DynStr& s) { return AnsiString(s.Text(), static_cast<int>(s.Length())); }
  static AnsiString Entry(const DynStrSeq& list, std::uint32_t i) {
    return AnsiString(list.Get(i), static_cast<int>(list.GetLength(i)));
  }

  // Creates the component's thunk (an event sink of type Thunk::Events that embeds Engine
  // and points back at its Owner) and stores it in slot once its engine is ready. The engine
  // starts Windows Sockets through record; prepare(engine) runs before its Init, and
  // initialise(engine) sets the component's own initial values before the shared ones. word
  // names the component in the construction failures ("HTTP"). This and RunEngineAction are
  // defined in HTTPComponentEngine.h, for the component units.
  template <class Thunk, class Prepare, class Initialise>
  void StartThunk(Thunk*& slot, CWinsock& record, const char* word, Prepare prepare, Initialise initialise);

  // Runs an engine action of the thunk t (which embeds Engine and counts Depth), first
  // setting url as a new URL when one is given. The action may pump messages: a component
  // destroyed by a handler meanwhile is not touched again, and the outermost call frees t.
  template <class Thunk>
  void RunEngineAction(Thunk* t, int action, const char* url);

 private:
  void AttachHTTPEngine(CHTTP* engine);
  // The initial values of the shared properties, through the writers' engine operations; a
  // failure is reported as the writer would report it.
  void SetInitialValues();
  CHTTP* http_ = nullptr;
};

// Registers the published properties from LocalFile to UserAgent with their defaults, then
// the events, for a component class C built on TcorvHTTPEngineComponent.
template <class C>
vcl::ClassBuilder<C>& RegisterHTTPEngineProperties(vcl::ClassBuilder<C>& b) {
  using B = TcorvHTTPEngineComponent;
  const AnsiString none;
  return b.Property("LocalFile", &B::FLocalFile, &B::FSetLocalFile)
      .Default(none)
      .Property("MaxTransferredData", &B::FMaxTransferredData, &B::FSetMaxTransferredData)
      .Default(4096L)
      .Property("Password", &B::FPassword, &B::FSetPassword)
      .Default(none)
      .Property("ProxyPassword", &B::FProxyPassword, &B::FSetProxyPassword)
      .Default(none)
      .Property("ProxyPort", &B::FProxyPort, &B::FSetProxyPort)
      .Default(static_cast<unsigned short>(80))
      .Property("ProxyServer", &B::FProxyServer, &B::FSetProxyServer)
      .Default(none)
      .Property("ProxyUser", &B::FProxyUser, &B::FSetProxyUser)
      .Default(none)
      .Property("URL", &B::FURL, &B::FSetURL)
      .Default(none)
      .Property("User", &B::FUser, &B::FSetUser)
      .Default(none)
      .Property("UserAgent", &B::FUserAgent, &B::FSetUserAgent)
      .Default(none)
      .Event("OnConnected", static_cast<TcorvErrorEvent C::*>(&B::OnConnected))
      .Event("OnDisconnected", static_cast<TcorvErrorEvent C::*>(&B::OnDisconnected))
      .Event("OnEndTransfer", &C::OnEndTransfer)
      .Event("OnError", static_cast<TcorvErrorEvent C::*>(&B::OnError))
      .Event("OnHeader", static_cast<TcorvHeaderEvent C::*>(&B::OnHeader))
      .Event("OnSetCookie", static_cast<TcorvSetCookieEvent C::*>(&B::OnSetCookie))
      .Event("OnStartTransfer", &C::OnStartTransfer)
      .Event("OnTransfer", &C::OnTransfer);
}
