#include "corv/http/Corvwebform.h"

#include "corv/core/Winsock.h"
#include "corv/http/HTTPComponentEngine.h"
#include "corv/http/WebForm.h"
#include "platform/vcl/core/typinfo.h"

// Implements the engine's event interface for one component and embeds its engine.
class WebFormCThunk final : public WebFormEvts {
 public:
  using Events = WebFormEvts;
  WebFormCThunk() = default;
  ~WebFormCThunk() = default;
  WebFormCThunk(const WebFormCThunk&) = delete;
  WebFormCThunk& operator=(const WebFormCThunk&) = delete;

  // Each operation does nothing without an owner and returns 0 either way.
  int Connected(int code, const char* description) override {
    if (Owner) Owner->FireConnected(static_cast<WORD>(code), const_cast<char*>(description));
    return 0;
  }
  int Disconnected(int code, const char* description) override {
    if (Owner) Owner->FireDisconnected(static_cast<WORD>(code), const_cast<char*>(description));
    return 0;
  }
  int EndTransfer() override {
    if (Owner) Owner->FireEndTransfer();
    return 0;
  }
  int Error(int code, const char* description) override {
    if (Owner) Owner->FireError(static_cast<WORD>(code), const_cast<char*>(description));
    return 0;
  }
  int Header(const char* field, const char* value) override {
    if (Owner) Owner->FireHeader(const_cast<char*>(field), const_cast<char*>(value));
    return 0;
  }
  int SetCookie(const char* name, const char* value, const char* expires, const char* domain,
                const char* path, int secure) override {
    if (Owner)
      Owner->FireSetCookie(const_cast<char*>(name), const_cast<char*>(value), const_cast<char*>(expires),
                           const_cast<char*>(domain), const_cast<char*>(path), secure != 0);
    return 0;
  }
  int StartTransfer() override {
    if (Owner) Owner->FireStartTransfer();
    return 0;
  }
  int Transfer(std::uint32_t bytesTransferred, const char* text, std::uint16_t length) override {
    // The block is the engine's own buffer: handed on without a copy.
    static char empty[1] = {0};
    if (Owner)
      Owner->FireTransfer(static_cast<long>(bytesTransferred), text ? const_cast<char*>(text) : empty,
                          text ? length : 0);
    return 0;
  }

  static constexpr const char* kOutOfMemory = "WebForm. Out of memory.";
  TcorvWebForm* Owner = nullptr;
  // Engine actions of the component on the stack, and whether the component is gone: a
  // component destroyed inside its own submit leaves the thunk to the outermost call.
  int Depth = 0;
  bool Orphaned = false;
  CWebForm Engine;
};

namespace {

constexpr int kFormVarRange = 159;

const bool registered = [] {
  CorvwebformWinsock();
  vcl::RegisterEnum<TcorvWebFormActions>(
      {{"webformIdle", webformIdle}, {"webformSubmit", webformSubmit}, {"webformReset", webformReset}});
  vcl::RegisterEnum<TcorvWebFormEncodings>({{"encURLEncoding", encURLEncoding},
                                            {"encMultipartFormData", encMultipartFormData},
                                            {"encQueryString", encQueryString}});
  using W = TcorvWebForm;
  auto b = vcl::RegisterClass<W, TcorvComponent>("TcorvWebForm");
  b.Property("Action", &W::FAction, &W::FSetAction)
      .NotStored()
      .Property("Encoding", &W::FEncoding, &W::FSetEncoding)
      .Default(encURLEncoding);
  RegisterHTTPEngineProperties(b);
  return true;
}();

}  // namespace

CWinsock& CorvwebformWinsock() {
  static CWinsock record;
  return record;
}

namespace Corvwebform {
void Register() { RegisterComponents<TcorvWebForm>("Corvane"); }
}  // namespace Corvwebform

// ---- construction ----

TcorvWebForm::TcorvWebForm(TComponent* Owner) : TcorvHTTPEngineComponent(Owner, "WebForm") {
  StartThunk(
      FThunk, CorvwebformWinsock(), "WebForm",
      // The MIME member starts Windows Sockets through this unit's record too.
      [](CWebForm& e) { e.Mime.WinsockRecord = &CorvwebformWinsock(); },
      [this](CWebForm& e) { TreatErr(e.SetEncoding(kWebFormURLEncoded)); });
}

TcorvWebForm::~TcorvWebForm() {
  AttachEngine(nullptr);
  WebFormCThunk* t = FThunk;
  FThunk = nullptr;
  ReleaseThunk(t, kWebFormIdle);
}

// ---- events ----

void TcorvWebForm::FireEndTransfer() {
  if (OnEndTransfer) OnEndTransfer(this);
}

void TcorvWebForm::FireStartTransfer() {
  if (OnStartTransfer) OnStartTransfer(this);
}

void TcorvWebForm::FireTransfer(long BytesTransferred, char* Text, unsigned short lenText) {
  if (OnTransfer) OnTransfer(this, BytesTransferred, Text, lenText);
}

// ---- methods ----

void TcorvWebForm::AddFormVar(AnsiString Name, AnsiString Value) {
  TreatErr(FThunk->Engine.AddFormVar(Name.c_str(), Value.c_str()));
}

void TcorvWebForm::RunAction(int action, const char* url) { RunEngineAction(FThunk, action, url); }

void TcorvWebForm::Interrupt() { RunAction(kWebFormIdle, nullptr); }

void TcorvWebForm::Reset() { RunAction(kWebFormReset, nullptr); }

void TcorvWebForm::Submit() { RunAction(kWebFormSubmit, nullptr); }

void TcorvWebForm::SubmitTo(AnsiString URL) { RunAction(kWebFormSubmit, URL.c_str()); }

// ---- properties ----

TcorvWebFormActions TcorvWebForm::FAction() {
  return FThunk->Engine.Busy ? webformSubmit : webformIdle;
}

void TcorvWebForm::FSetAction(TcorvWebFormActions value) { RunAction(value, nullptr); }

TcorvWebFormEncodings TcorvWebForm::FEncoding() {
  return static_cast<TcorvWebFormEncodings>(FThunk->Engine.Encoding);
}

void TcorvWebForm::FSetEncoding(TcorvWebFormEncodings value) { TreatErr(FThunk->Engine.SetEncoding(value)); }

int TcorvWebForm::FFormVarCount() { return static_cast<int>(FThunk->Engine.FormVarNames.Count()); }

void TcorvWebForm::FSetFormVarCount(int value) {
  CWebForm& e = FThunk->Engine;
  const auto n = static_cast<std::uint16_t>(value);
  int r = e.FormVarNames.SetCount(n);
  if (!r) r = e.FormVarValues.SetCount(n);
  TreatErr(r);
}

AnsiString TcorvWebForm::FFormVarNames(unsigned short VarIndex) {
  CheckIndexForRead(VarIndex, FThunk->Engine.FormVarNames.Count(), kFormVarRange, "Invalid array index VarIndex");
  return Entry(FThunk->Engine.FormVarNames, VarIndex - 1u);
}

void TcorvWebForm::FSetFormVarNames(unsigned short VarIndex, AnsiString value) {
  DynStrSeq& names = FThunk->Engine.FormVarNames;
  if (!CheckIndexForWrite(VarIndex, names.Count(), kFormVarRange, "Invalid form variable index (out of range)."))
    return;
  TreatErr(names.Set(VarIndex - 1u, value.c_str()));
}

AnsiString TcorvWebForm::FFormVarValues(unsigned short VarIndex) {
  CheckIndexForRead(VarIndex, FThunk->Engine.FormVarNames.Count(), kFormVarRange, "Invalid array index VarIndex");
  return Entry(FThunk->Engine.FormVarValues, VarIndex - 1u);
}

void TcorvWebForm::FSetFormVarValues(unsigned short VarIndex, AnsiString value) {
  CWebForm& e = FThunk->Engine;
  if (!CheckIndexForWrite(VarIndex, e.FormVarNames.Count(), kFormVarRange,
                          "Invalid form variable index (out of range).")) {
    return;
  }
  // A values list left shorter than the names grows to reach the index.
  int r = e.FormVarValues.Count() < VarIndex ? e.FormVarValues.SetCount(VarIndex) : 0;
  if (!r) r = e.FormVarValues.Set(VarIndex - 1u, value.c_str());
  TreatErr(r);
}
