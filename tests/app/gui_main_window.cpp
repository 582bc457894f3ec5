#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QWidget>

#include "app/Unit1.h"
#include "app/evtavek232.h"
#include "platform/winsock/winsock.h"
#include "tests/app/quote_service.h"
#include "tests/app/window_layout.h"
#include "tests/tools/display-sim/sim_process.h"

// Font configuration keeps a cache for the life of the process; the leak checker counts it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

namespace fs = std::filesystem;

// The program's two windows, offscreen, with COM3 leading to the display simulator and a
// sysfs tree that lists COM1 and COM3.
class MainWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    sysfs_ = fs::temp_directory_path() / ("h4-gui-sysfs-" + std::to_string(getpid()));
    for (const char* uart : {"ttyS0", "ttyS1", "ttyS2"}) {
      fs::create_directories(sysfs_ / "class" / "tty" / uart);
      std::ofstream(sysfs_ / "class" / "tty" / uart / "type") << (std::string(uart) == "ttyS1" ? 0 : 4);
    }
    win32::SetSysfsRoot(sysfs_.string());
    link_ = (fs::temp_directory_path() / ("h4-gui-com3-" + std::to_string(getpid()))).string();
    sim_ = new simtest::SimProcess;
    ASSERT_TRUE(sim_->StartPty(link_));
    setenv("TAVLIN_COM3", link_.c_str(), 1);
    setenv("TAVLIN_COM1", "/nonexistent/h4-com1", 1);
    vcl::test::SetDialogHook([](const vcl::DialogCall& call) {
      dialogs_.push_back(call);
      return mrOk;
    });

    // Get Data asks the local quote service.
    quotes_ = new quotetest::QuoteService;
    ASSERT_NE(quotes_->port(), 0);
    QuoteServiceHost = quotes_->host().c_str();
    winsock::EnsureRegistered();

    StartupPortEntry = 0;
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->CreateForm(ComPortForm);
    rowsAtCreation_ = Form1->sgQuotes->RowCount;
    fixedRowsAtCreation_ = Form1->sgQuotes->FixedRows;
    // The first show opens the start-up entry and sends the price, before the window shows.
    Form1->Show();
    startupFrame_ = NextFrame();
    startupLast_ = Form1->sgQuotes->Cells[1][1]().c_str();
    startupChange_ = Form1->sgQuotes->Cells[4][1]().c_str();
    startupDialogs_ = dialogs_.size();
    // Ticks are driven by hand here: a real one could slip a frame in between.
    timerRunningAtStart_ = Form1->Timer1->Enabled();
    Form1->Timer1->Enabled = false;
  }
  static void TearDownTestSuite() {
    ClosePort();
    delete sim_;
    delete quotes_;
    win32::SetSysfsRoot("/sys");
    fs::remove_all(sysfs_);
  }
  // Each test starts with COM3 open, whatever an earlier one left.
  void SetUp() override {
    ComPortForm->cbNames->ItemIndex = 0;
    ComPortForm->Button2->Click();
    dialogs_.clear();
  }

  static std::string NextFrame() { return sim_->ReadLine(); }
  static bool PortFree() {
    HANDLE h = CreateFileA("\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }
  static void SetRow1(const char* last, const char* change) {
    Form1->sgQuotes->Cells[1][1] = last;
    Form1->sgQuotes->Cells[4][1] = change;
  }
  static std::string SendLast() {
    Form1->Send_QVTR_Last_Button->Click();
    return NextFrame();
  }

  // The frame the display shows for row 1 as the quote service filled it.
  static std::string PriceFrameOf(const std::string& last, const std::string& change) {
    const char* direction = change[0] == '+' ? "up" : change[0] == '-' ? "down" : "unchanged";
    return ": price " + last + " " + direction;
  }

  static fs::path sysfs_;
  static std::string link_;
  static quotetest::QuoteService* quotes_;
  static std::string startupLast_, startupChange_;
  static int rowsAtCreation_, fixedRowsAtCreation_;
  static simtest::SimProcess* sim_;
  static std::vector<vcl::DialogCall> dialogs_;
  static std::string startupFrame_;
  static std::size_t startupDialogs_;
  static bool timerRunningAtStart_;
};

fs::path MainWindow::sysfs_;
std::string MainWindow::link_;
simtest::SimProcess* MainWindow::sim_ = nullptr;
quotetest::QuoteService* MainWindow::quotes_ = nullptr;
std::string MainWindow::startupLast_, MainWindow::startupChange_;
int MainWindow::rowsAtCreation_ = 0;
int MainWindow::fixedRowsAtCreation_ = 0;
std::vector<vcl::DialogCall> MainWindow::dialogs_;
std::string MainWindow::startupFrame_;
std::size_t MainWindow::startupDialogs_ = 0;
bool MainWindow::timerRunningAtStart_ = false;

TEST_F(MainWindow, WindowsAreBuiltFromTheirDescriptions) {
  EXPECT_EQ(Form1->Caption(), "Orvelix Stock Quote Display using the Tavek");
  EXPECT_EQ(Form1->Left(), 154);
  EXPECT_EQ(Form1->Top(), 44);
  EXPECT_EQ(Form1->Width(), 534);
  EXPECT_EQ(Form1->Height(), 466);
  EXPECT_EQ(Form1->Font->Name(), "MS Sans Serif");
  EXPECT_EQ(Form1->Font->Height(), -12);
  EXPECT_EQ(Form1->eSymbols->Text(), "QVTR LLTC MSFT IBM BORL RHAT");
  EXPECT_EQ(Form1->eSymbols->CharCase(), ecUpperCase);
  EXPECT_EQ(Form1->eProxyPort->Text(), "80");
  EXPECT_EQ(Form1->eProxyServer->Text(), "");
  EXPECT_EQ(Form1->bUpdate->Caption(), "&Get Data");
  EXPECT_EQ(Form1->Label1->Font->Color(), clNavy);
  EXPECT_TRUE(Form1->Button5->Visible());
  for (TControl* hidden : std::initializer_list<TControl*>{Form1->Button1, Form1->Button2, Form1->Button3, Form1->Button4,
                                                             Form1->Send_QVTR_Last_Button, Form1->Label13, Form1->Label9}) {
    EXPECT_FALSE(hidden->Visible()) << hidden->Name().c_str();
  }
  EXPECT_EQ(Form1->Send_QVTR_Last_Button->Caption(), "Send QVTR \"Last\"");
  EXPECT_EQ(Form1->GroupBox1->Caption(), "Proxy Information");
  EXPECT_EQ(Form1->sgQuotes->Height(), 153);
  EXPECT_EQ(Form1->sgQuotes->Align(), alBottom);
  EXPECT_EQ(Form1->sgQuotes->FixedCols(), 0);
  EXPECT_EQ(fixedRowsAtCreation_, 1);
  EXPECT_EQ(Form1->sgQuotes->DefaultRowHeight(), 16);
  EXPECT_EQ(Form1->Timer1->Interval(), 10000u);
  EXPECT_TRUE(timerRunningAtStart_);

  EXPECT_EQ(ComPortForm->Caption(), "COM Port");
  EXPECT_EQ(ComPortForm->Width(), 263);
  EXPECT_EQ(ComPortForm->Height(), 173);
  EXPECT_EQ(ComPortForm->Font->Height(), -11);
  EXPECT_EQ(ComPortForm->Edit1->Text(), "128");
  EXPECT_EQ(ComPortForm->cbNames->Style(), csDropDownList);
}

TEST_F(MainWindow, HeaderRowAndPortListAreFilledAtCreation) {
  const char* titles[] = {"Symbol", "Last", "Date", "Time", "Change", "Open", "High", "Low", "Volume"};
  for (int col = 0; col < 9; ++col) EXPECT_EQ(Form1->sgQuotes->Cells[col][0](), titles[col]) << col;
  EXPECT_EQ(Form1->sgQuotes->ColCount(), 9);
  EXPECT_EQ(rowsAtCreation_, 3);
  // The start-up fetch asked for six symbols: the header and six rows.
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 7);
  // The two fixed entries, then the ports found, even where they repeat a fixed one.
  TStrings* items = ComPortForm->cbNames->Items;
  ASSERT_EQ(items->Count(), 4);
  EXPECT_EQ(items->Get(0), "COM3");
  EXPECT_EQ(items->Get(1), "COM1");
  EXPECT_EQ(items->Get(2), "COM1");
  EXPECT_EQ(items->Get(3), "COM3");
}

TEST_F(MainWindow, FirstShowOpensTheStartUpPortAndSendsThePrice) {
  // The fetch before it filled row 1 from the quote service.
  ASSERT_FALSE(startupLast_.empty());
  EXPECT_TRUE(std::regex_match(startupFrame_, std::regex("frame AA 00 06( [0-9A-F]{2}){7}: .*"))) << startupFrame_;
  EXPECT_TRUE(startupFrame_.ends_with(PriceFrameOf(startupLast_, startupChange_))) << startupFrame_;
  EXPECT_EQ(startupDialogs_, 0u);
  EXPECT_EQ(ComPortForm->cbNames->Text(), "COM3");
  EXPECT_FALSE(PortFree());
  Application->ProcessMessages();
  EXPECT_TRUE(Form1->SaveToPng(AnsiString(TAVLIN_BINARY_DIR) + "/tavlin-main-window.png"));
  ComPortForm->Show();
  Application->ProcessMessages();
  EXPECT_TRUE(ComPortForm->SaveToPng(AnsiString(TAVLIN_BINARY_DIR) + "/tavlin-com-port-window.png"));
  ComPortForm->Hide();
}

TEST_F(MainWindow, SendLastTurnsRowOneIntoThePricePacket) {
  SetRow1("23.45", "+0.12");
  EXPECT_EQ(SendLast(), "frame AA 00 06 02 00 02 03 04 05 E9: price 23.45 up");
  EXPECT_EQ(Form1->Label13->Caption(), "23.45");
  SetRow1("1.5", "0.00");
  EXPECT_EQ(SendLast(), "frame AA 00 06 01 00 00 01 05 00 F2: price 1.50 unchanged");
  SetRow1("123.45", "-1.20");
  EXPECT_EQ(SendLast(), "frame AA 00 06 00 01 02 03 04 05 EA: price 123.45 down");
  SetRow1("9.99", "N/A");
  EXPECT_EQ(SendLast(), "frame AA 00 06 01 00 00 09 09 09 DD: price 9.99 unchanged");
  // The Change cell reads as the runtime reads numbers: its longest leading number.
  SetRow1("2.50", "5e");
  EXPECT_EQ(SendLast(), "frame AA 00 06 02 00 00 02 05 00 F0: price 2.50 up");
  SetRow1("2.50", " -1e-1x");
  EXPECT_EQ(SendLast(), "frame AA 00 06 00 00 00 02 05 00 F2: price 2.50 down");
  EXPECT_TRUE(dialogs_.empty());
}

TEST_F(MainWindow, PricesOfOtherLayoutsKeepTheirPlaceAroundThePoint) {
  SetRow1("1234.56", "1");
  EXPECT_EQ(SendLast(), "frame AA 00 06 02 02 03 04 05 06 E3: price 234.56 up");
  SetRow1("23", "1");
  EXPECT_EQ(SendLast(), "frame AA 00 06 02 00 02 03 00 00 F2: price 23.00 up");
  SetRow1("", "");
  EXPECT_EQ(SendLast(), "frame AA 00 06 01 00 00 00 00 00 F8: price 0.00 unchanged");
  EXPECT_TRUE(dialogs_.empty());
  // A point in first place is reported, and the packet still goes out.
  SetRow1(".5", "-0.01");
  EXPECT_EQ(SendLast(), "frame AA 00 06 00 00 00 00 05 00 F4: price 0.50 down");
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0].text, "Stock Price Length = 0 Error");
  EXPECT_EQ(dialogs_[0].type, mtError);
  EXPECT_TRUE(dialogs_[0].buttons == TMsgDlgButtons() << mbOK);
}

TEST_F(MainWindow, TimerTickFetchesAndSendsThePrice) {
  SetRow1("", "");
  Form1->Timer1->Enabled = true;
  Form1->Timer1->Timer();
  Form1->Timer1->Enabled = false;
  const std::string last = Form1->sgQuotes->Cells[1][1]().c_str();
  ASSERT_FALSE(last.empty());
  EXPECT_TRUE(NextFrame().ends_with(PriceFrameOf(last, Form1->sgQuotes->Cells[4][1]().c_str())));
  EXPECT_TRUE(dialogs_.empty());
}

TEST_F(MainWindow, TestValueAndHiddenButtonsSendOneByteFrames) {
  ComPortForm->Edit1->Text = "128";
  ComPortForm->Button1->Click();
  EXPECT_EQ(NextFrame(), "frame AA 00 01 80 01 7E: value 128");
  ComPortForm->Edit1->Text = "300";  // low eight bits
  ComPortForm->Button1->Click();
  EXPECT_EQ(NextFrame(), "frame AA 00 01 2C D2: value 44");
  ComPortForm->Edit1->Text = "abc";
  ComPortForm->Button1->Click();
  EXPECT_EQ(NextFrame(), "frame AA 00 01 00 FE: value 0");

  SetRow1("23.45", "+0.12");
  Form1->Button1->Click();
  EXPECT_EQ(NextFrame(), "frame AA 00 01 17 E7: value 23");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 2D D1: value 45");
  EXPECT_EQ(Form1->Label9->Caption(), "23.45");
  // Change +0.12 (five characters, up): "+0" and "12".
  Form1->Button2->Click();
  EXPECT_EQ(NextFrame(), "frame AA 00 01 00 FE: value 0");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 0C F2: value 12");
  EXPECT_EQ(Form1->Label10->Caption(), "+0.12");
  // Change -1.25 (five characters, down): "1" and "25".
  Form1->sgQuotes->Cells[4][1] = "-1.25";
  Form1->Button2->Click();
  EXPECT_EQ(NextFrame(), "frame AA 00 01 01 FD: value 1");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 19 E5: value 25");
  // Change -12.50 (six characters): "12" and "50".
  Form1->sgQuotes->Cells[4][1] = "-12.50";
  Form1->Button2->Click();
  EXPECT_EQ(NextFrame(), "frame AA 00 01 0C F2: value 12");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 32 CC: value 50");
  // Four characters: "0" and "12"; seven: "+.45" reads as 0, "23.45" as 23; three: as it is.
  for (const char* change : {"0.12", "+123.45", "1.5"}) {
    Form1->sgQuotes->Cells[4][1] = change;
    Form1->Button2->Click();
  }
  EXPECT_EQ(NextFrame(), "frame AA 00 01 00 FE: value 0");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 0C F2: value 12");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 00 FE: value 0");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 17 E7: value 23");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 01 FD: value 1");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 01 FD: value 1");
  Form1->sgQuotes->Cells[6][1] = "24.10";
  Form1->Button3->Click();
  EXPECT_EQ(NextFrame(), "frame AA 00 01 18 E6: value 24");
  EXPECT_EQ(NextFrame(), "frame AA 00 01 0A F4: value 10");
  EXPECT_EQ(Form1->Label11->Caption(), "24.10");
  EXPECT_TRUE(dialogs_.empty());
}

TEST_F(MainWindow, EnterInTheSymbolsClicksGetDataEvenWhenDisabled) {
  int clicks = 0;
  const TNotifyEvent original = Form1->bUpdate->OnClick;
  Form1->bUpdate->OnClick = [&clicks](TObject*) { ++clicks; };
  const AnsiString before = Form1->eSymbols->Text;
  EXPECT_EQ(Form1->eSymbols->KeyPress(13), 0);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(Form1->eSymbols->Text(), before);
  Form1->bUpdate->Enabled = false;
  EXPECT_EQ(Form1->eSymbols->KeyPress(13), 0);
  EXPECT_EQ(clicks, 2);
  Form1->bUpdate->Enabled = true;
  EXPECT_NE(Form1->eSymbols->KeyPress('x'), 0);
  EXPECT_EQ(clicks, 2);
  Form1->bUpdate->OnClick = original;
}

TEST_F(MainWindow, FailuresAreShownAsErrorDialogs) {
  // "COM Port" shows the window; closing it closes the port.
  Form1->Button5->Click();
  EXPECT_TRUE(ComPortForm->Visible());
  ComPortForm->Close();
  EXPECT_FALSE(ComPortForm->Visible());
  EXPECT_TRUE(PortFree());
  ComPortForm->Button1->Click();
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0].text, "Send Error");
  EXPECT_EQ(dialogs_[0].type, mtError);
  Form1->Send_QVTR_Last_Button->Click();
  ASSERT_EQ(dialogs_.size(), 2u);
  EXPECT_EQ(dialogs_[1].text, "Send Error");

  ComPortForm->cbNames->ItemIndex = 1;  // COM1 leads nowhere
  ComPortForm->Button2->Click();
  ASSERT_EQ(dialogs_.size(), 3u);
  EXPECT_EQ(dialogs_[2].text, "Open Error");
  EXPECT_EQ(dialogs_[2].type, mtError);
  EXPECT_TRUE(dialogs_[2].buttons == TMsgDlgButtons() << mbOK);

  ComPortForm->cbNames->ItemIndex = 0;
  ComPortForm->Button2->Click();
  EXPECT_EQ(dialogs_.size(), 3u);
  EXPECT_FALSE(PortFree());
}

// Sizes from the window system (a drag, maximizing) move the anchored and aligned controls of
// both windows; they used to re-enter the resize without end.
TEST_F(MainWindow, BothWindowsFollowSizesFromTheWindowSystem) {
  ComPortForm->Show();
  QWidget* main = Form1->Widget();
  main->resize(700, 560);
  layouttest::ExpectMainLayout(700, 560);
  // Squeezed to nothing and back: the box comes back at its size.
  main->resize(1, 1);
  EXPECT_EQ(Form1->GroupBox1->Width(), 0);
  main->resize(700, 560);
  layouttest::ExpectMainLayout(700, 560);
  main->showMaximized();
  ASSERT_TRUE(layouttest::PumpUntil([main] { return main->width() > 700; }));
  layouttest::ExpectMainLayout(main->width(), main->height());
  if (const char* keep = getenv("TAVLIN_KEEP_PNG")) Form1->SaveToPng(AnsiString(keep) + "/main-maximized.png");

  QWidget* port = ComPortForm->Widget();
  port->showMaximized();
  ASSERT_TRUE(layouttest::PumpUntil([port] { return port->width() > 255; }));
  EXPECT_EQ(ComPortForm->ClientWidth(), port->width());
  EXPECT_EQ(ComPortForm->Button2->Left(), 168);
  if (const char* keep = getenv("TAVLIN_KEEP_PNG")) ComPortForm->SaveToPng(AnsiString(keep) + "/port-maximized.png");
  port->showNormal();
  ComPortForm->Hide();
  main->showNormal();
  Form1->SetBounds(154, 44, 534, 466);
  layouttest::ExpectMainLayout(526, 439);
}

TEST_F(MainWindow, ClosingTheMainWindowOrExitClosesThePort) {
  ASSERT_FALSE(PortFree());
  TCloseAction action = caHide;
  Form1->OnClose(Form1, action);
  EXPECT_TRUE(PortFree());
  ComPortForm->Button2->Click();
  ASSERT_FALSE(PortFree());
  Form1->Button6->Click();
  EXPECT_TRUE(PortFree());
  EXPECT_TRUE(dialogs_.empty());
}

}  // namespace
