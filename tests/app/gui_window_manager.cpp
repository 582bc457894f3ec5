// The two windows on a real X server with a window manager (Xvfb and openbox): the manager's
// own geometry events when they are mapped, a size asked of it from outside (xdotool), and
// maximizing.
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Unit1.h"
#include "app/evtavek232.h"
#include "platform/winsock/winsock.h"
#include "tests/app/window_layout.h"
#include "tests/peers/process.h"

// Font configuration and the desktop bus that Qt's X11 platform opens keep caches for the life
// of the process; the leak checker counts them.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libdbus-1.so\n"; }

namespace {

using layouttest::PumpUntil;

// Runs a command to its end; true when it exited with 0.
bool RunCommand(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Asks the window manager for a new client size of the form's window, as a user's drag does.
bool ResizeFromOutside(TForm* form, int width, int height) {
  return RunCommand({peers::FindBinary("xdotool"), "windowsize", std::to_string(form->Widget()->winId()),
                     std::to_string(width), std::to_string(height)});
}

void KeepScreenshot(const char* name) {
  if (const char* keep = getenv("TAVLIN_KEEP_PNG"))
    QGuiApplication::primaryScreen()->grabWindow(0).save(QString(keep) + "/" + name, "PNG");
}

// Waits until the log holds a line that starts with `start`, and returns that line ("" when none
// comes in time).
std::string LineOfLog(const std::string& log, const std::string& start) {
  std::string found;
  PumpUntil([&] {
    std::istringstream lines(peers::Tail(log, 100000));
    for (std::string line; std::getline(lines, line);)
      if (line.rfind(start, 0) == 0) found = line;
    return !found.empty();
  }, 10000);
  return found;
}

TEST(WindowManager, BothWindowsResizeAndMaximizeWithTheirLayout) {
  // Their output goes to files, so that nothing they leave behind holds the test's pipes.
  peers::TempDir dir("tavlin-wm");
  peers::Process xvfb({peers::FindBinary("Xvfb"), "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                      dir.File("xvfb.log"));
  const std::string display = LineOfLog(dir.File("xvfb.log"), "");
  ASSERT_FALSE(display.empty()) << peers::Tail(dir.File("xvfb.log"));
  setenv("DISPLAY", (":" + display).c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  peers::Process openbox({peers::FindBinary("openbox"), "--sm-disable", "--startup", "echo openbox-ready"},
                         dir.File("openbox.log"));
  ASSERT_EQ(LineOfLog(dir.File("openbox.log"), "openbox-ready"), "openbox-ready") << peers::Tail(dir.File("openbox.log"));

  // No display and no quote service: the start-up open and fetch fail at once.
  setenv("TAVLIN_COM3", "/nonexistent/tavlin-wm-com3", 1);
  QuoteServiceHost = ("127.0.0.1:" + std::to_string(peers::FreePort())).c_str();
  std::vector<std::string> dialogs;
  vcl::test::SetDialogHook([&dialogs](const vcl::DialogCall& call) {
    dialogs.push_back(call.text.c_str());
    return mrOk;
  });
  winsock::EnsureRegistered();
  StartupPortEntry = 0;
  Application->Initialize();
  Application->CreateForm(Form1);
  Application->CreateForm(ComPortForm);
  Form1->Timer1->Enabled = false;
  Form1->Show();
  ComPortForm->Show();
  QWidget* main = Form1->Widget();
  QWidget* port = ComPortForm->Widget();
  ASSERT_TRUE(PumpUntil([&] { return main->windowHandle()->isExposed() && port->windowHandle()->isExposed(); }));
  layouttest::ExpectMainLayout(526, 439);

  ASSERT_TRUE(ResizeFromOutside(Form1, 700, 560));
  ASSERT_TRUE(PumpUntil([] { return Form1->ClientWidth() == 700 && Form1->ClientHeight() == 560; }));
  layouttest::ExpectMainLayout(700, 560);
  main->showMaximized();
  ASSERT_TRUE(PumpUntil([main] { return main->width() > 900; }));
  layouttest::ExpectMainLayout(main->width(), main->height());
  KeepScreenshot("wm-main-maximized.png");

  ASSERT_TRUE(ResizeFromOutside(ComPortForm, 400, 300));
  ASSERT_TRUE(PumpUntil([] { return ComPortForm->ClientWidth() == 400 && ComPortForm->ClientHeight() == 300; }));
  port->showMaximized();
  ASSERT_TRUE(PumpUntil([port] { return port->width() > 900; }));
  EXPECT_EQ(ComPortForm->ClientWidth(), port->width());
  EXPECT_EQ(ComPortForm->Button2->Left(), 168);
  KeepScreenshot("wm-port-maximized.png");

  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[0], "Open Error");
  EXPECT_EQ(dialogs[1].rfind("10061: ", 0), 0u) << dialogs[1];
  // The windows go while their X server is still there.
  Application->DestroyComponents();
}

}  // namespace
