// Get Data against real peers: the quote service stand-in (directly and as a proxy), tinyproxy
// in front of it, and scripted servers for answers the service does not give. The display
// simulator reads the price packet at the far end of COM3.
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/Unit1.h"
#include "app/evtavek232.h"
#include "platform/winsock/winsock.h"
#include "tests/app/quote_service.h"
#include "tests/app/window_layout.h"
#include "tests/peers/http_capture.h"
#include "tests/peers/process.h"
#include "tests/peers/scripted.h"
#include "tests/peers/tinyproxy.h"
#include "tests/tools/display-sim/sim_process.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

namespace fs = std::filesystem;

// Reads one whole request (head and Content-Length body) from a scripted server's connection.
void ReadRequest(int fd) {
  std::string text;
  char buf[1024];
  for (;;) {
    const std::size_t head = text.find("\r\n\r\n");
    if (head != std::string::npos) {
      const std::size_t at = text.find("Content-Length: ");
      const std::size_t length = at == std::string::npos ? 0 : std::stoul(text.substr(at + 16));
      if (text.size() >= head + 4 + length) return;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return;
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return;
    text.append(buf, static_cast<std::size_t>(n));
  }
}

class QuoteRequest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    link_ = (fs::temp_directory_path() / ("tavlin-quote-com3-" + std::to_string(getpid()))).string();
    sim_ = new simtest::SimProcess;
    ASSERT_TRUE(sim_->StartPty(link_));
    setenv("TAVLIN_COM3", link_.c_str(), 1);
    quotes_ = new quotetest::QuoteService(5);
    ASSERT_NE(quotes_->port(), 0);
    vcl::test::SetDialogHook([](const vcl::DialogCall& call) {
      dialogs_.push_back(call);
      if (onDialog_) onDialog_();
      return mrOk;
    });
    winsock::EnsureRegistered();
    Application->Initialize();
    Application->CreateForm(Form1);
    // Ticks are run by hand.
    Form1->Timer1->Enabled = false;
    ASSERT_TRUE(OpenPort("COM3"));
  }
  static void TearDownTestSuite() {
    ClosePort();
    delete sim_;
    delete quotes_;
  }
  void SetUp() override {
    QuoteServiceHost = quotes_->host().c_str();
    Form1->corvWebForm1->ProxyServer = "";
    Form1->corvWebForm1->ProxyPort = 80;
    Form1->eProxyServer->Text = "";
    Form1->eProxyPort->Text = "80";
    Form1->eSymbols->Text = "QVTR IBM";
    dialogs_.clear();
    onDialog_ = nullptr;
  }

  // One timer tick as the framework runs it: Get Data, then Send Last; an exception is shown.
  static void Tick() {
    vcl::Guarded(Form1->Timer1, [] { Form1->Timer1Timer(Form1->Timer1); });
  }
  static std::string Cell(int col, int row) { return Form1->sgQuotes->Cells[col][row]().c_str(); }
  static std::string PriceOfRow1() {
    const std::string change = Cell(4, 1);
    return ": price " + Cell(1, 1) + " " + (change[0] == '+' ? "up" : change[0] == '-' ? "down" : "unchanged");
  }
  // The display got nothing since the last frame read: a test value sent now is the next frame.
  static void ExpectNoFrameSince() {
    const unsigned char marker = 7;
    ASSERT_TRUE(SendFrame(&marker, 1));
    EXPECT_EQ(sim_->ReadLine(), "frame AA 00 01 07 F7: value 7");
  }
  static void ExpectIdle() {
    EXPECT_EQ(Screen->Cursor(), crDefault);
    EXPECT_TRUE(Form1->bUpdate->Enabled());
  }

  static std::string link_;
  static simtest::SimProcess* sim_;
  static quotetest::QuoteService* quotes_;
  static std::vector<vcl::DialogCall> dialogs_;
  static std::function<void()> onDialog_;
};

std::string QuoteRequest::link_;
simtest::SimProcess* QuoteRequest::sim_ = nullptr;
quotetest::QuoteService* QuoteRequest::quotes_ = nullptr;
std::vector<vcl::DialogCall> QuoteRequest::dialogs_;
std::function<void()> QuoteRequest::onDialog_;

TEST_F(QuoteRequest, TickFillsNineColumnsAndSendsRowOne) {
  // While the answer arrives the fetch shows it is busy.
  std::vector<std::pair<TCursor, bool>> during;
  Form1->corvWebForm1->OnTransfer = [&during](TObject* sender, long bytes, char* text, unsigned short length) {
    during.push_back({Screen->Cursor, Form1->bUpdate->Enabled});
    Form1->corvWebForm1Transfer(sender, bytes, text, length);
  };
  Tick();
  Form1->corvWebForm1->OnTransfer = TcorvWebFormTransferEvent(Form1, &TForm1::corvWebForm1Transfer);

  EXPECT_EQ(quotes_->NextRequest(), "POST /d/quotes.csv body f=sl1d1t1c1ohgv&e=.csv&s=QVTR%20IBM");
  ASSERT_FALSE(during.empty());
  EXPECT_EQ(during[0].first, crHourGlass);
  EXPECT_FALSE(during[0].second);
  ExpectIdle();
  EXPECT_TRUE(dialogs_.empty());

  ASSERT_EQ(Form1->sgQuotes->RowCount(), 3);
  EXPECT_EQ(Cell(0, 1), "QVTR");
  EXPECT_EQ(Cell(0, 2), "IBM");
  for (int row = 1; row <= 2; ++row) {
    for (int col = 0; col < 9; ++col) {
      EXPECT_FALSE(Cell(col, row).empty()) << col << "," << row;
      EXPECT_EQ(Cell(col, row).find('"'), std::string::npos) << Cell(col, row);
    }
    EXPECT_EQ(Cell(9, row), "");
  }
  const std::string frame = sim_->ReadLine();
  EXPECT_EQ(frame.rfind("frame AA 00 06 ", 0), 0u) << frame;
  EXPECT_TRUE(frame.ends_with(PriceOfRow1())) << frame << " vs " << PriceOfRow1();

  // The next tick brings moved prices, and the packet follows them.
  const std::string before = Cell(1, 1);
  Tick();
  EXPECT_EQ(quotes_->NextRequest().rfind("POST /d/quotes.csv", 0), 0u);
  EXPECT_NE(Cell(1, 1), before);
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
}

TEST_F(QuoteRequest, RefusedConnectionIsShownAndSendsNoPacket) {
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(peers::FreePort())).c_str();
  Tick();
  ASSERT_EQ(dialogs_.size(), 1u);
  const std::string text = dialogs_[0].text.c_str();
  EXPECT_EQ(text.rfind("10061: ", 0), 0u) << text;
  EXPECT_NE(text.find("Connection refused"), std::string::npos) << text;
  EXPECT_EQ(dialogs_[0].type, mtError);
  EXPECT_EQ(dialogs_[0].caption, Application->Title());
  ExpectNoFrameSince();
  // The busy signs stay until a fetch succeeds.
  EXPECT_EQ(Screen->Cursor(), crHourGlass);
  EXPECT_FALSE(Form1->bUpdate->Enabled());
  QuoteServiceHost = quotes_->host().c_str();
  Tick();
  EXPECT_EQ(quotes_->NextRequest().rfind("POST /d/quotes.csv", 0), 0u);
  ExpectIdle();
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
  EXPECT_EQ(dialogs_.size(), 1u);
}

TEST_F(QuoteRequest, TypedProxyCarriesTheRequestAndStaysWhenEmptied) {
  // The quote host need not resolve: only the proxy is connected to.
  QuoteServiceHost = "quote.tavlin.invalid";
  Form1->eProxyServer->Text = "127.0.0.1";
  Form1->eProxyPort->Text = std::to_string(quotes_->port()).c_str();
  Tick();
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_EQ(quotes_->NextRequest(),
            "POST http://quote.tavlin.invalid/d/quotes.csv (as proxy) body f=sl1d1t1c1ohgv&e=.csv&s=QVTR%20IBM");
  EXPECT_EQ(Cell(0, 2), "IBM");
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
  // An emptied field keeps the proxy of the last fetch.
  Form1->eProxyServer->Text = "";
  Form1->eSymbols->Text = "RHAT";
  Tick();
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_EQ(quotes_->NextRequest(), "POST http://quote.tavlin.invalid/d/quotes.csv (as proxy) body f=sl1d1t1c1ohgv&e=.csv&s=RHAT");
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 2);
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
}

TEST_F(QuoteRequest, ThroughTinyproxyToTheService) {
  peers::Tinyproxy proxy;
  Form1->eProxyServer->Text = "127.0.0.1";
  Form1->eProxyPort->Text = std::to_string(proxy.port()).c_str();
  Tick();
  EXPECT_TRUE(dialogs_.empty()) << (dialogs_.empty() ? "" : dialogs_[0].text.c_str());
  // The proxy passes the request on in the server's form.
  EXPECT_EQ(quotes_->NextRequest(), "POST /d/quotes.csv body f=sl1d1t1c1ohgv&e=.csv&s=QVTR%20IBM");
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 3);
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
}

TEST_F(QuoteRequest, ProxyPortThatIsNoPortStopsTheFetch) {
  Form1->eProxyServer->Text = "127.0.0.1";
  for (const char* port : {"8o", "70000", "-1"}) {
    Form1->eProxyPort->Text = port;
    vcl::Guarded(Form1->bUpdate, [] { Form1->bUpdate->Click(); });
  }
  ASSERT_EQ(dialogs_.size(), 3u);
  EXPECT_NE(std::string(dialogs_[0].text.c_str()).find("'8o'"), std::string::npos) << dialogs_[0].text.c_str();
  EXPECT_NE(std::string(dialogs_[1].text.c_str()).find("'70000'"), std::string::npos) << dialogs_[1].text.c_str();
  EXPECT_NE(std::string(dialogs_[2].text.c_str()).find("'-1'"), std::string::npos) << dialogs_[2].text.c_str();
  // The server was already written, the port and everything after it not.
  EXPECT_EQ(Form1->corvWebForm1->ProxyServer(), "127.0.0.1");
  EXPECT_EQ(Form1->corvWebForm1->ProxyPort(), 80);
  ExpectIdle();
}

TEST_F(QuoteRequest, FailedStatusIsShownAndSendsNoPacket) {
  peers::ScriptedServer server;
  server.Accept().Run(ReadRequest).Send("HTTP/1.0 404 Not Found\r\n\r\nnothing here\r\n").Close();
  server.Start();
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(server.port())).c_str();
  Tick();
  EXPECT_TRUE(server.WaitDone());
  EXPECT_EQ(server.failures(), "");
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(std::string(dialogs_[0].text.c_str()).rfind("151: ", 0), 0u) << dialogs_[0].text.c_str();
  ExpectNoFrameSince();
}

TEST_F(QuoteRequest, LastLineWithoutLineEndStillShows) {
  peers::ScriptedServer server;
  server.Accept()
      .Run(ReadRequest)
      .Send("HTTP/1.0 200 OK\r\n\r\n\"QVTR\",12.34,\"12/9/2026\",\"6:07am\",+0.10,12.24,12.40,12.20,1000")
      .Close();
  server.Start();
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(server.port())).c_str();
  Tick();
  EXPECT_TRUE(server.WaitDone());
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 2);
  EXPECT_EQ(Cell(8, 1), "1000");
  EXPECT_EQ(CsvRemainder, "");
  EXPECT_EQ(sim_->ReadLine(), "frame AA 00 06 02 00 01 02 03 04 ED: price 12.34 up");
}

TEST_F(QuoteRequest, RequestIsTheUrlEncodedFormWithTheWindowsUserAgent) {
  // The answer ends with a CR whose LF never comes.
  peers::HttpCapture server(peers::HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\n\r\n\"A&B\",1.00,,,0.00,\r\n\"C\",2.00\r\n\r");
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(server.port())).c_str();
  Form1->eSymbols->Text = "^DJI BRK.B A&B";
  Tick();
  EXPECT_TRUE(dialogs_.empty()) << (dialogs_.empty() ? "" : dialogs_[0].text.c_str());
  const std::string request = server.NextRequest();
  const std::size_t blank = request.find("\r\n\r\n");
  ASSERT_NE(blank, std::string::npos) << request;
  const std::string head = request.substr(0, blank + 2);
  EXPECT_EQ(head.rfind("POST /d/quotes.csv HTTP/1.0\r\n", 0), 0u) << head;
  // Reset empties the content type; the encoding written after it must bring it back.
  EXPECT_NE(head.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: Corvane V5 HTTP/S Component - (c) tavlin Corvane library\r\n"), std::string::npos)
      << head;
  EXPECT_EQ(request.substr(blank + 4), "f=sl1d1t1c1ohgv&e=.csv&s=%5EDJI%20BRK.B%20A%26B");

  // The trailing comma wrote an empty field; the lone CR makes no row.
  ASSERT_EQ(Form1->sgQuotes->RowCount(), 3);
  EXPECT_EQ(Cell(0, 1), "A&B");
  EXPECT_EQ(Cell(2, 1), "");
  EXPECT_EQ(Cell(5, 1), "");
  EXPECT_EQ(Cell(1, 2), "2.00");
  EXPECT_EQ(CsvRemainder, "");
  EXPECT_EQ(sim_->ReadLine(), "frame AA 00 06 01 00 00 01 00 00 F7: price 1.00 unchanged");

  // An answer that stops after a comma still shows its line, the last field empty.
  server.SetReply(peers::HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\n\r\n\"D\",3.00,,,-0.01,");
  Form1->sgQuotes->Cells[5][1] = "stale";
  Tick();
  EXPECT_FALSE(server.NextRequest().empty());
  ASSERT_EQ(Form1->sgQuotes->RowCount(), 2);
  EXPECT_EQ(Cell(0, 1), "D");
  EXPECT_EQ(Cell(1, 1), "3.00");
  EXPECT_EQ(Cell(4, 1), "-0.01");
  EXPECT_EQ(Cell(5, 1), "");
  EXPECT_EQ(GridRow, 2);
  EXPECT_EQ(GridColumn, 0);
  EXPECT_EQ(sim_->ReadLine(), "frame AA 00 06 00 00 00 03 00 00 F6: price 3.00 down");
}

TEST_F(QuoteRequest, TailOfABrokenAnswerDoesNotLeakIntoTheNext) {
  // The connection breaks inside the first field: its start stays in the remainder, with
  // the row and column of a half-filled line.
  peers::HttpCapture server(peers::HttpCapture::Mode::ResetMidBody,
                            "HTTP/1.0 200 OK\r\n\r\n\"OLD\",1.00,TAIL" + std::string(60, 'y'));
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(server.port())).c_str();
  Tick();
  EXPECT_FALSE(server.NextRequest().empty());
  ASSERT_EQ(dialogs_.size(), 1u);
  ASSERT_EQ(CsvRemainder.SubString(1, 4), "TAIL");
  EXPECT_EQ(GridColumn, 2);
  ExpectNoFrameSince();

  QuoteServiceHost = quotes_->host().c_str();
  Tick();
  EXPECT_EQ(quotes_->NextRequest().rfind("POST /d/quotes.csv", 0), 0u);
  EXPECT_EQ(Cell(0, 1), "QVTR");
  EXPECT_EQ(Cell(0, 2), "IBM");
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 3);
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
  ExpectIdle();
}

TEST_F(QuoteRequest, TicksWaitOutARunningFetchAndGetDataByHandIsRefused) {
  peers::ScriptedServer server;
  server.Accept()
      .Run(ReadRequest)
      .Gate(1)
      .Send("HTTP/1.0 200 OK\r\n\r\n\"QVTR\",45.67,\"12/9/2026\",\"6:07am\",-0.10,1,2,3,4\r\n")
      .Close();
  server.Start();
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(server.port())).c_str();
  // Ticks that come while the answer is awaited pass without a fetch or a dialog; then Enter
  // runs Get Data again, which is refused, and its dialog lets the answer come.
  int ticks = 0;
  Form1->Timer1->OnTimer = [&ticks](TObject* sender) {
    Form1->Timer1Timer(sender);
    if (++ticks < 3) return;
    Form1->Timer1->Enabled = false;
    char key = 13;
    Form1->eSymbolsKeyPress(Form1->eSymbols, key);
  };
  onDialog_ = [&server] { server.Open(1); };
  Form1->Timer1->Interval = 1;
  Form1->Timer1->Enabled = true;
  Form1->bUpdate->Click();
  Form1->Timer1->Enabled = false;
  Form1->Timer1->Interval = 10000;
  Form1->Timer1->OnTimer = TNotifyEvent(Form1, &TForm1::Timer1Timer);
  EXPECT_TRUE(server.WaitDone());
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(ticks, 3);
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(std::string(dialogs_[0].text.c_str()).rfind("143: Busy performing current action.", 0), 0u)
      << dialogs_[0].text.c_str();
  EXPECT_EQ(Cell(1, 1), "45.67");
  ExpectIdle();
  // Neither the ticks nor the refused fetch sent anything; the next packet is the fetch's.
  Form1->Send_QVTR_Last_Button->Click();
  EXPECT_EQ(sim_->ReadLine(), "frame AA 00 06 00 00 04 05 06 07 E3: price 45.67 down");
}

// A service that takes the request and never answers: the fetch ends at its time-out, and the
// next tick fetches again by itself while the time-out's dialog is still open.
TEST_F(QuoteRequest, SilentServiceTimesOutAndTheNextTickFetchesAgain) {
  EXPECT_EQ(Form1->corvWebForm1->Timeout(), 8);  // the form's, below the 10-second period
  peers::ScriptedServer silent;
  silent.Accept().Run(ReadRequest).Stall();
  silent.Start();
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(silent.port())).c_str();
  Form1->corvWebForm1->Timeout = 1;
  Form1->Timer1->Interval = 1500;
  bool recovered = false;
  onDialog_ = [&recovered] {
    QuoteServiceHost = quotes_->host().c_str();  // the service is back
    recovered = layouttest::PumpUntil([] { return Screen->Cursor() == crDefault && Form1->bUpdate->Enabled(); }, 4000);
    Form1->Timer1->Enabled = false;
  };
  Form1->Timer1->Enabled = true;
  EXPECT_TRUE(layouttest::PumpUntil([] { return !dialogs_.empty(); }, 4000));
  Form1->Timer1->Enabled = false;
  Form1->Timer1->Interval = 10000;
  Form1->corvWebForm1->Timeout = 8;
  EXPECT_TRUE(recovered);
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0].text, "301: Timeout.");
  EXPECT_EQ(quotes_->NextRequest().rfind("POST /d/quotes.csv", 0), 0u);
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
  ExpectIdle();
}

// Enter while a fetch waits on a silent service: the refusal's box (a real one) used to run
// its loop above the fetch's wait, which then never saw its time-out, and every tick passed
// until someone pressed OK. The fetch ends at its time-out and the next tick brings a price,
// while the box stays up with the newest report.
TEST_F(QuoteRequest, BusyBoxDoesNotHoldTheFetchPastItsTimeOut) {
  peers::ScriptedServer silent;
  silent.Accept().Run(ReadRequest).Stall();
  silent.Start();
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(silent.port())).c_str();
  auto boxes = [] {
    std::vector<QMessageBox*> open;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) open.push_back(box);
    return open;
  };
  const auto recordDialogs = [](const vcl::DialogCall& call) {
    dialogs_.push_back(call);
    return mrOk;
  };
  vcl::test::SetDialogHook(nullptr);
  Form1->corvWebForm1->Timeout = 3;  // ticks at 2, 4, 6 s: a second clear of the time-out
  Form1->Timer1->Interval = 2000;
  int ticks = 0;
  bool held = false;
  Form1->Timer1->OnTimer = [&](TObject* sender) {
    if (++ticks == 1) {  // the fetch waits: Enter is refused, and the service comes back
      QuoteServiceHost = quotes_->host().c_str();
      char key = 13;
      Form1->eSymbolsKeyPress(Form1->eSymbols, key);
    } else if (ticks >= 4) {  // long past the time-out and one tick: give up
      held = !boxes().empty();
      for (QMessageBox* box : boxes()) box->button(QMessageBox::Ok)->click();
      vcl::test::SetDialogHook(recordDialogs);
      Form1->Timer1->Enabled = false;
    } else {
      Form1->Timer1Timer(sender);
    }
  };
  Form1->sgQuotes->Cells[1][1] = "";
  Form1->Timer1->Enabled = true;
  vcl::Guarded(Form1->bUpdate, [] { Form1->bUpdate->Click(); });
  const bool priced = layouttest::PumpUntil([] { return !Cell(1, 1).empty() && Form1->bUpdate->Enabled(); }, 12000);
  const int ticksToPrice = ticks;
  const auto open = boxes();
  const std::string shown = open.empty() ? "" : open.back()->text().toStdString();
  for (QMessageBox* box : open) box->button(QMessageBox::Ok)->click();
  vcl::test::SetDialogHook(recordDialogs);
  Form1->Timer1->Enabled = false;
  Form1->Timer1->Interval = 10000;
  Form1->Timer1->OnTimer = TNotifyEvent(Form1, &TForm1::Timer1Timer);
  Form1->corvWebForm1->Timeout = 8;
  EXPECT_FALSE(held);
  EXPECT_TRUE(priced);
  EXPECT_EQ(ticksToPrice, 2);  // the tick after the time-out
  EXPECT_EQ(shown, "301: Timeout.");
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
  EXPECT_TRUE(boxes().empty());
}

// One answer line of 10 MB: the field is kept as received, and the next tick fetches as usual.
TEST_F(QuoteRequest, HugeAnswerLineIsKeptWholeAndTheNextTickGoesOn) {
  const std::string huge = std::string(5u << 20, '1') + std::string(5u << 20, '2');
  peers::ScriptedServer server;
  server.Accept().Run(ReadRequest).Send("HTTP/1.0 200 OK\r\n\r\n\"" + huge + "\",9.99,,,0.00\r\n").Close();
  server.Start();
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(server.port())).c_str();
  Tick();
  EXPECT_TRUE(server.WaitDone());
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_EQ(Form1->sgQuotes->Cells[0][1]().str(), huge);
  EXPECT_EQ(Cell(1, 1), "9.99");
  EXPECT_TRUE(sim_->ReadLine().ends_with(": price 9.99 unchanged"));
  QuoteServiceHost = quotes_->host().c_str();
  Tick();
  EXPECT_EQ(quotes_->NextRequest().rfind("POST /d/quotes.csv", 0), 0u);
  EXPECT_EQ(Cell(0, 1), "QVTR");
  EXPECT_TRUE(sim_->ReadLine().ends_with(PriceOfRow1()));
}

}  // namespace
