// The file mailer component without a server: initial values, the property rules, the
// attachment list and its index errors, the login values through WinsockPath, registration.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "corv/core/Alloc.h"
#include "corv/core/Winsock.h"
#include "corv/mail/Corvfilemailer.h"
#include "platform/vcl/core/typinfo.h"
#include "tests/corv/component_checks.h"

namespace {

using componenttest::Raised;

TEST(CorvFileMailerUnit, InitialValues) {
  TcorvFileMailer m(nullptr);
  EXPECT_EQ(filemailerIdle, m.Action());
  EXPECT_EQ(0, m.AttachmentCount());
  EXPECT_EQ("", m.SendTo().str());
  EXPECT_EQ("", m.MailServer().str());
  EXPECT_EQ(25, m.MailPort());
  EXPECT_EQ(72, m.MaxHeaderLength());
  EXPECT_EQ(80, m.FirewallPort());
  EXPECT_EQ(fwNone, m.FirewallType());
  EXPECT_EQ(0, m.Timeout());
  EXPECT_EQ(-1, m.SocketHandle());
  EXPECT_TRUE(m.WinsockLoaded());
  EXPECT_EQ("WSOCK32.DLL", m.WinsockPath().str().substr(m.WinsockPath().str().size() - 11));
}

TEST(CorvFileMailerUnit, HeaderPropertiesReadBackAsSent) {
  TcorvFileMailer m(nullptr);
  m.MessageDate = "Tue, 1 Jun 2004";
  EXPECT_EQ("Tue, 1 Jun 2004", m.Date().str());
  m.Date = "Wed, 2 Jun 2004";
  EXPECT_EQ("Wed, 2 Jun 2004", m.MessageDate().str());
  std::string list;
  for (int i = 0; i < 8; ++i) list += "user" + std::to_string(i) + "@example.org, ";
  list += "last@example.org";
  m.SendTo = list.c_str();
  const std::string folded = m.SendTo().str();
  ASSERT_NE(std::string::npos, folded.find("\r\n\t")) << folded;
  for (std::size_t at = 0, next; at != std::string::npos; at = next == std::string::npos ? next : next + 3) {
    next = folded.find("\r\n\t", at);
    EXPECT_LE((next == std::string::npos ? folded.size() : next) - at, 80u) << folded;
  }
  // The budget applies to later writes only; 0 stores values unfolded.
  m.MaxHeaderLength = 0;
  EXPECT_EQ(folded, m.SendTo().str());
  m.Subject = list.c_str();
  EXPECT_EQ(list, m.Subject().str());
  m.Subject = "Hello\r\nBcc: victim@x.org";
  EXPECT_EQ("Hello  Bcc: victim@x.org", m.Subject().str());
  m.OtherHeaders = "X-A: 1";
  EXPECT_EQ("X-A: 1", m.OtherHeaders().str());
  m.MessageText = AnsiString("a\0b", 3);
  EXPECT_EQ(std::string("a\0b", 3), m.MessageText().str());
}

TEST(CorvFileMailerUnit, AttachmentListAndItsIndexErrors) {
  TcorvFileMailer m(nullptr);
  ECORVCore e = Raised([&] { AnsiString a = m.Attachments[0]; });
  EXPECT_EQ(169, e.Code);
  EXPECT_EQ("169: Invalid array index AttachmentIndex", e.Message.str());
  e = Raised([&] { m.Attachments[1] = "x"; });
  EXPECT_EQ(169, e.Code);
  EXPECT_EQ("169: Invalid attachment index (out of range).", e.Message.str());
  m.AttachmentCount = 2;
  EXPECT_EQ("", AnsiString(m.Attachments[1]).str());
  EXPECT_EQ("", AnsiString(m.Attachments[2]).str());
  m.Attachments[2] = "C:\\dir\\b.txt";
  m.AddAttachment("c.gif");
  EXPECT_EQ(3, m.AttachmentCount());
  EXPECT_EQ("C:\\dir\\b.txt", AnsiString(m.Attachments[2]).str());
  EXPECT_EQ("c.gif", AnsiString(m.Attachments[3]).str());
  // An empty name fails at send time, before any connection: no server is set here.
  m.From = "a@x.org";
  m.SendTo = "b@y.org";
  e = Raised([&] { m.Send(); });
  EXPECT_EQ(283, e.Code);
  EXPECT_EQ("283: No file given", e.Message.str());
  m.AttachmentCount = 0x10000;  // the low 16 bits count
  EXPECT_EQ(0, m.AttachmentCount());
}

TEST(CorvFileMailerUnit, SendNeedsSenderAndRecipient) {
  TcorvFileMailer m(nullptr);
  m.MailServer = "127.0.0.1";
  ECORVCore e = Raised([&] { m.Send(); });
  // Without a listening server the connection fails first; the engine's code is raised.
  EXPECT_NE(0, e.Code);
  EXPECT_EQ(filemailerIdle, m.Action());
  // Actions other than 0 and 1 do nothing.
  m.Action = static_cast<TcorvFileMailerActions>(7);
  m.Action = filemailerIdle;
  m.Interrupt();
}

TEST(CorvFileMailerUnit, LoginValuesDoNotChangeThePath) {
  TcorvFileMailer m(nullptr);
  const std::string path = m.WinsockPath().str();
  m.WinsockPath = "*User=";
  m.WinsockPath = "*Password=";
  m.WinsockPath = "*Uxxxxalice";
  m.WinsockPath = "*Pxxxxxxxxsecret";
  EXPECT_EQ(path, m.WinsockPath().str());
  m.MailPort = 587;
  EXPECT_EQ(587, m.MailPort());
  m.MaxHeaderLength = 0x10000 + 40;
  EXPECT_EQ(40, m.MaxHeaderLength());
}

TEST(CorvFileMailerUnit, OutOfMemoryHasTheComponentsText) {
  TcorvFileMailer m(nullptr);
  const std::string longName(300, 'n');
  try {
    corv::test::AllocFailureScope fail(0, 100);
    m.SendTo = (longName + "@x.org").c_str();
    FAIL() << "nothing raised";
  } catch (const EOutOfMemory& e) {
    EXPECT_EQ("FileMailer. Out of memory.", e.Message.str());
  }
  m.SendTo = "ok@x.org";
  EXPECT_EQ("ok@x.org", m.SendTo().str());
}

TEST(CorvFileMailerUnit, RegisteredOnThePalette) {
  Corvfilemailer::Register();
  const vcl::ClassInfo* info = vcl::FindClass("TcorvFileMailer");
  ASSERT_NE(nullptr, info);
  EXPECT_EQ("Corvane", info->palettePage);
  for (const char* p : {"Action", "AttachmentCount", "BCc", "Cc", "Date", "From", "LastReply", "MailServer",
                        "MessageDate", "MessageText", "ReplyTo", "SendTo", "Subject", "FirewallHost", "Timeout"})
    EXPECT_NE(nullptr, info->FindProp(p)) << p;
  EXPECT_EQ(nullptr, info->FindProp("Connected"));
}

// A descendant sees events through its Fire methods without handlers.
class Observed : public TcorvFileMailer {
 public:
  using TcorvFileMailer::TcorvFileMailer;
  void FireError(int code, char* text) override { seen += std::to_string(code) + " " + text + ";"; }
  std::string seen;
};

TEST(CorvFileMailerUnit, FailedConnectReachesADescendantsFireError) {
  Observed m(nullptr, false, nullptr);
  m.MailServer = "127.0.0.1";
  m.MailPort = 1;
  m.From = "a@x.org";
  m.SendTo = "b@y.org";
  ECORVCore e = Raised([&] { m.Send(); });
  EXPECT_EQ(10061, e.Code);
  EXPECT_EQ("162 Failed to connect: ", m.seen.substr(0, 23));
}

}  // namespace

namespace {

// Every allocation of a construction failing in turn: the out-of-memory texts of the
// component, and every Windows Sockets start given back.
TEST(CorvFileMailerUnit, ConstructionFailures) {
  { TcorvFileMailer warm(nullptr); }
  std::set<std::string> messages;
  ASSERT_NO_FATAL_FAILURE(componenttest::CollectConstructionFailures<TcorvFileMailer>(
      CorvfilemailerWinsock(), [](TcorvFileMailer& m, unsigned skip) { EXPECT_EQ(25, m.MailPort()) << skip; },
      messages));
  messages.erase("could not initialize FileMailer (out of memory)");
  messages.erase("FileMailer. Out of memory.");
  EXPECT_TRUE(messages.empty()) << *messages.begin();
  TcorvFileMailer m(nullptr);
  EXPECT_EQ(72, m.MaxHeaderLength());
}

}  // namespace
