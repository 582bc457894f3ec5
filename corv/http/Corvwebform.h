// The web form component: fills a list of named variables, submits them to a URL in one of
// three encodings through its web form engine and reports the response through events and
// read-only properties. Every failure is raised through TreatErr: ECORVCore with the engine's
// code and text, or EOutOfMemory("WebForm. Out of memory.").
#pragma once
#include <cstdint>

#include "corv/http/HTTPComponent.h"

class WebFormCThunk;
class CWinsock;

enum TcorvWebFormActions : std::uint8_t { webformIdle = 0, webformSubmit = 1, webformReset = 2 };
enum TcorvWebFormEncodings : std::uint8_t {
  encURLEncoding = 0,
  encMultipartFormData = 1,
  encQueryString = 2,
};

// Text is the engine's own block of lenText bytes, followed by a NUL during the call; it is
// valid only during the call.
using TcorvWebFormTransferEvent =
    Closure<void(TObject* Sender, long BytesTransferred, char* Text, unsigned short lenText)>;

class TcorvWebForm : public TcorvHTTPEngineComponent {
 public:
  explicit TcorvWebForm(TComponent* Owner);
  ~TcorvWebForm() override;

  // Methods; each ends in TreatErr.
  void AddFormVar(AnsiString Name, AnsiString Value);
  void Interrupt() override;
  void Reset();
  void Submit();
  void SubmitTo(AnsiString URL);

  // Called by the thunk for the response's transfer events; each calls its handler when one
  // is assigned.
  virtual void FireEndTransfer();
  virtual void FireStartTransfer();
  virtual void FireTransfer(long BytesTransferred, char* Text, unsigned short lenText);

  TNotifyEvent OnEndTransfer;
  TNotifyEvent OnStartTransfer;
  TcorvWebFormTransferEvent OnTransfer;

  // Readers and writers; those of the request fields both components share, AddCookie and
  // the undirected events come from TcorvHTTPEngineComponent.
  TcorvWebFormActions FAction();
  void FSetAction(TcorvWebFormActions value);
  TcorvWebFormEncodings FEncoding();
  void FSetEncoding(TcorvWebFormEncodings value);
  int FFormVarCount();
  void FSetFormVarCount(int value);
  AnsiString FFormVarNames(unsigned short VarIndex);
  void FSetFormVarNames(unsigned short VarIndex, AnsiString value);
  AnsiString FFormVarValues(unsigned short VarIndex);
  void FSetFormVarValues(unsigned short VarIndex, AnsiString value);

  using W = TcorvWebForm;
  Property<W, TcorvWebFormActions, &W::FAction, &W::FSetAction> Action{this};
  Property<W, AnsiString, &W::FAuthorization, &W::FSetAuthorization> Authorization{this};
  Property<TcorvComponent, bool, &TcorvComponent::FConnected> Connected{this};
  Property<W, AnsiString, &W::FContentType, &W::FSetContentType> ContentType{this};
  Property<W, int, &W::FCookieCount, &W::FSetCookieCount> CookieCount{this};
  IndexedProperty<W, AnsiString, &W::FCookieName, &W::FSetCookieName> CookieName{this};
  IndexedProperty<W, AnsiString, &W::FCookieValue, &W::FSetCookieValue> CookieValue{this};
  Property<W, TcorvWebFormEncodings, &W::FEncoding, &W::FSetEncoding> Encoding{this};
  Property<W, int, &W::FFormVarCount, &W::FSetFormVarCount> FormVarCount{this};
  IndexedProperty<W, AnsiString, &W::FFormVarNames, &W::FSetFormVarNames> FormVarNames{this};
  IndexedProperty<W, AnsiString, &W::FFormVarValues, &W::FSetFormVarValues> FormVarValues{this};
  Property<W, AnsiString, &W::FFrom, &W::FSetFrom> From{this};
  Property<W, AnsiString, &W::FLocalFile, &W::FSetLocalFile> LocalFile{this};
  Property<W, long, &W::FMaxTransferredData, &W::FSetMaxTransferredData> MaxTransferredData{this};
  Property<W, AnsiString, &W::FOtherHeaders, &W::FSetOtherHeaders> OtherHeaders{this};
  Property<W, AnsiString, &W::FPassword, &W::FSetPassword> Password{this};
  Property<W, AnsiString, &W::FProxyAuthorization, &W::FSetProxyAuthorization> ProxyAuthorization{this};
  Property<W, AnsiString, &W::FProxyPassword, &W::FSetProxyPassword> ProxyPassword{this};
  Property<W, unsigned short, &W::FProxyPort, &W::FSetProxyPort> ProxyPort{this};
  Property<W, AnsiString, &W::FProxyServer, &W::FSetProxyServer> ProxyServer{this};
  Property<W, AnsiString, &W::FProxyUser, &W::FSetProxyUser> ProxyUser{this};
  Property<W, AnsiString, &W::FReferer, &W::FSetReferer> Referer{this};
  Property<W, AnsiString, &W::FStatusLine> StatusLine{this};
  Property<W, AnsiString, &W::FTransferredData> TransferredData{this};
  Property<W, AnsiString, &W::FTransferredHeaders> TransferredHeaders{this};
  Property<W, AnsiString, &W::FURL, &W::FSetURL> URL{this};
  Property<W, AnsiString, &W::FUser, &W::FSetUser> User{this};
  Property<W, AnsiString, &W::FUserAgent, &W::FSetUserAgent> UserAgent{this};

 private:
  void RunAction(int action, const char* url);

  WebFormCThunk* FThunk = nullptr;
};

// The unit's Windows Sockets record: every web form engine starts Windows Sockets through it.
CWinsock& CorvwebformWinsock();

namespace Corvwebform {
// Puts TcorvWebForm on the component palette page "Corvane".
void Register();
}  // namespace Corvwebform
