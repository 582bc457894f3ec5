// Bodies on the wire: dot-stuffing of the stored text and of a body file across its read
// blocks, transfer events, address forms of the sender and recipient lists.
#include <gtest/gtest.h>

#include <string>

#include "tests/corv/mail/mail_sink.h"
#include "tests/peers/process.h"
#include "tests/peers/scripted.h"

namespace {

using mailtest::Mailer;
using peers::ScriptedServer;

std::string Stuffed(const std::string& text, bool stuff = true) {
  DynStr out;
  EXPECT_EQ(0, SetMailText(out, text.data(), std::uint32_t(text.size()), stuff));
  return std::string(out.Text(), out.Length());
}

TEST(SmtpBody, DotStuffingOfTheStoredText) {
  // Every line end goes out as CR LF before the dots are doubled: the server takes a dot off
  // only after CR LF, so one stuffed after a bare line end would reach the recipient doubled.
  EXPECT_EQ("..a\r\n..b\r\n..\r\nx.y\r\n..z", Stuffed(".a\n.b\r\n.\r\nx.y\r.z"));
  EXPECT_EQ("a\r\n\r\n\r\n.b\r\n", Stuffed("a\r\r\n\n.b\r", false));
  EXPECT_EQ("", Stuffed(""));
  char previous = '\n';
  EXPECT_EQ(10u, PutMailText(nullptr, ".\n.\n.", 5, previous, true));
}

// Runs one transaction to the end of DATA and returns what the server read after "354".
std::string Transaction(Mailer& e, ScriptedServer& s, const std::string& expectedBody) {
  s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").Send("250 hi\r\n");
  s.Expect("RSET\r\n").Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
  s.ExpectLine().Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
  s.Expect("To: b@y.org\r\nFrom: a@x.org\r\n\r\n" + expectedBody + "\r\n.\r\n").Send("250 ok\r\n");
  s.ReadUntilClosed();
  s.Start();
  e.Address(e.m.From, "a@x.org");
  e.Address(e.m.SendTo, "b@y.org");
  const int r = e.m.CSMTP::DoAction(kSMTPMail);
  e.m.Connect(false);
  EXPECT_TRUE(s.WaitDone());
  return std::to_string(r) + " " + s.failures();
}

TEST(SmtpBody, FileDotsAreStuffedAcrossReadBlocks) {
  peers::TempDir dir("tavlin-mail-body");
  std::string data = ".first";
  data += std::string(CSMTP::kFileBlock - data.size() - 1, 'x') + "\r";  // the block ends inside CR LF
  data += "\n.second\n.\r";
  ASSERT_EQ(CSMTP::kFileBlock + 11, data.size());
  const std::string file = dir.Write("body.txt", data);
  // Bare line ends go out as CR LF, the pair cut by the block end stays one line end.
  std::string expected = "." + data.substr(0, CSMTP::kFileBlock) + "\n..second\r\n..\r\n";
  ScriptedServer s;
  Mailer e(s.port());
  ASSERT_EQ(0, e.m.BodyFile.SetText(file.c_str()));
  EXPECT_EQ("0 ", Transaction(e, s, expected));
  EXPECT_EQ(std::vector<std::string>({"StartTransfer", "Transfer 16384", "Transfer 16395", "EndTransfer"}), [&] {
    std::vector<std::string> t;
    for (const auto& ev : e.sink.events)
      if (ev.find("Transfer") != std::string::npos) t.push_back(ev);
    return t;
  }());
}

TEST(SmtpBody, EmptyAndMissingBodyFiles) {
  peers::TempDir dir("tavlin-mail-body");
  const std::string empty = dir.Write("empty.txt", "");
  {
    ScriptedServer s;
    Mailer e(s.port());
    ASSERT_EQ(0, e.m.BodyFile.SetText(empty.c_str()));
    EXPECT_EQ("0 ", Transaction(e, s, ""));
    std::vector<std::string> t;
    for (const auto& ev : e.sink.events)
      if (ev.find("Transfer") != std::string::npos) t.push_back(ev);
    EXPECT_EQ(std::vector<std::string>({"StartTransfer", "EndTransfer"}), t);
  }
  ScriptedServer s;
  s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").Send("250 hi\r\n");
  s.Expect("RSET\r\n").Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
  s.ExpectLine().Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n").ReadUntilClosed();
  s.Start();
  Mailer e(s.port());
  e.Address(e.m.From, "a@x.org");
  e.Address(e.m.SendTo, "b@y.org");
  ASSERT_EQ(0, e.m.BodyFile.SetText(dir.File("missing.txt").c_str()));
  EXPECT_EQ(SMTP_FILE_OPEN, e.m.CSMTP::DoAction(kSMTPMail));
  EXPECT_EQ("Can't open file for reading.", e.Error());
  e.m.Connect(false);
  EXPECT_TRUE(s.WaitDone());
  EXPECT_EQ("", s.failures());
}

TEST(SmtpBody, SenderFormsAndRecipientLists) {
  for (const char* from : {"Display Name <s@x.org>", "s@x.org", "<s@x.org", "<s@x.org>"}) {
    ScriptedServer s;
    s.Accept().Send("220 ready\r\n").Expect("EHLO client.test\r\n").Send("250 hi\r\n");
    s.Expect("RSET\r\n").Send("250 ok\r\n").Expect("MAIL FROM:<s@x.org>\r\n").Send("250 ok\r\n");
    s.Expect("RCPT TO:<a@x.org>\r\n").Send("250 ok\r\n");
    s.Expect("RCPT TO:<b@y.org>\r\n").Send("250 ok\r\n");
    s.Expect("RCPT TO:<c@z.org>\r\n").Send("250 ok\r\n");
    s.Expect("RCPT TO:<d@w.org>\r\n").Send("250 ok\r\n");
    s.Expect("DATA\r\n").Send("554 no\r\n").ReadUntilClosed();
    s.Start();
    Mailer e(s.port());
    e.Address(e.m.From, from);
    e.Address(e.m.SendTo, "a@x.org (first), , \"Last, First\" <b@y.org> (comment), (note) c@z.org");
    e.Address(e.m.Cc, "Name <d@w.org> trailing words");
    EXPECT_EQ(SMTP_REPLY_FAILED, e.m.DoAction(kFileMailerSend)) << from;
    EXPECT_EQ("554 no", e.Error());
    EXPECT_TRUE(s.WaitDone());
    EXPECT_EQ("", s.failures()) << from;
  }
}

}  // namespace

namespace {

TEST(SmtpBody, LongTextGoesInPiecesWithARunningCount) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i % 10) + ".x\r\n";
  ASSERT_EQ(20000u, text.size());
  ScriptedServer s;
  Mailer e(s.port());
  ASSERT_EQ(0, e.m.CSMTP::SetMessageText(text.c_str()));
  EXPECT_EQ("0 ", Transaction(e, s, text));
  std::vector<std::string> t;
  for (const auto& ev : e.sink.events)
    if (ev.find("Transfer") != std::string::npos) t.push_back(ev);
  EXPECT_EQ(std::vector<std::string>({"StartTransfer", "Transfer 8192", "Transfer 16384", "Transfer 20000", "EndTransfer"}),
            t);
}

}  // namespace
