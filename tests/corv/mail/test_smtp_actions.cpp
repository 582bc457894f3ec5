// The SMTP engine's own actions beyond sending: connect, EXPN with its Expand events, VRFY,
// a raw command, reset, the busy rule, and a Japanese-mode transaction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corv/mail/SMTP.h"
#include "platform/winsock/winsock.h"
#include "tests/peers/scripted.h"

namespace {

using peers::ScriptedServer;

class Sink : public SMTPEvts {
 public:
  std::vector<std::string> events;
  int EndTransfer() override { return Add("EndTransfer"); }
  int Error(std::uint16_t c, const char* t) override { return Add("Error " + std::to_string(c) + " " + t); }
  int Expand(const char* t) override { return Add(std::string("Expand ") + t); }
  int PITrail(std::uint16_t d, const char* t) override { return Add("PITrail " + std::to_string(d) + " " + t); }
  int StartTransfer() override { return Add("StartTransfer"); }
  int Transfer(std::uint32_t b) override { return Add("Transfer " + std::to_string(b)); }
  std::vector<std::string> With(const std::string& p) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.compare(0, p.size(), p) == 0) out.push_back(e);
    return out;
  }

 private:
  int Add(const std::string& l) {
    events.push_back(l);
    return 0;
  }
};

struct Engine {
  CSMTP smtp;
  Sink sink;
  explicit Engine(int port) {
    winsock::EnsureRegistered();
    smtp.Init();
    smtp.UseWinsock(true);
    smtp.EventSink = static_cast<SMTPEvts*>(&sink);
    smtp.SetRemoteHost("127.0.0.1");
    smtp.SetRemotePort(static_cast<WORD>(port));
    smtp.EhloName.SetText("client.test");
    smtp.SetTimeout(10);
  }
};

TEST(SmtpActions, ExpandVerifyAndRawCommandOnOneConnection) {
  ScriptedServer s;
  s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").Send("250 hi\r\n");
  s.Expect("EXPN staff\r\n").Send("250-Ann <ann@x.org>\r\n250 Bob <bob@x.org>\r\n");
  s.Expect("VRFY bob\r\n").Send("252 Bob Smith <bob@x.org>\r\n");
  s.Expect("NOOP now\r\n").Send("250 fine\r\n");
  s.Expect("QUIT\r\n").Send("221 bye\r\n").Close();
  s.Start();
  Engine e(s.port());
  ASSERT_EQ(0, e.smtp.SendTo.SetText("staff"));
  EXPECT_EQ(0, e.smtp.DoAction(kSMTPExpand)) << e.smtp.GetErrorText();
  EXPECT_EQ(std::vector<std::string>({"Expand Ann <ann@x.org>", "Expand Bob <bob@x.org>"}), e.sink.With("Expand"));
  ASSERT_EQ(0, e.smtp.SendTo.SetText("bob"));
  EXPECT_EQ(0, e.smtp.DoAction(kSMTPVerify));
  EXPECT_EQ("Bob Smith <bob@x.org>", std::string(e.smtp.SendTo.Text()));
  ASSERT_EQ(0, e.smtp.Command.SetText("NOOP now"));
  EXPECT_EQ(0, e.smtp.DoAction(kSMTPCommand));
  // An unknown action does nothing.
  EXPECT_EQ(0, e.smtp.DoAction(11));
  EXPECT_EQ(0, e.smtp.DoAction(kSMTPDisconnect));
  EXPECT_FALSE(e.smtp.Firewall.IsConnected());
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
  EXPECT_EQ(1, s.connections());
  // Reset empties the message fields, not the login or the greeting name.
  ASSERT_EQ(0, e.smtp.User.SetText("u"));
  ASSERT_EQ(0, e.smtp.From.SetText("a@x.org"));
  EXPECT_EQ(0, e.smtp.DoAction(kSMTPReset));
  EXPECT_TRUE(e.smtp.From.IsEmpty());
  EXPECT_TRUE(e.smtp.SendTo.IsEmpty());
  EXPECT_EQ("u", std::string(e.smtp.User.Text()));
  EXPECT_EQ("client.test", std::string(e.smtp.EhloName.Text()));
}

TEST(SmtpActions, BusyWhileAnActionWaits) {
  ScriptedServer s;
  s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").Send("250 hi\r\n");
  s.Expect("NOOP\r\n").Stall();
  s.Start();
  Engine e(s.port());
  ASSERT_EQ(0, e.smtp.Command.SetText("NOOP"));
  int nested = -1;
  // The trail line of NOOP is reported before the wait: a nested action there is refused.
  class Reentering : public Sink {
   public:
    CSMTP* smtp = nullptr;
    int* nested = nullptr;
    int PITrail(std::uint16_t d, const char* t) override {
      if (d == 0 && std::string(t) == "NOOP") {
        *nested = smtp->DoAction(kSMTPConnect);
        smtp->DoAction(kSMTPInterrupt);
      }
      return 0;
    }
  } r;
  r.smtp = &e.smtp;
  r.nested = &nested;
  e.smtp.EventSink = static_cast<SMTPEvts*>(&r);
  EXPECT_EQ(CORV_INTERRUPTED, e.smtp.DoAction(kSMTPCommand));
  EXPECT_EQ(SMTP_BUSY, nested);
  EXPECT_EQ(0, e.smtp.CurrentAction);
  e.smtp.Connect(false);
}

TEST(SmtpActions, JapaneseModeConvertsTheTextAndLabelsIt) {
  ScriptedServer s;
  s.Accept().Send("220 ready\r\n").Expect("HELO client.test\r\n").Send("250 hi\r\n");
  s.Expect("RSET\r\n").Send("250 ok\r\n").Expect("MAIL FROM:<a@x.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<b@y.org>\r\n").Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
  s.Expect("To: b@y.org\r\nFrom: a@x.org\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\n"
           "\x1b$BF|K\\8l\x1b(B\r\n.\r\n");
  s.Send("250 ok\r\n").ReadUntilClosed();
  s.Start();
  Engine e(s.port());
  e.smtp.CharsetMode = 1;
  e.smtp.Ehlo = 0;
  ASSERT_EQ(0, e.smtp.From.SetText("a@x.org"));
  ASSERT_EQ(0, e.smtp.SendTo.SetText("b@y.org"));
  ASSERT_EQ(0, e.smtp.SetMessageText("\x93\xfa\x96\x7b\x8c\xea"));
  EXPECT_EQ(0, e.smtp.DoAction(kSMTPMail)) << e.smtp.GetErrorText();
  e.smtp.Connect(false);
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
}

}  // namespace

namespace {

TEST(SmtpActions, AnInterruptedGreetingIsNotRetriedWithHelo) {
  ScriptedServer s;
  s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").ReadUntilClosed();
  s.Start();
  Engine e(s.port());
  e.smtp.SetTimeout(5);
  class Stopper : public Sink {
   public:
    CSMTP* smtp = nullptr;
    int PITrail(std::uint16_t d, const char* t) override {
      Sink::PITrail(d, t);
      if (d == 0 && std::string(t) == "EHLO client.test") smtp->Interrupt();
      return 0;
    }
  } stopper;
  stopper.smtp = &e.smtp;
  e.smtp.EventSink = static_cast<SMTPEvts*>(&stopper);
  EXPECT_EQ(CORV_INTERRUPTED, e.smtp.DoAction(kSMTPConnect));
  EXPECT_TRUE(stopper.With("PITrail 0 HELO").empty());
  e.smtp.Connect(false);
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ(std::string::npos, s.received().find("HELO"));
}

}  // namespace
