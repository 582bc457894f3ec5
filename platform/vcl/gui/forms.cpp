#include "platform/vcl/gui/forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPixmap>
#include <QTimer>
#include <QScreen>
#include <QGuiApplication>
#include <errno.h>
#include <malloc.h>
#include <QWidget>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "platform/vcl/gui/dialogs.h"
#include "platform/vcl/gui/qtbridge.h"
#include "platform/vcl/gui/qthost.h"
#include "platform/win32/user.h"

TApplication* Application = new TApplication(nullptr);

namespace vcl {
bool ControlsRegistered();
}

namespace {
// The frame the window system adds around a form's client area (borders and caption bar):
// Width and Height of a form are its outer size.
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 27;
}  // namespace

// ---- TForm

TForm::TForm(TComponent* owner) : TWinControl(owner) {
  auto* w = new QWidget;
  w->setAttribute(Qt::WA_DeleteOnClose, false);
  hook_ = new vcl::detail::EventHook(w, [this, w](QEvent* e) {
    if (e->type() == QEvent::Close) {
      // Closing by the window system goes through Close(): OnClose decides.
      e->ignore();
      vcl::Guarded(this, [this] { Close(); });
      return true;
    }
    if (e->type() == QEvent::Resize && !ComponentState().Contains(csLoading)) {
      // A size from the window system (the user, a window manager, maximizing) is taken as it
      // is and only moves the children: setting the form's geometry from here would raise the
      // next resize event inside this one.
      const int dw = w->width() - clientWidth_, dh = w->height() - clientHeight_;
      if (dw || dh) {
        clientWidth_ = w->width();
        clientHeight_ = w->height();
        StoreBounds(FLeft(), FTop(), clientWidth_ + kFrameWidth, clientHeight_ + kFrameHeight);
        Realign(dw, dh);
      }
    }
    return false;
  });
  SetWidget(w);
  FSetVisible(false);
  SetBounds(0, 0, 320 + kFrameWidth, 240 + kFrameHeight);
}

TForm::~TForm() {
  if (OnDestroy) vcl::Guarded(this, [this] { OnDestroy(this); });
  if (Application && Application->mainForm_ == this) Application->mainForm_ = nullptr;
  delete hook_;  // no event of the dying widget reaches this form any more
  // The controls go first, while the form's widget still holds theirs.
  DestroyComponents();
}

void TForm::LoadForm(std::string_view description) {
  vcl::ControlsRegistered();
  vcl::FormObject parsed = vcl::ParseForm(description);
  // The form's own class joins the registry under the name its description gives it.
  if (!vcl::ClassOf(this)) vcl::RegisterClassInfo(typeid(*this), parsed.className, &typeid(TForm));
  if (!parsed.name.empty() && Name().IsEmpty()) SetName(AnsiString(parsed.name));
  vcl::ReadRootComponent(this, parsed);
}

void TForm::AfterConstruction() {
  if (created_) return;
  created_ = true;
  if (OnCreate) vcl::Guarded(this, [this] { OnCreate(this); });
  if (FVisible() && !Widget()->isVisible()) VisibleChanged();
}

void TForm::Loaded() {
  TWinControl::Loaded();
  // Visible = True in a description shows the form once it is created.
}

void TForm::VisibleChanged() {
  if (ComponentState().Contains(csLoading)) return;
  QWidget* w = Widget();
  if (!FVisible()) {
    w->hide();
    return;
  }
  if (w->isVisible()) return;
  if (OnShow) vcl::Guarded(this, [this] { OnShow(this); });
  if (!FVisible()) return;  // OnShow hid it again
  if (position_ == poScreenCenter || position_ == poDesktopCenter || position_ == poMainFormCenter) {
    if (QScreen* s = QGuiApplication::primaryScreen()) {
      QRect r = s->availableGeometry();
      TControl::SetBounds(r.x() + (r.width() - FWidth()) / 2, r.y() + (r.height() - FHeight()) / 2, FWidth(), FHeight());
    }
  }
  ApplyBounds();
  w->show();
}

void TForm::Show() {
  FSetVisible(true);
  if (Widget()->isVisible()) Widget()->raise();
}

void TForm::Close() {
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  if (action == caNone) return;
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  if (action == caMinimize) {
    Widget()->showMinimized();
    return;
  }
  Hide();
}

void TForm::SetBounds(int left, int top, int width, int height) {
  const int ow = clientWidth_, oh = clientHeight_;
  clientWidth_ = std::max(0, width - kFrameWidth);
  clientHeight_ = std::max(0, height - kFrameHeight);
  TControl::SetBounds(left, top, width, height);
  if (!ComponentState().Contains(csLoading)) Realign(clientWidth_ - ow, clientHeight_ - oh);
}

// Left and Top place the window's frame, Width and Height include it: the widget gets the
// client area.
void TForm::ApplyBounds() {
  if (QWidget* w = Widget()) {
    w->move(FLeft(), FTop());
    w->resize(clientWidth_, clientHeight_);
  }
}

void TForm::FSetClientWidth(int v) { SetBounds(FLeft(), FTop(), v + kFrameWidth, FHeight()); }
void TForm::FSetClientHeight(int v) { SetBounds(FLeft(), FTop(), FWidth(), v + kFrameHeight); }

void TForm::FSetActiveControl(TWinControl* c) {
  active_ = c;
  if (c && c->Widget()) c->Widget()->setFocus();
}

void TForm::TextChanged() { Widget()->setWindowTitle(vcl::detail::ToQt(text_)); }

bool TForm::SaveToPng(const AnsiString& path) {
  QWidget* w = Widget();
  w->ensurePolished();
  if (!w->isVisible()) {
    w->resize(clientWidth_, clientHeight_);
    w->setAttribute(Qt::WA_DontShowOnScreen, true);
    w->show();
    QPixmap p = w->grab();
    w->hide();
    w->setAttribute(Qt::WA_DontShowOnScreen, false);
    return p.save(vcl::detail::ToQt(path), "PNG");
  }
  return w->grab().save(vcl::detail::ToQt(path), "PNG");
}

// ---- TApplication

TApplication::TApplication(TComponent* owner) : TComponent(owner) {}

TApplication::~TApplication() = default;

void TApplication::Initialize() {
  if (!QApplication::instance()) {
    static int argc = 1;
    static char name[] = "tavlin";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the program
  }
  QApplication::setQuitOnLastWindowClosed(false);
  // Qt takes the locale from the environment; the program's numbers are read and written in
  // the "C" locale whatever the user's is.
  std::setlocale(LC_NUMERIC, "C");
  // Blocks of a megabyte and more (the text of a huge answer) get mappings of their own, which
  // go back to the system when freed. Left to itself the allocator raises that limit once such
  // a block is freed, and the next ones stay in its heap for the life of the program.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  win32::InstallHost(vcl::MakeQtHost());
  terminated_ = false;
}

AnsiString TApplication::FTitle() const {
  if (!title_.IsEmpty()) return title_;
  return AnsiString(program_invocation_short_name);
}

void TApplication::Run() {
  // For demos and checks: VCL_GRAB_PNG=<file> saves the main form as shown after
  // VCL_GRAB_AFTER_MS (default 3000) milliseconds.
  if (const char* grab = std::getenv("VCL_GRAB_PNG"); grab && *grab && mainForm_) {
    const char* after = std::getenv("VCL_GRAB_AFTER_MS");
    const int ms = after ? vcl::CAtoi(after) : 3000;
    const AnsiString path(grab);
    QTimer::singleShot(ms < 0 ? 0 : ms, [this, path] {
      if (mainForm_ && !mainForm_->SaveToPng(path))
        std::fprintf(stderr, "%s: cannot write %s\n", FTitle().c_str(), path.c_str());
    });
  }
  if (mainForm_) mainForm_->Show();
  while (HandleMessage()) {
  }
  terminated_ = true;
  // The windows go before Qt does.
  DestroyComponents();
}

bool TApplication::HandleMessage() {
  using Clock = std::chrono::steady_clock;
  static Clock::time_point lastTurn;
  const win32::OwnLoop own;
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      return false;
    }
    vcl::Guarded(this, [&msg] {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    });
    // While the queue stays busy, the GUI still gets a turn every millisecond.
    const auto now = Clock::now();
    if (now - lastTurn >= std::chrono::milliseconds(1)) {
      lastTurn = now;
      vcl::Guarded(this, [] {
        const win32::PumpFrame frame;
        win32::CurrentHost().Wait(0);
      });
    }
    return true;
  }
  lastTurn = Clock::now();
  vcl::Guarded(this, [] { MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT); });
  return true;
}

void TApplication::ProcessMessages() {
  const win32::OwnLoop own(true);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop further out
      return;
    }
    vcl::Guarded(this, [&msg] {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    });
  }
}

// The loops end when they meet the quit message, nested library waits first.
void TApplication::Terminate() { PostQuitMessage(0); }

void TApplication::HandleException(TObject* sender) {
  // Reporting never raises: an exception while one is shown is written to stderr instead.
  auto report = [&](Exception* e) {
    try {
      if (OnException) OnException(sender, e);
      else ShowException(e);
    } catch (const std::exception& again) {
      std::fprintf(stderr, "%s: %s (while showing: %s)\n", FTitle().c_str(), again.what(), e->Message.c_str());
    } catch (...) {
      std::fprintf(stderr, "%s: %s\n", FTitle().c_str(), e->Message.c_str());
    }
  };
  try {
    throw;
  } catch (const EAbort&) {
  } catch (Exception& e) {
    report(&e);
  } catch (const std::exception& e) {
    Exception wrapped(e.what());
    report(&wrapped);
  } catch (...) {
    Exception unknown("Unknown exception");
    report(&unknown);
  }
}

void TApplication::ShowException(Exception* e) {
  AnsiString msg = e->Message;
  // A sentence gets its full stop, unless the text ends in punctuation already.
  if (!msg.IsEmpty() && static_cast<unsigned char>(msg[msg.Length()]) > '.') msg += '.';
  vcl::ShowErrorBox(FTitle(), msg);
}

void TApplication::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component == mainForm_) mainForm_ = nullptr;
}
