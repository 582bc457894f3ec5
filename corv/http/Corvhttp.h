// The HTTP client component: one HTTP/1.0 engine behind published properties, request
// methods and events. Transfer events carry a direction: 0 while a request body is sent, 1
// while the reply body arrives. Every failure is raised through TreatErr: ECORVCore with the
// engine's code and text, or EOutOfMemory("HTTP. Out of memory.").
#pragma once
#include <cstdint>

#include "corv/http/HTTPComponent.h"

class HTTPCThunk;
class CWinsock;

enum TcorvHTTPActions : std::uint8_t {
  httpIdle = 0,
  httpGet = 1,
  httpPost = 2,
  httpHead = 3,
  httpResetHeaders = 4,
  httpPut = 5,
};
// frNever, frAlways, frSameScheme: the engine's own values.
using TcorvHTTPFollowRedirects = THTTPFollowRedirects;

using TcorvHTTPDirectionEvent = Closure<void(TObject* Sender, int Direction)>;
// Text is the engine's own block of lenText bytes, followed by a NUL during the call; it is
// valid only during the call. Blocks sent (Direction 0) arrive as "" with lenText 0.
using TcorvHTTPTransferEvent =
    Closure<void(TObject* Sender, int Direction, long BytesTransferred, char* Text, unsigned short lenText)>;

class TcorvHTTP : public TcorvHTTPEngineComponent {
 public:
  explicit TcorvHTTP(TComponent* Owner);
  // May run inside one of this component's own handlers: a running request is then stopped
  // and its engine freed once the request's call has unwound.
  ~TcorvHTTP() override;

  // Methods; each ends in TreatErr. The request methods return when the reply is complete.
  void Get(AnsiString URL);
  void Head(AnsiString URL);
  void Post(AnsiString URL);
  void Put(AnsiString URL);
  void Interrupt() override;
  void ResetHeaders();

  // Called by the thunk for the directed engine events; each calls its handler when one is
  // assigned.
  virtual void FireEndTransfer(int Direction);
  virtual void FireStartTransfer(int Direction);
  virtual void FireTransfer(int Direction, long BytesTransferred, char* Text, unsigned short lenText);

  TcorvHTTPDirectionEvent OnEndTransfer;
  TcorvHTTPDirectionEvent OnStartTransfer;
  TcorvHTTPTransferEvent OnTransfer;

  // Readers and writers; those of the request fields both components share, AddCookie and
  // the undirected events come from TcorvHTTPEngineComponent.
  AnsiString FAccept();
  void FSetAccept(AnsiString value);
  TcorvHTTPActions FAction();
  void FSetAction(TcorvHTTPActions value);
  AnsiString FAttachedFile();
  void FSetAttachedFile(AnsiString value);
  TcorvHTTPFollowRedirects FFollowRedirects();
  void FSetFollowRedirects(TcorvHTTPFollowRedirects value);
  AnsiString FHTTPMethod();
  void FSetHTTPMethod(AnsiString value);
  AnsiString FHTTPVersion();
  void FSetHTTPVersion(AnsiString value);
  AnsiString FIfModifiedSince();
  void FSetIfModifiedSince(AnsiString value);
  AnsiString FPostData();
  void FSetPostData(AnsiString value);
  void SetPostData(char* Data, unsigned short Length);
  AnsiString FPragma();
  void FSetPragma(AnsiString value);
  AnsiString FURLPath();
  void FSetURLPath(AnsiString value);
  unsigned short FURLPort();
  void FSetURLPort(unsigned short value);
  AnsiString FURLScheme();
  void FSetURLScheme(AnsiString value);
  AnsiString FURLServer();
  void FSetURLServer(AnsiString value);

  using H = TcorvHTTP;
  Property<H, AnsiString, &H::FAccept, &H::FSetAccept> Accept{this};
  Property<H, TcorvHTTPActions, &H::FAction, &H::FSetAction> Action{this};
  Property<H, AnsiString, &H::FAttachedFile, &H::FSetAttachedFile> AttachedFile{this};
  Property<H, AnsiString, &H::FAuthorization, &H::FSetAuthorization> Authorization{this};
  Property<TcorvComponent, bool, &TcorvComponent::FConnected> Connected{this};
  Property<H, AnsiString, &H::FContentType, &H::FSetContentType> ContentType{this};
  Property<H, int, &H::FCookieCount, &H::FSetCookieCount> CookieCount{this};
  IndexedProperty<H, AnsiString, &H::FCookieName, &H::FSetCookieName> CookieName{this};
  IndexedProperty<H, AnsiString, &H::FCookieValue, &H::FSetCookieValue> CookieValue{this};
  Property<H, TcorvHTTPFollowRedirects, &H::FFollowRedirects, &H::FSetFollowRedirects> FollowRedirects{this};
  Property<H, AnsiString, &H::FFrom, &H::FSetFrom> From{this};
  Property<H, AnsiString, &H::FHTTPMethod, &H::FSetHTTPMethod> HTTPMethod{this};
  Property<H, AnsiString, &H::FHTTPVersion, &H::FSetHTTPVersion> HTTPVersion{this};
  Property<H, AnsiString, &H::FIfModifiedSince, &H::FSetIfModifiedSince> IfModifiedSince{this};
  Property<H, AnsiString, &H::FLocalFile, &H::FSetLocalFile> LocalFile{this};
  Property<H, long, &H::FMaxTransferredData, &H::FSetMaxTransferredData> MaxTransferredData{this};
  Property<H, AnsiString, &H::FOtherHeaders, &H::FSetOtherHeaders> OtherHeaders{this};
  Property<H, AnsiString, &H::FPassword, &H::FSetPassword> Password{this};
  Property<H, AnsiString, &H::FPostData, &H::FSetPostData> PostData{this};
  Property<H, AnsiString, &H::FPragma, &H::FSetPragma> Pragma{this};
  Property<H, AnsiString, &H::FProxyAuthorization, &H::FSetProxyAuthorization> ProxyAuthorization{this};
  Property<H, AnsiString, &H::FProxyPassword, &H::FSetProxyPassword> ProxyPassword{this};
  Property<H, unsigned short, &H::FProxyPort, &H::FSetProxyPort> ProxyPort{this};
  Property<H, AnsiString, &H::FProxyServer, &H::FSetProxyServer> ProxyServer{this};
  Property<H, AnsiString, &H::FProxyUser, &H::FSetProxyUser> ProxyUser{this};
  Property<H, AnsiString, &H::FReferer, &H::FSetReferer> Referer{this};
  Property<H, AnsiString, &H::FStatusLine> StatusLine{this};
  Property<H, AnsiString, &H::FTransferredData> TransferredData{this};
  Property<H, AnsiString, &H::FTransferredHeaders> TransferredHeaders{this};
  Property<H, AnsiString, &H::FURL, &H::FSetURL> URL{this};
  Property<H, AnsiString, &H::FURLPath, &H::FSetURLPath> URLPath{this};
  Property<H, unsigned short, &H::FURLPort, &H::FSetURLPort> URLPort{this};
  Property<H, AnsiString, &H::FURLScheme, &H::FSetURLScheme> URLScheme{this};
  Property<H, AnsiString, &H::FURLServer, &H::FSetURLServer> URLServer{this};
  Property<H, AnsiString, &H::FUser, &H::FSetUser> User{this};
  Property<H, AnsiString, &H::FUserAgent, &H::FSetUserAgent> UserAgent{this};

 private:
  void RunAction(int action, const char* url);
  HTTPCThunk* FThunk = nullptr;
};

// The unit's Windows Sockets record: every HTTP component's engine starts Windows Sockets
// through it.
CWinsock& CorvhttpWinsock();

namespace Corvhttp {
// Puts TcorvHTTP on the component palette page "Corvane".
void Register();
}  // namespace Corvhttp
