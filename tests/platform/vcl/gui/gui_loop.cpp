#include <algorithm>
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>
#include <string>
#include <vector>

#include "gui_env.h"

using guitest::PumpUntil;

namespace {

// A window of the queue whose procedure runs what the test gives it.
struct TestWindow {
  static std::function<void(UINT, WPARAM)>& Action() {
    static std::function<void(UINT, WPARAM)> a;
    return a;
  }
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m >= WM_USER && Action()) {
      Action()(m, w);
      return 0;
    }
    return DefWindowProcA(h, m, w, l);
  }
  HWND hwnd = nullptr;
  TestWindow() {
    static bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = Proc;
      wc.lpszClassName = "VclLoopTestWindow";
      return RegisterClassA(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    hwnd = CreateWindowExA(0, "VclLoopTestWindow", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  }
  ~TestWindow() {
    DestroyWindow(hwnd);
    Action() = nullptr;
  }
};

struct DialogRecorder {
  std::vector<vcl::DialogCall> calls;
  int answer = mrOk;
  DialogRecorder() {
    vcl::test::SetDialogHook([this](const vcl::DialogCall& c) {
      calls.push_back(c);
      return answer;
    });
  }
  ~DialogRecorder() { vcl::test::SetDialogHook(nullptr); }
};

std::vector<QMessageBox*> VisibleMessageBoxes() {
  std::vector<QMessageBox*> boxes;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes.push_back(box);
  return boxes;
}

QMessageBox* VisibleMessageBox() {
  const auto boxes = VisibleMessageBoxes();
  return boxes.empty() ? nullptr : boxes.back();
}

}  // namespace

TEST(Loop, TimerTicksInsideABlockingWait) {
  TComponent owner(nullptr);
  auto* timer = new TTimer(&owner);
  int ticks = 0;
  timer->Interval = 20;
  timer->OnTimer = TNotifyEvent([&ticks](TObject*) { ++ticks; });
  // The library's blocking calls pump the queue like this; ticks arrive inside.
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  timer->Enabled = false;
  const int stopped = ticks;
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(ticks, stopped);
  timer->Enabled = true;
  EXPECT_TRUE(PumpUntil([&] { return ticks > stopped; }));
  delete timer;  // a destroyed timer stops ticking
  PumpUntil([] { return false; }, 60);
}

TEST(Loop, TimerHandlerExceptionIsShownAndTicksGoOn) {
  DialogRecorder dialogs;
  TComponent owner(nullptr);
  auto* timer = new TTimer(&owner);
  int ticks = 0;
  timer->Interval = 10;
  timer->OnTimer = TNotifyEvent([&ticks](TObject*) {
    if (++ticks == 1) throw Exception("143: Busy performing current action.");
  });
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].text, "143: Busy performing current action.");  // ends in '.': kept
  EXPECT_EQ(dialogs.calls[0].caption, Application->Title());
  EXPECT_EQ(dialogs.calls[0].type, mtError);
}

TEST(Loop, MessageDlgHookRecordsTheDialog) {
  DialogRecorder dialogs;
  dialogs.answer = mrOk;
  EXPECT_EQ(MessageDlg("Send Error", mtError, TMsgDlgButtons() << mbOK, 0), mrOk);
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].text, "Send Error");
  EXPECT_EQ(dialogs.calls[0].caption, "Error");
  EXPECT_EQ(dialogs.calls[0].type, mtError);
  EXPECT_TRUE(dialogs.calls[0].buttons == TMsgDlgButtons{mbOK});
  Application->Title = "tavlin";
  Exception e("10061: [10061] Connection refused");
  Application->ShowException(&e);
  EXPECT_EQ(dialogs.calls[1].caption, "tavlin");
  EXPECT_EQ(dialogs.calls[1].text, "10061: [10061] Connection refused.");
}

TEST(Loop, MessageDlgKeepsThePumpGoing) {
  TestWindow win;
  bool handledWhileUp = false;
  int timerTicks = 0;
  TComponent owner(nullptr);
  auto* timer = new TTimer(&owner);
  timer->Interval = 10;
  // The timer goes on ticking while the dialog is up; after the posted message was handled
  // too, it closes the dialog.
  timer->OnTimer = TNotifyEvent([&](TObject*) {
    QMessageBox* box = VisibleMessageBox();
    if (box) ++timerTicks;
    if (box && handledWhileUp && timerTicks >= 2) box->button(QMessageBox::Ok)->click();
  });
  TestWindow::Action() = [&](UINT, WPARAM) { handledWhileUp = VisibleMessageBox() != nullptr; };
  ASSERT_TRUE(PostMessageA(win.hwnd, WM_USER, 0, 0));
  const int result = MessageDlg("Open Error", mtError, TMsgDlgButtons() << mbOK, 0);
  EXPECT_TRUE(handledWhileUp);
  EXPECT_GE(timerTicks, 2);
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(VisibleMessageBox(), nullptr);
}

TEST(Loop, FailuresAtEveryTickShareTheOpenBoxInsteadOfNestingLoops) {
  TComponent owner(nullptr);
  auto* timer = new TTimer(&owner);
  timer->Interval = 5;
  int ticks = 0, mostBoxes = 0;
  std::vector<std::string> shown(1);  // caption and text of the open box as each tick began
  // Each tick fails, by an exception or by a box of its own; the box is answered at ticks 20
  // and 30.
  timer->OnTimer = TNotifyEvent([&](TObject*) {
    const auto boxes = VisibleMessageBoxes();
    mostBoxes = std::max(mostBoxes, static_cast<int>(boxes.size()));
    shown.push_back(boxes.empty() ? "" : (boxes.back()->windowTitle() + "|" + boxes.back()->text()).toStdString());
    if (++ticks == 20 || ticks == 30)
      for (QMessageBox* box : boxes) box->button(QMessageBox::Ok)->click();
    if (ticks == 20 || ticks >= 30) return;
    if (ticks % 2) throw Exception("10061: [10061] Connection refused");
    MessageDlg("Send Error", mtError, TMsgDlgButtons() << mbOK, 0);
  });
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 30 && !VisibleMessageBox(); }));
  timer->Enabled = false;
  EXPECT_EQ(mostBoxes, 1);
  const std::string title = Application->Title().c_str();
  for (int t = 2; t <= 30; ++t) {
    const std::string last = t == 21 ? "" : t % 2 ? "Error|Send Error" : title + "|10061: [10061] Connection refused.";
    EXPECT_EQ(shown[t], last) << "tick " << t;
  }
}

TEST(Loop, HandlerExceptionDoesNotUnwindTheLoop) {
  DialogRecorder dialogs;
  TestWindow win;
  TComponent owner(nullptr);
  auto* button = new TButton(&owner);
  button->OnClick = TNotifyEvent([](TObject*) { throw EConvertError("'8o' is not a valid integer value"); });
  std::vector<int> handled;
  TestWindow::Action() = [&](UINT msg, WPARAM w) {
    handled.push_back(static_cast<int>(w));
    if (w == 1) static_cast<QPushButton*>(button->Widget())->click();  // through Qt's signal
    if (w == 2) throw std::runtime_error("from a window procedure");
    if (w == 4) PostQuitMessage(0);
    (void)msg;
  };
  for (WPARAM i = 1; i <= 4; ++i) PostMessageA(win.hwnd, WM_USER, i, 0);
  while (Application->HandleMessage()) {
  }
  EXPECT_EQ(handled, (std::vector<int>{1, 2, 3, 4}));
  ASSERT_EQ(dialogs.calls.size(), 2u);
  EXPECT_EQ(dialogs.calls[0].text, "'8o' is not a valid integer value.");
  EXPECT_EQ(dialogs.calls[1].text, "from a window procedure.");
  // Silent exceptions stay silent.
  try {
    Abort();
  } catch (...) {
    Application->HandleException(nullptr);
  }
  EXPECT_EQ(dialogs.calls.size(), 2u);
}

namespace {
class TQuitForm : public TForm {
 public:
  explicit TQuitForm(TComponent* owner) : TForm(owner) {
    RegisterHandler("FormShow", &TQuitForm::FormShow);
    RegisterHandler("FormClose", &TQuitForm::FormClose);
    LoadForm("object QuitForm: TQuitForm\n  OnShow = FormShow\n  OnClose = FormClose\nend\n");
  }
  void FormShow(TObject*) {
    ++shows;
    // Closing the main form from a queued message ends Run.
    QTimer::singleShot(20, [this] { Close(); });
    throw Exception("shown with an error");
  }
  void FormClose(TObject*, TCloseAction&) { ++closes; }
  static inline int shows = 0;
  static inline int closes = 0;
};
}  // namespace

TEST(Loop, RunEndsWhenTheMainFormClosesAndDestroysTheForms) {
  DialogRecorder dialogs;
  TQuitForm* form = nullptr;
  Application->CreateForm(form);
  ASSERT_EQ(Application->MainForm(), form);
  Application->Run();
  EXPECT_EQ(TQuitForm::shows, 1);
  EXPECT_EQ(TQuitForm::closes, 1);
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].text, "shown with an error.");
  EXPECT_EQ(Application->ComponentCount(), 0);
  EXPECT_EQ(Application->MainForm(), nullptr);
  EXPECT_TRUE(Application->Terminated());
}

TEST(Loop, QuitWhileADialogIsUpClosesItAndReachesTheOuterLoop) {
  TestWindow win;
  TestWindow::Action() = [](UINT, WPARAM) { PostQuitMessage(3); };
  PostMessageA(win.hwnd, WM_USER, 0, 0);
  EXPECT_EQ(MessageDlg("Stock Price Length = 0 Error", mtError, TMsgDlgButtons() << mbOK, 0), mrCancel);
  EXPECT_EQ(VisibleMessageBox(), nullptr);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
}

TEST(Loop, ScreenCursorOverridesAndRestores) {
  Screen->Cursor = crHourGlass;
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Screen->Cursor = crHourGlass;  // setting it again stacks nothing
  Screen->Cursor = crDefault;
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Screen->Cursor(), crDefault);
}

TEST(Loop, GuiGetsTurnsWhileTheQueueStaysBusy) {
  TestWindow win;
  const auto start = guitest::Clock::now();
  long long guiTurnAt = -1;
  int messages = 0;
  // Each message posts the next one for 200 ms, so the queue is never empty meanwhile.
  TestWindow::Action() = [&](UINT, WPARAM) {
    ++messages;
    if (guitest::MsSince(start) < 200) PostMessageA(win.hwnd, WM_USER, 0, 0);
    else PostQuitMessage(0);
  };
  QTimer::singleShot(0, [&] { guiTurnAt = guitest::MsSince(start); });
  PostMessageA(win.hwnd, WM_USER, 0, 0);
  while (Application->HandleMessage()) {
  }
  EXPECT_GT(messages, 100);
  ASSERT_GE(guiTurnAt, 0);
  EXPECT_LT(guiTurnAt, 150);  // long before the flood ended
}

// A library's wait on a busy queue gives the GUI its turns inside PeekMessageA. A report asked
// for in such a turn (Enter refused while a transfer runs) ran its box's loop above the wait,
// which then saw neither its data's end nor its time-out until OK was pressed.
TEST(Loop, ReportFromAGuiTurnOfABusyLibraryWaitRunsNoLoop) {
  TestWindow win;
  bool stop = false, waitEnded = false, boxUpOnReturn = false;
  TestWindow::Action() = [&](UINT m, WPARAM) {
    if (m != WM_USER) {
      if (!stop) PostMessageA(win.hwnd, WM_USER + 1, 0, 0);  // the transfer's next block
      return;
    }
    PostMessageA(win.hwnd, WM_USER + 1, 0, 0);
    PumpUntil([&] { return stop; }, 5000);
    waitEnded = true;
  };
  QTimer::singleShot(20, [&] {
    MessageDlg("143: Busy performing current action.", mtError, TMsgDlgButtons() << mbOK, 0);
    boxUpOnReturn = VisibleMessageBox() != nullptr;
    stop = true;
  });
  // Answers a box that runs its own loop, so that a failure ends too.
  QTimer::singleShot(1000, [] {
    if (QMessageBox* box = VisibleMessageBox()) box->button(QMessageBox::Ok)->click();
  });
  PostMessageA(win.hwnd, WM_USER, 0, 0);
  const auto start = guitest::Clock::now();
  while (!waitEnded && guitest::MsSince(start) < 5000 && Application->HandleMessage()) {
  }
  EXPECT_TRUE(waitEnded);
  EXPECT_TRUE(boxUpOnReturn);
  if (QMessageBox* box = VisibleMessageBox()) box->button(QMessageBox::Ok)->click();
  EXPECT_TRUE(PumpUntil([] { return !VisibleMessageBox(); }, 2000));
}
