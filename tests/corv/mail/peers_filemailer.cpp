// The file mailer component against a real mail server (aiosmtpd): plain and multipart
// messages as Python's email package reads them, encoded-word headers, AUTH LOGIN accepted
// and refused, a refused connection, the busy rule, the trail events, and a handler's
// interrupt, throw, nested send or change at every event point of a send.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "corv/mail/Corvfilemailer.h"
#include "tests/corv/component_checks.h"
#include "tests/peers/process.h"
#include "tests/peers/smtp.h"

namespace {

using peers::SmtpServer;

using componenttest::Raised;

void Prepare(TcorvFileMailer& m, const SmtpServer& server) {
  m.MailServer = "127.0.0.1";
  m.MailPort = static_cast<unsigned short>(server.port());
  m.Timeout = 10;
}

// Prepared, with a sender and a recipient.
void Addressed(TcorvFileMailer& m, const SmtpServer& server) {
  Prepare(m, server);
  m.From = "a@x.org";
  m.SendTo = "b@y.org";
}

std::string Check(const std::string& eml, const std::vector<std::string>& files = {}) {
  std::vector<std::string> args = {eml};
  args.insert(args.end(), files.begin(), files.end());
  return peers::RunPython("tests/corv/mail/mail_check.py", args);
}

TEST(FileMailerPeers, PlainMessageReachesEveryRecipientWithItsDots) {
  SmtpServer server;
  TcorvFileMailer m(nullptr);
  Prepare(m, server);
  std::vector<std::pair<int, std::string>> trail;
  m.OnPITrail = [&](TObject*, int code, AnsiString& d) { trail.emplace_back(code, d.str()); };
  m.From = "Sender Name <sender@x.org>";
  m.SendTo = "a@x.org, \"Doe, John\" <john@y.org> (boss)";
  m.Cc = "c@y.org";
  m.BCc = "hidden@z.org";
  m.Subject = "Quarterly numbers";
  m.MessageDate = "Tue, 01 Jun 2004 10:00:00 +0000";
  m.MessageText = ".first\r\nsecond\r\n.\r\nlast";
  m.Send();
  ASSERT_EQ(1, server.Count()) << server.log();
  EXPECT_EQ(std::vector<std::string>({"sender@x.org", "a@x.org", "john@y.org", "c@y.org", "hidden@z.org"}),
            server.Envelope(1));
  const std::string eml = server.Message(1);
  EXPECT_EQ(std::string::npos, eml.find("hidden@z.org"));
  EXPECT_EQ(
      "To: a@x.org, \"Doe, John\" <john@y.org> (boss)\nFrom: Sender Name <sender@x.org>\nCc: c@y.org\n"
      "Subject: Quarterly numbers\nDate: Tue, 01 Jun 2004 10:00:00 +0000\nmultipart: no\n"
      "body: b'.first\\r\\nsecond\\r\\n.\\r\\nlast\\r\\n'\n",
      Check(server.folder() + "/1.eml"));
  // Trail: status texts, the server's lines and ours, in order.
  ASSERT_GE(trail.size(), 4u);
  EXPECT_EQ(std::make_pair(2, std::string("Connecting to mail server.")), trail[0]);
  EXPECT_EQ(std::make_pair(2, std::string("Connected.")), trail[1]);
  EXPECT_EQ(1, trail[2].first);
  EXPECT_EQ("220", trail[2].second.substr(0, 3));
  EXPECT_EQ(0, trail[3].first);
  EXPECT_EQ("EHLO ", trail[3].second.substr(0, 5));
  bool quit = false;
  for (const auto& t : trail) quit = quit || (t.first == 0 && t.second == "QUIT");
  EXPECT_TRUE(quit);
  EXPECT_EQ("221", m.LastReply().str().substr(0, 3));
  EXPECT_EQ(filemailerIdle, m.Action());
}

TEST(FileMailerPeers, AttachmentsArriveEqualToTheirFiles) {
  SmtpServer server;
  peers::TempDir dir("tavlin-mail-files");
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 7919) % 251);
  binary += "\n.\n..\r\n.";
  const std::string bin = dir.Write("data.bin", binary);
  const std::string jpg = dir.Write("Photo.JPG", std::string("\xff\xd8\xff\xe0.JFIF\n.\0x", 12));
  TcorvFileMailer m(nullptr);
  Prepare(m, server);
  long last = 0;
  int starts = 0, ends = 0;
  m.OnTransfer = [&](TObject*, long bytes) { last = bytes; };
  m.OnStartTransfer = [&](TObject*) { ++starts; };
  m.OnEndTransfer = [&](TObject*) { ++ends; };
  m.From = "sender@x.org";
  m.SendTo = "a@x.org";
  m.Subject = "Files";
  m.OtherHeaders = "X-Mailer-Test: yes";
  m.MessageText = "See the files.\r\n";
  m.AddAttachment(bin.c_str());
  m.AddAttachment(jpg.c_str());
  m.Send();
  ASSERT_EQ(1, server.Count()) << server.log();
  const std::string out = Check(server.folder() + "/1.eml", {bin, jpg});
  EXPECT_NE(std::string::npos, out.find("MIME-Version: 1.0")) << out;
  EXPECT_NE(std::string::npos, out.find("multipart: yes")) << out;
  EXPECT_NE(std::string::npos, out.find("part 0: text/plain quoted-printable - text=b'See the files.")) << out;
  EXPECT_NE(std::string::npos, out.find("part 1: application/octet-stream base64 attachment name=data.bin equal=yes"))
      << out;
  EXPECT_NE(std::string::npos, out.find("part 2: image/jpg base64 attachment name=Photo.JPG equal=yes")) << out;
  // The caller's header line stays a line of its own before the MIME lines.
  EXPECT_NE(std::string::npos, server.Message(1).find("X-Mailer-Test: yes\r\nMIME-Version: 1.0"));
  EXPECT_EQ(2, starts);
  EXPECT_EQ(2, ends);
  EXPECT_GT(last, 70000 * 4 / 3);
  // The list stays; a second send without it sends the text alone.
  EXPECT_EQ(2, m.AttachmentCount());
  m.AttachmentCount = 0;
  m.Send();
  ASSERT_EQ(2, server.Count());
  EXPECT_NE(std::string::npos, Check(server.folder() + "/2.eml").find("multipart: no"));
}

TEST(FileMailerPeers, BareLineEndsOfTextAndHeadersArriveAsLineBreaks) {
  SmtpServer server;
  peers::TempDir dir("tavlin-mail-files");
  const std::string raw = "a\nb\r.c\r\n.";
  const std::string bin = dir.Write("raw.bin", raw);
  TcorvFileMailer m(nullptr);
  Prepare(m, server);
  m.From = "sender@x.org";
  m.SendTo = "a@x.org";
  m.MessageText = "one\n.two\rthree";
  int n = 0;
  // However the caller's lines end, the header block ends with one line end: the text is not
  // pushed down by a blank line, and the MIME lines stay headers.
  for (const std::string end : {"\r", "\n\n", "\r\n\n", "\r\r", "\r\n\r\n"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    m.OtherHeaders = ("X-A: 1\nX-B: 2" + end).c_str();
    m.AttachmentCount = 0;
    m.Send();
    ASSERT_EQ(++n, server.Count()) << server.log();
    EXPECT_NE(std::string::npos, server.Message(n).find("X-A: 1\r\nX-B: 2\r\n\r\none")) << server.Message(n);
    EXPECT_NE(std::string::npos, Check(server.folder() + "/" + std::to_string(n) + ".eml")
                                     .find("body: b'one\\r\\n.two\\r\\nthree\\r\\n'"));
    // Multipart: the text part the same; the file keeps its bytes, bare line ends and all.
    m.AddAttachment(bin.c_str());
    m.Send();
    ASSERT_EQ(++n, server.Count()) << server.log();
    const std::string out = Check(server.folder() + "/" + std::to_string(n) + ".eml", {bin});
    EXPECT_NE(std::string::npos, out.find("multipart: yes")) << out;
    EXPECT_NE(std::string::npos, out.find("text=b'one\\r\\n.two\\r\\nthree'")) << out;
    EXPECT_NE(std::string::npos, out.find("name=raw.bin equal=yes")) << out;
    EXPECT_NE(std::string::npos, server.Message(n).find("X-A: 1\r\nX-B: 2\r\nMIME-Version: 1.0")) << server.Message(n);
  }
  // Headers of line ends alone are no header line: neither a blank line before the text or the
  // MIME lines, nor a block that replaces the standard one.
  for (const std::string only : {"\r", "\n", "\n\n", "\r\r"}) {
    SCOPED_TRACE(testing::PrintToString(only));
    m.OtherHeaders = only.c_str();
    m.AttachmentCount = 0;
    m.Send();
    ASSERT_EQ(++n, server.Count()) << server.log();
    EXPECT_NE(std::string::npos, server.Message(n).find("From: sender@x.org\r\n\r\none")) << server.Message(n);
    m.AddAttachment(bin.c_str());
    m.Send();
    ASSERT_EQ(++n, server.Count()) << server.log();
    EXPECT_NE(std::string::npos, Check(server.folder() + "/" + std::to_string(n) + ".eml", {bin}).find("multipart: yes"));
    EXPECT_NE(std::string::npos, server.Message(n).find("From: sender@x.org\r\nMIME-Version: 1.0")) << server.Message(n);
  }
}

TEST(FileMailerPeers, JapaneseHeadersDecodeAsTheyWereSet) {
  SmtpServer server;
  TcorvFileMailer m(nullptr);
  Prepare(m, server);
  m.CharsetMode = 1;
  const std::string nihongo = "\x93\xfa\x96\x7b\x8c\xea";  // Shift-JIS
  m.From = ("\"" + nihongo + "\" <sender@x.org>").c_str();
  m.SendTo = "a@x.org";
  std::string subject;
  for (int i = 0; i < 12; ++i) subject += nihongo;
  m.Subject = subject.c_str();
  // Read back, the value is what goes on the wire.
  EXPECT_EQ("=?ISO-2022-JP?B?", m.Subject().str().substr(0, 16));
  EXPECT_NE(std::string::npos, m.Subject().str().find("\r\n\t"));
  m.MessageText = nihongo.c_str();
  m.Send();
  ASSERT_EQ(1, server.Count()) << server.log();
  const std::string utf8 = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e";
  std::string expected;
  for (int i = 0; i < 12; ++i) expected += utf8;
  const std::string out = Check(server.folder() + "/1.eml");
  EXPECT_NE(std::string::npos, out.find("From: " + utf8 + " <sender@x.org>")) << out;
  EXPECT_NE(std::string::npos, out.find("Subject: " + expected + "\n")) << out;
  // The text goes in ISO-2022-JP without a charset header of the component's own.
  EXPECT_NE(std::string::npos, server.Message(1).find("\x1b$BF|K\\8l\x1b(B")) << server.Message(1);
  EXPECT_EQ(1, m.CharsetMode());

  // Set by a handler during a send, Japanese text is converted as ever: a send leaves
  // CharsetMode as it is.
  long during = -1;
  m.OnPITrail = [&](TObject*, int code, AnsiString& d) {
    if (code != 0 || d.str() != "QUIT") return;
    during = m.CharsetMode();
    m.Subject = nihongo.c_str();
    m.MessageText = (nihongo + "!").c_str();
  };
  m.Send();
  EXPECT_EQ(1, during);
  m.OnPITrail = nullptr;
  m.Send();
  ASSERT_EQ(3, server.Count()) << server.log();
  EXPECT_NE(std::string::npos, Check(server.folder() + "/3.eml").find("Subject: " + utf8 + "\n"));
  EXPECT_NE(std::string::npos, server.Message(3).find("\x1b$BF|K\\8l\x1b(B!")) << server.Message(3);
}

TEST(FileMailerPeers, LoginAcceptedAndRefused) {
  SmtpServer::Options o;
  o.user = "alice";
  o.password = "s3cret";
  o.requireAuth = true;
  SmtpServer server(o);
  TcorvFileMailer m(nullptr);
  Prepare(m, server);
  m.From = "alice@x.org";
  m.SendTo = "bob@y.org";
  m.MessageText = "hi";
  // Without a login the server refuses the transaction.
  ECORVCore e = Raised([&] { m.Send(); });
  EXPECT_EQ(161, e.Code);
  EXPECT_NE(std::string::npos, e.Message.str().find("530")) << e.Message.str();

  const AnsiString path = m.WinsockPath();
  std::vector<std::string> sent;
  m.OnPITrail = [&](TObject*, int code, AnsiString& d) {
    if (code == 0) sent.push_back(d.str());
  };
  m.WinsockPath = "*User=alice";
  m.WinsockPath = "*Password=wrong";
  e = Raised([&] { m.Send(); });
  EXPECT_EQ(161, e.Code);
  EXPECT_NE(std::string::npos, e.Message.str().find("535")) << e.Message.str();
  EXPECT_EQ(path, m.WinsockPath());

  sent.clear();
  m.WinsockPath = "*Password=s3cret";
  m.Send();
  ASSERT_EQ(1, server.Count()) << server.log();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ("AUTH LOGIN", sent[1]);
  EXPECT_EQ("YWxpY2U=", sent[2]);
  EXPECT_EQ("czNjcmV0", sent[3]);

  // A longer password set at the password prompt is for the next login: this one goes on
  // with the password it began with.
  int prompts = 0;
  m.OnPITrail = [&](TObject*, int code, AnsiString& d) {
    if (code == 1 && d.str().compare(0, 4, "334 ") == 0 && ++prompts == 2)
      m.WinsockPath = ("*Password=" + std::string(200, 'p')).c_str();
  };
  m.Send();
  EXPECT_EQ(2, server.Count()) << server.log();
}

TEST(FileMailerPeers, RefusedConnectionRaisesAndReportsAnError) {
  TcorvFileMailer m(nullptr);
  m.MailServer = "127.0.0.1";
  m.MailPort = static_cast<unsigned short>(peers::FreePort());
  m.Timeout = 10;
  std::vector<std::string> errors;
  m.OnError = [&](TObject*, int code, AnsiString& d) { errors.push_back(std::to_string(code) + " " + d.str()); };
  m.From = "a@x.org";
  m.SendTo = "b@y.org";
  ECORVCore e = Raised([&] { m.Send(); });
  EXPECT_EQ(10061, e.Code);
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ("162 Failed to connect: ", errors[0].substr(0, 23));
  EXPECT_EQ(filemailerIdle, m.Action());
  // Nothing is sent and no temporary file is made for a missing attachment.
  m.AddAttachment("/no/such/file.txt");
  e = Raised([&] { m.Send(); });
  EXPECT_EQ(283, e.Code);
  EXPECT_EQ("283: No file given", e.Message.str());
}

TEST(FileMailerPeers, NestedSendIsBusyAndTheRunningSendGoesOn) {
  SmtpServer server;
  TcorvFileMailer m(nullptr);
  Prepare(m, server);
  m.From = "a@x.org";
  m.SendTo = "b@y.org";
  m.MessageText = "body";
  ECORVCore nested(-1, "");
  TcorvFileMailerActions during = filemailerIdle;
  m.OnPITrail = [&](TObject*, int code, AnsiString& d) {
    if (code != 0 || d.str() != "DATA") return;
    during = m.Action();
    nested = Raised([&] { m.Action = filemailerSend; });
    // For the next message: this one goes out as it was when the send began.
    m.From = "c@x.org";
    m.SendTo = "d@y.org";
    m.Subject = "later";
  };
  m.Send();
  EXPECT_EQ(filemailerSend, during);
  EXPECT_EQ(166, nested.Code);
  EXPECT_EQ("166: Busy performing current action.", nested.Message.str());
  ASSERT_EQ(1, server.Count());
  EXPECT_EQ(std::vector<std::string>({"a@x.org", "b@y.org"}), server.Envelope(1));
  EXPECT_EQ("To: b@y.org\nFrom: a@x.org\nmultipart: no\nbody: b'body\\r\\n'\n", Check(server.folder() + "/1.eml"));
  m.OnPITrail = nullptr;
  m.Send();
  ASSERT_EQ(2, server.Count());
  EXPECT_EQ(std::vector<std::string>({"c@x.org", "d@y.org"}), server.Envelope(2));
  EXPECT_EQ("To: d@y.org\nFrom: c@x.org\nSubject: later\nmultipart: no\nbody: b'body\\r\\n'\n",
            Check(server.folder() + "/2.eml"));
}

// An interrupt from any handler ends the send with 301 "Interrupted" and sends nothing more:
// also one made between two waits, after the last wait of a step.
TEST(FileMailerPeers, InterruptFromAHandlerEndsTheSend) {
  SmtpServer server;
  TcorvFileMailer m(nullptr);
  Addressed(m, server);
  m.MessageText = "body";
  for (const std::string trigger : {"Connecting to mail server.", "RSET", "End"}) {
    SCOPED_TRACE(trigger);
    m.OnPITrail = [&](TObject*, int, AnsiString& d) {
      if (d.str() == trigger) m.Interrupt();
    };
    m.OnEndTransfer = [&](TObject*) {
      if (trigger == "End") m.Interrupt();
    };
    ECORVCore e = Raised([&] { m.Send(); });
    EXPECT_EQ("301: Interrupted", e.Message.str());
    EXPECT_EQ(0, server.Count());
    EXPECT_EQ(filemailerIdle, m.Action());
  }
  // The component is usable again at once.
  m.OnPITrail = nullptr;
  m.OnEndTransfer = nullptr;
  m.Send();
  EXPECT_EQ(1, server.Count());
}

}  // namespace

namespace {

TEST(FileMailerPeers, JapaneseTextPartWithAnAttachment) {
  SmtpServer server;
  peers::TempDir dir("tavlin-mail-files");
  const std::string page = dir.Write("page.htm", "<p>hello</p>\r\n");
  TcorvFileMailer m(nullptr);
  Addressed(m, server);
  m.CharsetMode = 1;
  m.MessageText = "\x93\xfa\x96\x7b\x8c\xea";
  m.AddAttachment(page.c_str());
  m.Send();
  ASSERT_EQ(1, server.Count()) << server.log();
  const std::string out = Check(server.folder() + "/1.eml");
  EXPECT_NE(std::string::npos, out.find("part 0: text/plain 7bit - text=b'\\x1b$BF|K\\\\8l\\x1b(B")) << out;
  EXPECT_NE(std::string::npos, out.find("part 1: text/plain quoted-printable attachment name=page.htm")) << out;
  EXPECT_NE(std::string::npos, server.Message(1).find("charset=\"iso-2022-jp\"")) << server.Message(1);
  EXPECT_EQ(1, m.CharsetMode());
}

TEST(FileMailerPeers, DestroyedByItsOwnHandler) {
  SmtpServer server;
  auto* m = new TcorvFileMailer(nullptr);
  Prepare(*m, server);
  m->From = "a@x.org";
  m->SendTo = "b@y.org";
  m->OnPITrail = [&](TObject*, int code, AnsiString& d) {
    if (code == 0 && d.str() == "RSET") delete m;
  };
  ECORVCore e = Raised([&] { m->Send(); });
  EXPECT_EQ(301, e.Code);
  EXPECT_EQ(0, server.Count());
}

}  // namespace

namespace {

std::string Listing(const std::string& folder) {
  std::string names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names += entry.path().filename().string() + "\n";
  return names;
}

// Points the temporary-files folder somewhere else while it lives.
class TempFolder {
 public:
  explicit TempFolder(const std::string& path) {
    const char* old = std::getenv("TMPDIR");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("TMPDIR", path.c_str(), 1);
  }
  ~TempFolder() {
    if (had_)
      ::setenv("TMPDIR", old_.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(FileMailerPeers, TheTemporaryMessageFileIsRemovedAfterEverySend) {
  SmtpServer server;
  peers::TempDir files("tavlin-mail-files");
  peers::TempDir temp("tavlin-mail-temp");
  const std::string a = files.Write("a.txt", "text\r\n");
  TcorvFileMailer m(nullptr);
  Addressed(m, server);
  m.AddAttachment(a.c_str());
  {
    TempFolder folder(temp.path());
    // An exception from any handler ends the send all the same: the component is idle,
    // CharsetMode is back, the file is gone (its descriptor too) and the connection closed.
    m.CharsetMode = 1;
    m.MessageText = "body";
    struct Stop {};
    for (const std::string handler : {"PITrail", "StartTransfer", "Transfer", "EndTransfer", "FileTransfer"}) {
      SCOPED_TRACE(handler);
      auto stop = [&](const char* which) {
        if (handler == which) throw Stop{};
      };
      m.OnPITrail = [&](TObject*, int code, AnsiString& d) {
        if (code == 0 && d.str() == "DATA") stop("PITrail");
      };
      int starts = 0;  // the preamble's transfer, then the message file's
      m.OnStartTransfer = [&](TObject*) {
        ++starts;
        stop("StartTransfer");
      };
      m.OnTransfer = [&](TObject*, long) { stop(starts > 1 ? "FileTransfer" : "Transfer"); };
      m.OnEndTransfer = [&](TObject*) { stop("EndTransfer"); };
      EXPECT_THROW(m.Send(), Stop);
      EXPECT_EQ(filemailerIdle, m.Action());
      EXPECT_EQ(1, m.CharsetMode());
      EXPECT_EQ("", Listing(temp.path()));
      EXPECT_EQ("", peers::OpenFilesUnder(temp.path()));
      EXPECT_EQ(-1, m.SocketHandle());
    }
    EXPECT_EQ(0, server.Count());
    m.OnPITrail = nullptr;
    m.OnTransfer = nullptr;
    m.OnEndTransfer = nullptr;
    bool sawTemp = false;
    m.OnStartTransfer = [&](TObject*) {
      sawTemp = sawTemp || !Listing(temp.path()).empty();
    };
    m.Send();
    EXPECT_EQ(1, server.Count());
    EXPECT_TRUE(sawTemp);
    EXPECT_EQ("", Listing(temp.path()));
    // A failed send removes it too.
    m.SendTo = "bad\x01";
    m.MailPort = static_cast<unsigned short>(peers::FreePort());
    EXPECT_NE(-1, Raised([&] { m.Send(); }).Code);
    EXPECT_EQ("", Listing(temp.path()));
  }
  // A folder name too long for the engine's buffer: no temporary file, a clear error.
  const std::string longPath = "/tmp/" + std::string(140, 'd');
  TempFolder folder(longPath);
  ECORVCore e = Raised([&] { m.Send(); });
  EXPECT_EQ(170, e.Code);
  EXPECT_EQ("170: Can't create temp file.", e.Message.str());
}

}  // namespace

namespace {

// Every event a send raises is a point where a handler may stop it, throw, or start another
// send. One run finds the points; then, for each point, a run acts there, and the next send
// on the same component must arrive exactly once, with no temporary file left and no wait
// that only the time-out ends. The sends succeed, or (kRefused) fail at their recipient. A
// handler that changes the message (kChange) changes the next one: this one goes as it began.
enum class Variant { kPlain, kFiles, kLogin, kRefused };
enum class Act { kInterrupt, kThrow, kNested, kChange };

class FileMailerPoints : public testing::TestWithParam<std::tuple<Variant, Act>> {};

TEST_P(FileMailerPoints, TheNextSendArrivesExactlyOnce) {
  const auto [variant, act] = GetParam();
  SmtpServer::Options o;
  if (variant == Variant::kLogin) {
    o.user = "alice";
    o.password = "s3cret";
    o.requireAuth = true;
  }
  SmtpServer server(o);
  peers::TempDir files("tavlin-mail-files");
  peers::TempDir temp("tavlin-mail-temp");
  TempFolder folder(temp.path());
  TcorvFileMailer m(nullptr);
  Addressed(m, server);
  m.Timeout = 5;  // a stop that only the time-out ends shows as a run past the bound
  const bool refused = variant == Variant::kRefused;
  const AnsiString to = refused ? "x@refused.test" : "b@y.org";
  const std::string a = files.Write("a.txt", "text\r\n.line\r\n"), b = files.Write("b.bin", std::string(3000, '\x93'));
  auto message = [&](const std::string& text) {
    m.SendTo = to;
    m.Cc = "";
    m.BCc = "gone@refused.test";  // an Error event
    m.Subject = "as began";
    m.OtherHeaders = "X-As: began";
    m.MessageText = text.c_str();
    m.AttachmentCount = 0;
    if (variant == Variant::kFiles) {
      m.AddAttachment(a.c_str());
      m.AddAttachment(b.c_str());
    }
  };
  if (variant == Variant::kLogin) {
    m.WinsockPath = "*User=alice";
    m.WinsockPath = "*Password=s3cret";
  }
  std::function<void(const std::string&)> at;
  m.OnPITrail = [&](TObject*, int code, AnsiString& d) { at("PITrail " + std::to_string(code) + " " + d.str()); };
  m.OnError = [&](TObject*, int code, AnsiString& d) { at("Error " + std::to_string(code) + " " + d.str()); };
  m.OnStartTransfer = [&](TObject*) { at("StartTransfer"); };
  m.OnTransfer = [&](TObject*, long) { at("Transfer"); };
  m.OnEndTransfer = [&](TObject*) { at("EndTransfer"); };
  // How many stored messages hold the text.
  auto arrived = [&](const std::string& text) {
    int n = 0;
    for (int i = 1; i <= server.Count(); ++i) n += server.Message(i).find(text + "\r\n") != std::string::npos;
    return n;
  };

  std::vector<std::string> points;
  at = [&](const std::string& e) { points.push_back(e); };
  message("first");
  EXPECT_EQ(refused ? 161 : -1, Raised([&] { m.Send(); }).Code);
  ASSERT_EQ(refused ? 0 : 1, server.Count()) << server.log();
  ASSERT_GE(points.size(), 15u);

  struct Stop {};
  for (std::size_t i = 0; i < points.size(); ++i) {
    SCOPED_TRACE(std::to_string(i) + ": " + points[i]);
    // The point is the k-th event with its text.
    const long k = std::count(points.begin(), points.begin() + static_cast<long>(i) + 1, points[i]);
    long seen = 0;
    bool acted = false;
    int nested = -1;
    at = [&](const std::string& e) {
      if (acted || e != points[i] || ++seen != k) return;
      acted = true;
      if (act == Act::kInterrupt) m.Interrupt();
      if (act == Act::kThrow) throw Stop{};
      if (act == Act::kNested) nested = Raised([&] { m.Send(); }).Code;
      if (act == Act::kChange) {
        m.SendTo = "b@y.org";
        m.BCc = "";
        m.Cc = "c@y.org";
        m.Subject = "changed";
        m.OtherHeaders = "X-As: changed";
        m.MessageText = ("changed " + std::to_string(i)).c_str();
        m.AttachmentCount = 0;
      }
    };
    const std::string text = "point " + std::to_string(i);
    message(text);
    int code = 0;
    bool stopped = false;
    const auto start = std::chrono::steady_clock::now();
    try {
      m.Send();
    } catch (const ECORVCore& e) {
      code = e.Code;
    } catch (const Stop&) {
      stopped = true;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(acted);
    if (act == Act::kInterrupt) {
      EXPECT_TRUE(code == 0 || code == 301 || (refused && code == 161)) << code;
    }
    if (act == Act::kThrow) {
      EXPECT_TRUE(stopped);
    }
    if (act == Act::kNested || act == Act::kChange) {
      EXPECT_EQ(act == Act::kNested ? 166 : -1, nested);
      EXPECT_EQ(refused ? 161 : 0, code);
    }
    // Never twice; once when the send reported success.
    const int copies = arrived(text);
    EXPECT_LE(copies, 1);
    if (code == 0 && !stopped) {
      EXPECT_EQ(1, copies);
    }
    EXPECT_EQ(filemailerIdle, m.Action());
    EXPECT_EQ(-1, m.SocketHandle());
    EXPECT_EQ("", Listing(temp.path()));

    if (copies) {
      EXPECT_EQ(std::string::npos, server.Message(server.Count()).find("changed"));
      EXPECT_EQ(std::vector<std::string>({"a@x.org", "b@y.org"}), server.Envelope(server.Count()));
    }

    at = [](const std::string&) {};
    const int before = server.Count();
    if (act == Act::kChange) {
      // The handler's message, as it set it.
      EXPECT_NO_THROW(m.Send());
      EXPECT_EQ(before + 1, server.Count());
      EXPECT_EQ(1, arrived("changed " + std::to_string(i)));
      EXPECT_NE(std::string::npos, server.Message(server.Count()).find("X-As: changed"));
      EXPECT_EQ(std::vector<std::string>({"a@x.org", "b@y.org", "c@y.org"}), server.Envelope(server.Count()));
      if (HasFailure()) break;
      continue;
    }
    const std::string next = "next " + std::to_string(i);
    m.MessageText = next.c_str();
    m.SendTo = "b@y.org";
    EXPECT_NO_THROW(m.Send());
    EXPECT_EQ(before + 1, server.Count());
    EXPECT_EQ(1, arrived(next));
    EXPECT_EQ("", Listing(temp.path()));
    if (HasFailure()) break;  // one point's report is enough
  }
}

std::string PointsName(const testing::TestParamInfo<std::tuple<Variant, Act>>& info) {
  static const char* const variants[] = {"Plain", "Files", "Login", "Refused"};
  static const char* const acts[] = {"Interrupt", "Throw", "Nested", "Change"};
  return std::string(variants[int(std::get<0>(info.param))]) + acts[int(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Mailer, FileMailerPoints,
                         testing::Combine(testing::Values(Variant::kPlain, Variant::kFiles, Variant::kLogin, Variant::kRefused),
                                          testing::Values(Act::kInterrupt, Act::kThrow, Act::kNested, Act::kChange)),
                         PointsName);

}  // namespace
