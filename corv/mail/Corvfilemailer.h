// The file mailer component: sends its text to the SendTo, Cc and BCc recipients over SMTP,
// as a plain message or, with Attachments, as a multipart message with the files. Every
// failure is raised through TreatErr: ECORVCore with the engine's code and text, or
// EOutOfMemory("FileMailer. Out of memory.").
#pragma once
#include <cstdint>

#include "corv/core/Component.h"

class FileMailerCThunk;
class CWinsock;

enum TcorvFileMailerActions : std::uint8_t { filemailerIdle = 0, filemailerSend = 1 };

using TcorvFileMailerTransferEvent = Closure<void(TObject* Sender, long BytesTransferred)>;

class TcorvFileMailer : public TcorvComponent {
 public:
  explicit TcorvFileMailer(TComponent* Owner);
  // The same set-up; the two further arguments play no part.
  TcorvFileMailer(TComponent* Owner, bool, char*);
  ~TcorvFileMailer() override;

  void AddAttachment(AnsiString FileName);
  void Send();
  void Interrupt() override;

  virtual void FireEndTransfer();
  virtual void FireError(int ErrorCode, char* Description);
  virtual void FirePITrail(int ErrorCode, char* Description);
  virtual void FireStartTransfer();
  virtual void FireTransfer(long BytesTransferred);

  TNotifyEvent OnEndTransfer;
  TcorvErrorEvent OnError;
  // ErrorCode: 0 a command line sent, 1 a reply line received, 2 a status text.
  TcorvErrorEvent OnPITrail;
  TNotifyEvent OnStartTransfer;
  TcorvFileMailerTransferEvent OnTransfer;

  TcorvFileMailerActions FAction();
  void FSetAction(TcorvFileMailerActions value);
  int FAttachmentCount();
  void FSetAttachmentCount(int value);
  AnsiString FAttachments(unsigned short AttachmentIndex);
  void FSetAttachments(unsigned short AttachmentIndex, AnsiString value);
  AnsiString FBCc();
  void FSetBCc(AnsiString value);
  AnsiString FCc();
  void FSetCc(AnsiString value);
  AnsiString FDate();
  void FSetDate(AnsiString value);
  AnsiString FFrom();
  void FSetFrom(AnsiString value);
  AnsiString FLastReply();
  AnsiString FMailServer();
  void FSetMailServer(AnsiString value);
  unsigned short FMailPort();
  void FSetMailPort(unsigned short value);
  int FMaxHeaderLength();
  void FSetMaxHeaderLength(int value);
  AnsiString FMessageText();
  void FSetMessageText(AnsiString value);
  AnsiString FOtherHeaders();
  void FSetOtherHeaders(AnsiString value);
  AnsiString FReplyTo();
  void FSetReplyTo(AnsiString value);
  AnsiString FSendTo();
  void FSetSendTo(AnsiString value);
  AnsiString FSubject();
  void FSetSubject(AnsiString value);
  // "*User=name" and "*Password=secret" set the SMTP login; anything else is the path,
  // which the reader always returns.
  AnsiString FWinsockPath() { return TcorvComponent::FWinsockPath(); }
  void FSetWinsockPath(AnsiString value);

  using M = TcorvFileMailer;
  Property<M, TcorvFileMailerActions, &M::FAction, &M::FSetAction> Action{this};
  Property<M, int, &M::FAttachmentCount, &M::FSetAttachmentCount> AttachmentCount{this};
  IndexedProperty<M, AnsiString, &M::FAttachments, &M::FSetAttachments> Attachments{this};
  Property<M, AnsiString, &M::FBCc, &M::FSetBCc> BCc{this};
  Property<M, AnsiString, &M::FCc, &M::FSetCc> Cc{this};
  Property<M, AnsiString, &M::FDate, &M::FSetDate> Date{this};
  Property<M, AnsiString, &M::FFrom, &M::FSetFrom> From{this};
  Property<M, AnsiString, &M::FLastReply, &CORVCore::SetDummyAnsiString> LastReply{this};
  Property<M, AnsiString, &M::FMailServer, &M::FSetMailServer> MailServer{this};
  Property<M, unsigned short, &M::FMailPort, &M::FSetMailPort> MailPort{this};
  Property<M, int, &M::FMaxHeaderLength, &M::FSetMaxHeaderLength> MaxHeaderLength{this};
  Property<M, AnsiString, &M::FDate, &M::FSetDate> MessageDate{this};
  Property<M, AnsiString, &M::FMessageText, &M::FSetMessageText> MessageText{this};
  Property<M, AnsiString, &M::FOtherHeaders, &M::FSetOtherHeaders> OtherHeaders{this};
  Property<M, AnsiString, &M::FReplyTo, &M::FSetReplyTo> ReplyTo{this};
  Property<M, AnsiString, &M::FSendTo, &M::FSetSendTo> SendTo{this};
  Property<M, AnsiString, &M::FSubject, &M::FSetSubject> Subject{this};
  Property<M, AnsiString, &M::FWinsockPath, &M::FSetWinsockPath> WinsockPath{this};

 private:
  void Setup();
  // Runs an engine action; survives the component being destroyed by one of its handlers.
  void RunAction(int action);

  FileMailerCThunk* FThunk = nullptr;
};

// The unit's Windows Sockets record: every file mailer engine starts Windows Sockets through it.
CWinsock& CorvfilemailerWinsock();

namespace Corvfilemailer {
// Puts TcorvFileMailer on the component palette page "Corvane".
void Register();
}  // namespace Corvfilemailer
