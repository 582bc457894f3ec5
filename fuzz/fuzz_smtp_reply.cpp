// The mail sender against a hostile SMTP server: greeting, EHLO/HELO, AUTH LOGIN, MAIL, RCPT,
// DATA and QUIT replies, multi-line and preliminary replies, in fuzz-chosen pieces.
// Flags: bit 0 logs in with AUTH LOGIN, bit 1 says HELO only, bit 2 attaches a file, bit 3
// adds a BCc; bits 4-5: send a message, EXPN, VRFY, a raw command.
#include <string>

#include "corv/mail/FileMailer.h"
#include "fuzz/harness/peer.h"
#include "fuzz/harness/temp.h"
#include "fuzz/harness/touch.h"

namespace {

using fuzzpeer::Touch;

class Sink final : public FileMailerEvts {
 public:
  int EndTransfer() override { return 0; }
  int Error(std::uint16_t, const char* d) override { return Touch(d), 0; }
  int PITrail(std::uint16_t, const char* d) override { return Touch(d), 0; }
  int StartTransfer() override { return 0; }
  int Transfer(std::uint32_t) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string attachment = fuzzpeer::TempFile("smtp.txt", "quote list\n.IBM 81.50\n");
  fuzzpeer::Session peer(data, size);
  const std::uint8_t f = peer.Flags();
  Sink sink;
  CFileMailer m;
  if (!m.Mime.Init(true) || !m.Init()) return 0;
  m.UseWinsock(true);
  m.EventSink = static_cast<FileMailerEvts*>(&sink);
  m.SetRemoteHost("mail.invalid");
  m.EhloName.SetText("client.invalid");
  m.SetTimeout(fuzzpeer::kTimeoutSeconds);
  m.From.SetAddressList("Sender <s@x.invalid>", 72, 0);
  m.SendTo.SetAddressList("a@x.invalid, \"Doe, John\" <j@y.invalid> (boss)", 72, 0);
  m.Subject.SetText("Quotes");
  if (f & 1) {
    m.User.SetText("bob");
    m.Password.SetText("s3cret");
  }
  if (f & 2) m.Ehlo = 0;
  if (f & 4) m.Attachments.Append(attachment.c_str());
  if (f & 8) m.BCc.SetAddressList("hidden@z.invalid", 72, 0);
  static const char kText[] = "line one\r\n.dot line\r\n.";
  m.SetUserText(kText, sizeof kText - 1);
  switch ((f >> 4) & 3) {
    case 0: m.DoAction(kFileMailerSend); break;
    case 1: m.CSMTP::DoAction(kSMTPExpand); break;
    case 2: m.CSMTP::DoAction(kSMTPVerify); break;
    case 3:
      m.Command.SetText("NOOP");
      m.CSMTP::DoAction(kSMTPCommand);
      break;
  }
  if (((f >> 4) & 3) != 0) m.CSMTP::DoAction(kSMTPDisconnect);
  Touch(m.GetErrorText());
  return 0;
}
