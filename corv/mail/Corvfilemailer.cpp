#include "corv/mail/Corvfilemailer.h"

#include <memory>
#include <new>

#include "corv/core/Winsock.h"
#include "corv/mail/FileMailer.h"
#include "platform/vcl/core/typinfo.h"

// Implements the engine's event interface for one component and embeds its engine.
class FileMailerCThunk final : public FileMailerEvts {
 public:
  FileMailerCThunk() = default;
  ~FileMailerCThunk() = default;
  FileMailerCThunk(const FileMailerCThunk&) = delete;
  FileMailerCThunk& operator=(const FileMailerCThunk&) = delete;

  int EndTransfer() override {
    if (Owner) Owner->FireEndTransfer();
    return 0;
  }
  int Error(std::uint16_t code, const char* text) override {
    if (Owner) Owner->FireError(code, const_cast<char*>(text));
    return 0;
  }
  int PITrail(std::uint16_t direction, const char* text) override {
    if (Owner) Owner->FirePITrail(direction, const_cast<char*>(text));
    return 0;
  }
  int StartTransfer() override {
    if (Owner) Owner->FireStartTransfer();
    return 0;
  }
  int Transfer(std::uint32_t bytes) override {
    if (Owner) Owner->FireTransfer(static_cast<long>(bytes));
    return 0;
  }

  TcorvFileMailer* Owner = nullptr;
  // Engine actions of the component on the stack, and whether the component is gone.
  int Depth = 0;
  bool Orphaned = false;
  CFileMailer Engine;
};

namespace {

constexpr int kAttachmentRange = 169;

AnsiString Bytes(const DynStr& s) { return AnsiString(s.Text(), static_cast<int>(s.Length())); }

const bool registered = [] {
  CorvfilemailerWinsock();
  vcl::RegisterEnum<TcorvFileMailerActions>({{"filemailerIdle", filemailerIdle}, {"filemailerSend", filemailerSend}});
  using M = TcorvFileMailer;
  const AnsiString none;
  vcl::RegisterClass<M, TcorvComponent>("TcorvFileMailer")
      .Property("Action", &M::FAction, &M::FSetAction)
      .NotStored()
      .Property("AttachmentCount", &M::FAttachmentCount, &M::FSetAttachmentCount)
      .Default(0)
      .Property("BCc", &M::FBCc, &M::FSetBCc)
      .Default(none)
      .Property("Cc", &M::FCc, &M::FSetCc)
      .Default(none)
      .Property("Date", &M::FDate, &M::FSetDate)
      .Default(none)
      .Property("From", &M::FFrom, &M::FSetFrom)
      .Default(none)
      .Property("LastReply", &M::FLastReply, &CORVCore::SetDummyAnsiString)
      .NotStored()
      .Property("MailServer", &M::FMailServer, &M::FSetMailServer)
      .Default(none)
      .Property("MessageDate", &M::FDate, &M::FSetDate)
      .Default(none)
      .Property("MessageText", &M::FMessageText, &M::FSetMessageText)
      .Default(none)
      .Property("ReplyTo", &M::FReplyTo, &M::FSetReplyTo)
      .Default(none)
      .Property("SendTo", &M::FSendTo, &M::FSetSendTo)
      .Default(none)
      .Property("Subject", &M::FSubject, &M::FSetSubject)
      .Default(none)
      .Event("OnEndTransfer", &M::OnEndTransfer)
      .Event("OnError", &M::OnError)
      .Event("OnPITrail", &M::OnPITrail)
      .Event("OnStartTransfer", &M::OnStartTransfer)
      .Event("OnTransfer", &M::OnTransfer);
  return true;
}();

}  // namespace

CWinsock& CorvfilemailerWinsock() {
  static CWinsock record;
  return record;
}

namespace Corvfilemailer {
void Register() { RegisterComponents<TcorvFileMailer>("Corvane"); }
}  // namespace Corvfilemailer

// ---- construction ----

TcorvFileMailer::TcorvFileMailer(TComponent* Owner) : TcorvComponent(Owner, "FileMailer") { Setup(); }

TcorvFileMailer::TcorvFileMailer(TComponent* Owner, bool, char*) : TcorvComponent(Owner, "FileMailer") { Setup(); }

void TcorvFileMailer::Setup() {
  std::unique_ptr<FileMailerCThunk> thunk(new (std::nothrow) FileMailerCThunk);
  if (!thunk) throw EOutOfMemory("Error initializing TcorvFileMailer");
  thunk->Owner = this;
  CFileMailer& e = thunk->Engine;
  e.WinsockRecord = &CorvfilemailerWinsock();
  e.Mime.WinsockRecord = &CorvfilemailerWinsock();
  e.Mime.boundaryPrefix = "--boundary";
  e.Busy = 0;
  if (!e.Mime.Init(true) || !e.CSMTP::Init()) throw EOutOfMemory("could not initialize FileMailer (out of memory)");
  e.EventSink = static_cast<FileMailerEvts*>(thunk.get());
  AttachEngine(&e);

  TreatErr(e.Attachments.SetCount(0));
  e.BCc.Set(0u);
  e.Cc.Set(0u);
  e.Date.Set(0u);
  TreatErr(e.Firewall.SetFirewallHost(""));
  TreatErr(e.Firewall.SetFirewallPassword(""));
  e.Firewall.FirewallType = fwNone;
  e.Firewall.FirewallPort = 80;
  TreatErr(e.Firewall.SetFirewallUser(""));
  e.From.Set(0u);
  TreatErr(e.SetRemoteHost(""));
  e.Date.Set(0u);
  TreatErr(e.SetUserText("", 0));
  e.ReplyTo.Set(0u);
  e.SendTo.Set(0u);
  e.Subject.Set(0u);
  TreatErr(e.SetTimeout(0));

  e.UseWinsock(true);
  FThunk = thunk.release();
  InitWinsockRecord(CorvfilemailerWinsock());
}

TcorvFileMailer::~TcorvFileMailer() {
  AttachEngine(nullptr);
  FileMailerCThunk* t = FThunk;
  FThunk = nullptr;
  ReleaseThunk(t, kFileMailerIdle);
}

// ---- events ----

void TcorvFileMailer::FireEndTransfer() {
  if (OnEndTransfer) OnEndTransfer(this);
}

void TcorvFileMailer::FireError(int ErrorCode, char* Description) {
  FireCodeText(OnError, ErrorCode, Description);
}

void TcorvFileMailer::FirePITrail(int ErrorCode, char* Description) {
  FireCodeText(OnPITrail, ErrorCode, Description);
}

void TcorvFileMailer::FireStartTransfer() {
  if (OnStartTransfer) OnStartTransfer(this);
}

void TcorvFileMailer::FireTransfer(long BytesTransferred) {
  if (OnTransfer) OnTransfer(this, BytesTransferred);
}

// ---- methods ----

void TcorvFileMailer::RunAction(int action) {
  RunOnThunk(FThunk, [action](CFileMailer& e) { return e.DoAction(action); }, "FileMailer. Out of memory.");
}

void TcorvFileMailer::AddAttachment(AnsiString FileName) {
  TreatErr(FThunk->Engine.Attachments.Append(FileName.c_str()));
}

void TcorvFileMailer::Send() { RunAction(kFileMailerSend); }

void TcorvFileMailer::Interrupt() { FThunk->Engine.DoAction(kFileMailerIdle); }

// ---- properties ----

TcorvFileMailerActions TcorvFileMailer::FAction() { return FThunk->Engine.Busy ? filemailerSend : filemailerIdle; }

void TcorvFileMailer::FSetAction(TcorvFileMailerActions value) { RunAction(value); }

int TcorvFileMailer::FAttachmentCount() { return static_cast<int>(FThunk->Engine.Attachments.Count()); }

void TcorvFileMailer::FSetAttachmentCount(int value) {
  TreatErr(FThunk->Engine.Attachments.SetCount(static_cast<std::uint16_t>(value)));
}

AnsiString TcorvFileMailer::FAttachments(unsigned short AttachmentIndex) {
  DynStrSeq& a = FThunk->Engine.Attachments;
  CheckIndexForRead(AttachmentIndex, a.Count(), kAttachmentRange, "Invalid array index AttachmentIndex");
  return AnsiString(a.Get(AttachmentIndex - 1u), static_cast<int>(a.GetLength(AttachmentIndex - 1u)));
}

void TcorvFileMailer::FSetAttachments(unsigned short AttachmentIndex, AnsiString value) {
  DynStrSeq& a = FThunk->Engine.Attachments;
  if (!CheckIndexForWrite(AttachmentIndex, a.Count(), kAttachmentRange, "Invalid attachment index (out of range)."))
    return;
  TreatErr(a.Set(AttachmentIndex - 1u, value.c_str()));
}

AnsiString TcorvFileMailer::FBCc() { return Bytes(FThunk->Engine.BCc); }

void TcorvFileMailer::FSetBCc(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  TreatErr(e.BCc.SetAddressList(value.c_str(), e.MaxHeaderLength, e.CharsetMode));
}

AnsiString TcorvFileMailer::FCc() { return Bytes(FThunk->Engine.Cc); }

void TcorvFileMailer::FSetCc(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  TreatErr(e.Cc.SetAddressList(value.c_str(), e.MaxHeaderLength, e.CharsetMode));
}

AnsiString TcorvFileMailer::FDate() { return Bytes(FThunk->Engine.Date); }

void TcorvFileMailer::FSetDate(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  TreatErr(e.Date.SetFolded(value.c_str(), e.MaxHeaderLength));
}

AnsiString TcorvFileMailer::FFrom() { return Bytes(FThunk->Engine.From); }

void TcorvFileMailer::FSetFrom(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  TreatErr(e.From.SetAddressList(value.c_str(), e.MaxHeaderLength, e.CharsetMode));
}

AnsiString TcorvFileMailer::FLastReply() { return Bytes(FThunk->Engine.Reply); }

AnsiString TcorvFileMailer::FMailServer() { return AnsiString(FThunk->Engine.GetRemoteHost()); }

void TcorvFileMailer::FSetMailServer(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  e.ClearErrorText();
  TreatErr(e.SetRemoteHost(value.c_str()));
}

unsigned short TcorvFileMailer::FMailPort() { return FThunk->Engine.RemotePort; }

void TcorvFileMailer::FSetMailPort(unsigned short value) { TreatErr(FThunk->Engine.SetRemotePort(value)); }

int TcorvFileMailer::FMaxHeaderLength() { return FThunk->Engine.MaxHeaderLength; }

void TcorvFileMailer::FSetMaxHeaderLength(int value) {
  FThunk->Engine.MaxHeaderLength = static_cast<std::uint16_t>(value);
}

AnsiString TcorvFileMailer::FMessageText() { return Bytes(FThunk->Engine.UserText); }

void TcorvFileMailer::FSetMessageText(AnsiString value) {
  TreatErr(FThunk->Engine.SetUserText(value.data(), static_cast<std::uint32_t>(value.Length())));
}

AnsiString TcorvFileMailer::FOtherHeaders() { return Bytes(FThunk->Engine.UserHeaders); }

void TcorvFileMailer::FSetOtherHeaders(AnsiString value) {
  TreatErr(FThunk->Engine.UserHeaders.Set(static_cast<std::uint32_t>(value.Length()), value.data()) ? CORV_OUT_OF_MEMORY
                                                                                                     : 0);
}

AnsiString TcorvFileMailer::FReplyTo() { return Bytes(FThunk->Engine.ReplyTo); }

void TcorvFileMailer::FSetReplyTo(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  TreatErr(e.ReplyTo.SetAddressList(value.c_str(), e.MaxHeaderLength, e.CharsetMode));
}

AnsiString TcorvFileMailer::FSendTo() { return Bytes(FThunk->Engine.SendTo); }

void TcorvFileMailer::FSetSendTo(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  TreatErr(e.SendTo.SetAddressList(value.c_str(), e.MaxHeaderLength, e.CharsetMode));
}

AnsiString TcorvFileMailer::FSubject() { return Bytes(FThunk->Engine.Subject); }

void TcorvFileMailer::FSetSubject(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  // The subject string is the Japanese header string's plain base; its text setter is shared.
  DynStrJRFC822 folded;
  int r = folded.SetText(value.c_str(), e.MaxHeaderLength, e.CharsetMode);
  if (!r) r = e.Subject.Set(folded.Length(), folded.Text()) ? CORV_OUT_OF_MEMORY : 0;
  TreatErr(r);
}

void TcorvFileMailer::FSetWinsockPath(AnsiString value) {
  CFileMailer& e = FThunk->Engine;
  const char* v = value.c_str();
  if (v[0] == '*' && v[1] == 'U') {
    if (value.Length() > 6) TreatErr(e.User.SetText(v + 6) ? CORV_OUT_OF_MEMORY : 0);
    return;
  }
  if (v[0] == '*' && v[1] == 'P') {
    if (value.Length() > 10) TreatErr(e.Password.SetText(v + 10) ? CORV_OUT_OF_MEMORY : 0);
    return;
  }
  TcorvComponent::FSetWinsockPath(value);
}
