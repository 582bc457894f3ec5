// The SMTP client engine: connects and greets (EHLO, HELO as fallback), logs in with AUTH
// LOGIN, and sends one message per transaction (RSET, MAIL FROM, RCPT TO per recipient, DATA,
// header block, dot-stuffed body, "."). Every action blocks, pumping the thread's queue, and
// every line sent or received is reported through the PITrail event.
#pragma once
#include <cstdint>

#include "corv/core/DynStr.h"
#include "corv/core/IPPortMsg.h"
#include "corv/mail/SMTPEvts.h"
#include "corv/mime/DynStrJ.h"

inline constexpr int SMTP_REPLY_FAILED = 161;
inline constexpr int SMTP_CONNECTION_EVENT = 162;
inline constexpr int SMTP_BAD_LINE = 163;
inline constexpr int SMTP_NO_SENDER = 164;
inline constexpr int SMTP_NO_RECIPIENT = 165;
inline constexpr int SMTP_BUSY = 166;
inline constexpr int SMTP_FILE_OPEN = 302;
inline constexpr int SMTP_FILE_READ = 6;

enum SMTPAction : int {
  kSMTPInterrupt = 0,
  kSMTPConnect = 1,
  kSMTPDisconnect = 2,
  kSMTPMail = 3,
  kSMTPReset = 4,
  kSMTPExpand = 5,
  kSMTPVerify = 6,
  kSMTPSaml = 7,
  kSMTPSoml = 8,
  kSMTPSend = 9,
  kSMTPCommand = 10,
};

// Text as it goes out in a message: every line end CR LF (a bare CR or a bare LF becoming
// CR LF) and, with stuff, a "." that begins a line doubled. previous is the byte before the
// text ('\n' at a line start) and is carried from piece to piece; a CR that ends a piece gets
// its LF from the next one, or from the caller at the end. Returns the bytes written to out,
// at most 2 * length + 1; a null out only counts them.
std::uint32_t PutMailText(char* out, const char* text, std::uint32_t length, char& previous, bool stuff);
// Replaces out with the whole text so converted. 0 or 200.
int SetMailText(DynStr& out, const char* text, std::uint32_t length, bool stuff);
// Ends a text of header lines with exactly one CR LF in place of the line ends (bare CR and
// LF too) that closed it; a text of line ends alone is left empty.
int EndHeaderLines(DynStr& headers);

class CSMTP : public CIPPortMsgPlusFile {
 public:
  static constexpr std::uint32_t kTrailMax = 512;
  static constexpr std::uint32_t kAddressMax = 255;
  static constexpr std::uint32_t kTextPiece = 8192;
  static constexpr std::uint32_t kFileBlock = 16384;

  CSMTP();
  ~CSMTP() override;

  // CR LF lines, port 25, EHLO, header budget 72. 1, or 0 when out of memory.
  int Init();

  int FireConnected(WORD code, const char* text) override;
  int FireDisconnected(WORD code, const char* text) override;
  int FireError(WORD code, const char* text) override;
  int OnSendProgress(WORD bytes) override;

  virtual int DoAction(int action);
  virtual int FireEndTransfer();
  virtual int FireExpand(const char* text);
  virtual int FirePITrail(int direction, const char* text);
  virtual int FireStartTransfer();
  virtual int FireTransfer(std::uint32_t bytes);

  // One command (no verb: only reads a reply) and its whole reply. 0, 161 or the wait's code;
  // a command line holding CR or LF is refused with 163 before anything is sent.
  int SendCommand(const char* verb, const char* args);
  int SendMessage(const char* verb);
  int SendRecipients(const char* list, std::uint32_t length, bool fatal);
  int SendFile(const char* fileName);
  int SetMessageText(const char* text);
  int SetMessageText(const char* text, std::uint32_t length);
  void Reset();

  std::uint8_t CurrentAction;
  std::uint8_t InData;
  std::uint16_t MaxHeaderLength;
  DynStrJRFC822 From;
  DynStrJRFC822 SendTo;
  DynStrJRFC822 Cc;
  DynStrJRFC822 BCc;
  DynStrJRFC822 ReplyTo;
  DynStrRFC822 Subject;
  DynStrRFC822 Date;
  DynStr BodyFile;
  DynStr EhloName;
  DynStr Command;
  DynStr User;
  DynStr Password;
  char TrailLine[kTrailMax + 1];
  std::int32_t Ehlo;
  DynStr OtherHeaders;
  DynStr MessageText;  // dot-stuffed
  DynStr FailedReply;  // the error text of the last refused command

 protected:
  // Whether a message sent in Japanese mode gets the charset header here; a builder that
  // labels its text itself clears it.
  bool CharsetHeader = true;
  // MessageText from a text already in the form it is sent in: never converted. 0 or 200.
  int SetMessageTextAsIs(const char* text, std::uint32_t length);

 private:
  // What one mail transaction sends, copied when its action begins: a handler may set any
  // field while it runs, and what it sets is for the next message.
  struct Message {
    DynStr from, sendTo, cc, bcc, replyTo, subject, date, otherHeaders;
    int charsetMode = 0;
  };
  int CopyMessage(Message& message);
  int SendMessage(const char* verb, const Message& message);
  SMTPEvts* Sink() const { return static_cast<SMTPEvts*>(EventSink); }
  int ConnectAction();
  int DisconnectAction();
  int EnsureConnected();
  int Login();
  int SendHeaderBlock(const Message& message);
  int SendBody();
  int ReportProgress(std::uint32_t bytes);
};
