// The mail engine against scripted servers: the exact lines on the wire, dot-stuffing, reply
// rules and failures that a real server will not produce on demand.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/corv/mail/mail_sink.h"
#include "tests/peers/scripted.h"

namespace {

using mailtest::Mailer;
using peers::ScriptedServer;

void Greeting(ScriptedServer& s) {
  s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").Send("250 hi\r\n");
}

TEST(SmtpWire, ExactLinesHeaderBlockAndDotStuffedBody) {
  ScriptedServer s;
  s.Accept().Send("120 wait\r\n220 ready\r\n");
  s.Expect("EHLO client.test\r\n").Send("502 no\r\n").Expect("HELO client.test\r\n").Send("250 hi\r\n");
  s.Expect("RSET\r\n").Send("250 ok\r\n");
  s.Expect("MAIL FROM:<s@x.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<a@x.org>\r\n").Send("250-first\r\n250 ok\r\n");
  s.Expect("RCPT TO:<j@y.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<c@y.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<hidden@z.org>\r\n").Send("550 no such user\r\n");
  s.Expect("DATA\r\n").Send("354 go\r\n");
  s.Expect(
      "To: a@x.org, \"Doe, John\" <j@y.org> (boss)\r\nFrom: Sender <s@x.org>\r\nSubject: Hi\r\n"
      "Date: Tue, 1 Jun 2004\r\nCc: c@y.org\r\nX-Extra: 1\r\n..X-Dot: 2\r\n\r\n"
      "line one\r\n..dot line\r\n..\r\n.\r\n");
  s.Send("250 queued\r\n").Expect("QUIT\r\n").Send("221 bye\r\n").Close();
  s.Start();

  Mailer e(s.port());
  e.Address(e.m.From, "Sender <s@x.org>");
  e.Address(e.m.SendTo, "a@x.org, \"Doe, John\" <j@y.org> (boss)");
  e.Address(e.m.Cc, "c@y.org");
  e.Address(e.m.BCc, "(comment) hidden@z.org");
  ASSERT_EQ(0, e.m.Subject.SetFolded("Hi", 72));
  ASSERT_EQ(0, e.m.Date.SetFolded("Tue, 1 Jun 2004", 72));
  ASSERT_EQ(0, e.m.UserHeaders.SetText("X-Extra: 1\r\n.X-Dot: 2"));
  e.Text("line one\r\n.dot line\r\n.");
  EXPECT_EQ(0, e.m.DoAction(kFileMailerSend)) << e.Error();
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
  // A refused blind copy is an event, not a failure.
  EXPECT_EQ(std::vector<std::string>{"Error 161 550 no such user"}, e.sink.With("Error"));
  const std::vector<std::string> sent = e.sink.With("PITrail 0");
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ("PITrail 0 EHLO client.test", sent[0]);
  EXPECT_EQ("PITrail 0 QUIT", sent.back());
  EXPECT_EQ(2u, e.sink.With("PITrail 1 250-first").size() + e.sink.With("PITrail 1 120").size());
  EXPECT_EQ("PITrail 2 Connecting to mail server.", e.sink.events.at(0));
  EXPECT_EQ("PITrail 2 Connected.", e.sink.events.at(1));
  EXPECT_EQ(std::vector<std::string>({"StartTransfer", "Transfer 24", "EndTransfer"}), [&] {
    std::vector<std::string> t;
    for (const auto& ev : e.sink.events)
      if (ev.find("Transfer") != std::string::npos) t.push_back(ev);
    return t;
  }());
  // The fields survive the send; the connection is closed.
  EXPECT_FALSE(e.m.Firewall.IsConnected());
  EXPECT_EQ(0, e.m.Busy);
}

TEST(SmtpWire, BareLineEndsOfTextAndHeadersGoOutAsCRLF) {
  // Stuffed after a bare line end, a dot would reach the recipient doubled; a header line
  // ended by a bare CR would run into the next.
  ScriptedServer s;
  Greeting(s);
  s.Expect("RSET\r\n").Send("250 ok\r\n").Expect("MAIL FROM:<s@x.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<a@x.org>\r\n").Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
  s.Expect("To: a@x.org\r\nFrom: s@x.org\r\nX-A: 1\r\nX-B: 2\r\n\r\none\r\n..two\r\nthree\r\n\r\n..\r\n.\r\n");
  s.Send("250 queued\r\n").Expect("QUIT\r\n").Send("221 bye\r\n").Close();
  s.Start();
  Mailer e(s.port());
  e.Address(e.m.From, "s@x.org");
  e.Address(e.m.SendTo, "a@x.org");
  ASSERT_EQ(0, e.m.UserHeaders.SetText("X-A: 1\nX-B: 2\r"));
  e.Text("one\n.two\rthree\r\n\n.");
  EXPECT_EQ(0, e.m.DoAction(kFileMailerSend)) << e.Error();
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
}

TEST(SmtpWire, RecipientListSetByAHandlerWhileItIsSent) {
  const std::string first = std::string(80, 'a') + "@x.org";
  const std::string second = std::string(80, 'b') + "@y.org";
  ScriptedServer s;
  Greeting(s);
  s.Expect("RSET\r\n").Send("250 ok\r\n").Expect("MAIL FROM:<s@x.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<" + first + ">\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<" + second + ">\r\n").Send("550 no\r\n").ReadUntilClosed();
  s.Start();
  Mailer e(s.port());
  e.Address(e.m.From, "s@x.org");
  e.Address(e.m.SendTo, first + ", " + second);
  // The list being sent stays as it was; the new one is for the next send.
  e.sink.then = [&](const std::string& ev) {
    if (ev == "PITrail 0 RCPT TO:<" + first + ">") {
      EXPECT_EQ(0, e.m.SendTo.SetAddressList("c@z.org", 72, 0));
    }
  };
  EXPECT_EQ(SMTP_REPLY_FAILED, e.m.DoAction(kFileMailerSend));
  EXPECT_EQ("550 no", e.Error());
  EXPECT_STREQ("c@z.org", e.m.SendTo.Text());
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
}

TEST(SmtpWire, RefusedRecipientAndMissingFieldsEndTheSend) {
  ScriptedServer s;
  // Each send connects and greets first; a missing field then ends it with nothing more sent.
  Greeting(s);
  s.ReadUntilClosed();
  Greeting(s);
  s.ReadUntilClosed();
  Greeting(s);
  s.Expect("RSET\r\n").Send("250 ok\r\n").Expect("MAIL FROM:<s@x.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<a@x.org>\r\n").Send("550 unknown user a\r\n").ReadUntilClosed();
  s.Start();
  Mailer e(s.port());
  EXPECT_EQ(SMTP_NO_SENDER, e.m.DoAction(kFileMailerSend));
  EXPECT_EQ("Please specify a sender (From).", e.Error());
  e.Address(e.m.From, "<s@x.org");
  EXPECT_EQ(SMTP_NO_RECIPIENT, e.m.DoAction(kFileMailerSend));
  EXPECT_EQ("Please specify a recipient (To).", e.Error());
  e.Address(e.m.SendTo, "a@x.org, b@x.org");
  EXPECT_EQ(SMTP_REPLY_FAILED, e.m.DoAction(kFileMailerSend));
  EXPECT_EQ("550 unknown user a", e.Error());
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
  EXPECT_EQ(3, s.connections());
}

TEST(SmtpWire, LineBreaksNeverReachTheWire) {
  ScriptedServer s;
  Greeting(s);
  s.Expect("RSET\r\n").Send("250 ok\r\n").ReadUntilClosed();
  s.Start();
  Mailer e(s.port());
  // The raw sender form keeps what follows its marker byte, line breaks included.
  ASSERT_EQ(0, e.m.From.SetText("\x07<s@x.org>\r\nRCPT TO:<victim@y.org>"));
  e.Address(e.m.SendTo, "a@x.org");
  EXPECT_EQ(SMTP_BAD_LINE, e.m.DoAction(kFileMailerSend));
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
  EXPECT_EQ(std::string::npos, s.received().find("victim"));
}

TEST(SmtpWire, AnUnsendableBlindCopyEndsTheSendInsteadOfBeingSkipped) {
  ScriptedServer s;
  Greeting(s);
  s.Expect("RSET\r\n").Send("250 ok\r\n").Expect("MAIL FROM:<s@x.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<a@x.org>\r\n").Send("250 ok\r\n");
  s.Expect("RCPT TO:<first@z.org>\r\n").Send("250 ok\r\n").ReadUntilClosed();
  s.Start();
  Mailer e(s.port());
  e.Address(e.m.From, "s@x.org");
  e.Address(e.m.SendTo, "a@x.org");
  // Stored raw, so its line break reaches the recipient parser.
  ASSERT_EQ(0, e.m.BCc.SetText("first@z.org, bad\r\nevil@z.org, last@z.org"));
  EXPECT_EQ(SMTP_BAD_LINE, e.m.DoAction(kFileMailerSend));
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
  EXPECT_EQ(std::string::npos, s.received().find("evil"));
  EXPECT_EQ(std::string::npos, s.received().find("DATA"));
}

TEST(SmtpWire, LongCredentialsAndLongArgumentsGoWhole) {
  ScriptedServer s;
  const std::string user(800, 'u');
  std::string b64;
  for (int i = 0; i < 800 / 3; ++i) b64 += "dXV1";
  b64 += "dXU=";
  s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").Send("250 hi\r\n");
  s.Expect("AUTH LOGIN\r\n").Send("334 VXNlcm5hbWU6\r\n").Expect(b64 + "\r\n").Send("334 UGFzc3dvcmQ6\r\n");
  s.Expect("cHc=\r\n").Send("235 ok\r\n");
  const std::string rcpt(300, 'r');
  s.Expect("RSET\r\n").Send("250 ok\r\n").Expect("MAIL FROM:<s@x.org>\r\n").Send("250 ok\r\n");
  // Addresses are cut at 255 characters.
  s.Expect("RCPT TO:<" + rcpt.substr(0, 255) + ">\r\n").Send("250 ok\r\n");
  s.Expect("DATA\r\n").Send("451 try later\r\n").ReadUntilClosed();
  s.Start();
  Mailer e(s.port());
  ASSERT_EQ(0, e.m.User.SetText(user.c_str()));
  ASSERT_EQ(0, e.m.Password.SetText("pw"));
  e.Address(e.m.From, "s@x.org");
  ASSERT_EQ(0, e.m.SendTo.SetText(rcpt.c_str()));
  EXPECT_EQ(SMTP_REPLY_FAILED, e.m.DoAction(kFileMailerSend));
  EXPECT_EQ("451 try later", e.Error());
  ASSERT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
  // The trail reports the line cut at 512 characters.
  const auto auth = e.sink.With("PITrail 0 dXV1");
  ASSERT_EQ(1u, auth.size());
  EXPECT_EQ(std::string("PITrail 0 ").size() + 512, auth[0].size());
}

TEST(SmtpWire, QuitRefusedIsAFailureQuitUnansweredIsNot) {
  for (const int mode : {0, 1, 2}) {
    const bool refuse = mode == 0;
    ScriptedServer s;
    Greeting(s);
    s.Expect("RSET\r\n").Send("250 ok\r\n").Expect("MAIL FROM:<s@x.org>\r\n").Send("250 ok\r\n");
    s.Expect("RCPT TO:<a@x.org>\r\n").Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
    s.Expect("To: a@x.org\r\nFrom: s@x.org\r\n\r\n\r\n.\r\n").Send("250 queued\r\n").Expect("QUIT\r\n");
    if (refuse)
      s.Send("500 what\r\n").ReadUntilClosed();
    else if (mode == 1)
      s.Close();
    else
      s.ReadUntilClosed();  // silent until the client gives up
    s.Start();
    Mailer e(s.port());
    if (mode == 2) e.m.SetTimeout(1);
    e.Address(e.m.From, "s@x.org");
    e.Address(e.m.SendTo, "a@x.org");
    const int r = e.m.DoAction(kFileMailerSend);
    if (refuse) {
      EXPECT_EQ(SMTP_REPLY_FAILED, r);
      EXPECT_EQ(1u, e.sink.With("PITrail 2 Forcing disconnection from mail server.").size());
    } else {
      EXPECT_EQ(0, r) << e.Error();
      EXPECT_FALSE(e.m.Firewall.IsConnected());
    }
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ("", s.failures());
  }
}

TEST(SmtpWire, BusyAndInterruptFromAHandler) {
  ScriptedServer s;
  s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").Send("250 hi\r\n");
  s.Expect("RSET\r\n").Stall();
  s.Start();
  Mailer e(s.port());
  e.Address(e.m.From, "s@x.org");
  e.Address(e.m.SendTo, "a@x.org");
  int nested = -1, afterInterrupt = -1;
  e.sink.then = [&](const std::string& line) {
    if (line != "PITrail 0 RSET") return;
    nested = e.m.DoAction(kFileMailerSend);
    EXPECT_EQ(1, e.m.Busy);
    e.m.DoAction(kFileMailerIdle);
    EXPECT_EQ(0, e.m.Busy);
    // The interrupted send is still on the stack: a new one must wait for it.
    afterInterrupt = e.m.DoAction(kFileMailerSend);
  };
  EXPECT_EQ(CORV_INTERRUPTED, e.m.DoAction(kFileMailerSend));
  EXPECT_EQ(SMTP_BUSY, nested);
  EXPECT_EQ(SMTP_BUSY, afterInterrupt);
  EXPECT_EQ(0, e.m.Busy);
  EXPECT_FALSE(e.m.Firewall.IsConnected());
}

// The server closes after the first line of a greeting, and a trail handler lets the queue run
// (as a GUI handler does), so the close is handled before the mailer waits for the next line:
// that wait has nothing left to wait for and ends at once.
TEST(SmtpWire, CloseInsideAGreetingSeenByATrailHandlerEndsTheSendAtOnce) {
  ScriptedServer s;
  s.Accept().Send("220-first line\r\n").Close().Start();
  Mailer e(s.port());
  e.Address(e.m.From, "s@x.org");
  e.Address(e.m.SendTo, "a@x.org");
  e.m.SetTimeout(3);
  e.sink.then = [&](const std::string& line) {
    if (line != "PITrail 1 220-first line") return;
    for (int i = 0; i < 500 && e.m.Firewall.IsConnected(); ++i) e.m.DoEvents(10, e.m.Window);
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(0, e.m.DoAction(kFileMailerSend));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_NE("Timeout.", e.Error());
}

}  // namespace
