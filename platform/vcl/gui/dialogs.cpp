#include "platform/vcl/gui/dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <cstdio>
#include <QMessageBox>
#include <utility>
#include <vector>

#include "platform/vcl/gui/forms.h"
#include "platform/vcl/gui/qtbridge.h"
#include "platform/win32/host.h"
#include "platform/win32/user.h"

namespace vcl {
namespace {

std::function<int(const DialogCall&)>& Hook() {
  static std::function<int(const DialogCall&)> hook;
  return hook;
}

struct ButtonMap {
  TMsgDlgBtn btn;
  QMessageBox::StandardButton qt;
  int result;
};
constexpr ButtonMap kButtons[] = {
    {mbYes, QMessageBox::Yes, mrYes},           {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},              {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},     {mbRetry, QMessageBox::Retry, mrRetry},
    {mbIgnore, QMessageBox::Ignore, mrIgnore},  {mbAll, QMessageBox::YesToAll, mrAll},
    {mbNoToAll, QMessageBox::NoToAll, mrNoToAll}, {mbYesToAll, QMessageBox::YesToAll, mrYesToAll},
    {mbHelp, QMessageBox::Help, mrNone},
};

QMessageBox::Icon IconOf(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return QMessageBox::Warning;
    case mtError: return QMessageBox::Critical;
    case mtInformation: return QMessageBox::Information;
    case mtConfirmation: return QMessageBox::Question;
    case mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

// The open box that only reports (its one button is OK), if any.
QMessageBox* openNotice = nullptr;
// Reporting boxes shown without a loop of their own; each goes once it has been closed and no
// signal of it can be running.
std::vector<QMessageBox*> unheldNotices;

void DropClosedNotices() {
  std::erase_if(unheldNotices, [](QMessageBox* box) {
    if (box == openNotice) return false;
    delete box;
    return true;
  });
}

// Shows the box and runs our loop on the thread's queue until it is closed: Qt's exec()
// would not dispatch the queue, and timers and socket notifications would stop meanwhile.
int RunDialog(const DialogCall& call) {
  if (Hook()) return Hook()(call);
  if (!QApplication::instance()) {
    // No GUI yet (before Application->Initialize): the text must not be lost.
    std::fprintf(stderr, "%s: %s\n", call.caption.c_str(), call.text.c_str());
    return mrCancel;
  }
  const bool notice = call.buttons.Empty() || call.buttons == TMsgDlgButtons{mbOK};
  if (notice && openNotice) {
    // A failure at every timer tick would otherwise open a box inside the loop of the last
    // one, and an unattended program would nest loops until its stack ran out. The open box
    // shows the newest report instead; there is nothing to answer, so nothing to wait for.
    openNotice->setIcon(IconOf(call.type));
    openNotice->setWindowTitle(detail::ToQt(call.caption));
    openNotice->setText(detail::ToQt(call.text));
    return mrOk;
  }
  DropClosedNotices();
  auto* box = new QMessageBox(IconOf(call.type), detail::ToQt(call.caption), detail::ToQt(call.text));
  box->setTextFormat(Qt::PlainText);
  box->setWindowModality(Qt::ApplicationModal);
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  for (const ButtonMap& b : kButtons)
    if (call.buttons.Contains(b.btn)) box->addButton(b.qt);
  if (box->buttons().isEmpty()) box->addButton(QMessageBox::Ok);
  if (notice && win32::InsideForeignPump()) {
    // Somebody else's wait runs below (a library's blocking call, such as the fetch that a
    // refused Get Data reports on): a loop here would hold it, past its time-out, until the
    // box was closed. The box stays up, modal to the user, and that wait's pumping serves it.
    QObject::connect(box, &QDialog::finished, [box](int) {
      box->hide();
      if (openNotice == box) openNotice = nullptr;
    });
    unheldNotices.push_back(box);
    openNotice = box;
    box->show();
    return mrOk;
  }
  int result = mrCancel;
  bool done = false;
  auto finish = [&done, box](int r, int& out) {
    if (done) return;
    out = r;
    done = true;
    if (openNotice == box) openNotice = nullptr;  // closed, though its loop may not run yet
    PostMessageA(nullptr, WM_NULL, 0, 0);  // ends the wait of the loop below
  };
  QObject::connect(box, &QMessageBox::buttonClicked, [&](QAbstractButton* button) {
    const auto sb = box->standardButton(button);
    int r = mrCancel;
    for (const ButtonMap& b : kButtons)
      if (b.qt == sb) r = b.result;
    finish(r, result);
  });
  QObject::connect(box, &QDialog::finished, [&](int) { finish(mrCancel, result); });
  box->show();
  if (notice) openNotice = box;
  bool quit = false;
  while (!done) {
    if (!Application->HandleMessage()) {
      quit = true;
      break;
    }
  }
  if (openNotice == box) openNotice = nullptr;
  box->hide();
  delete box;
  if (quit) PostQuitMessage(0);  // the program is ending: the loops further out see it too
  return result;
}

AnsiString TypeCaption(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return "Warning";
    case mtError: return "Error";
    case mtInformation: return "Information";
    case mtConfirmation: return "Confirm";
    case mtCustom: break;
  }
  return Application->FTitle();
}

}  // namespace

void ShowErrorBox(const AnsiString& caption, const AnsiString& text) {
  RunDialog(DialogCall{caption, text, mtError, TMsgDlgButtons{mbOK}});
}

namespace test {
void SetDialogHook(std::function<int(const DialogCall&)> hook) { Hook() = std::move(hook); }
}  // namespace test

}  // namespace vcl

int MessageDlg(const AnsiString& msg, TMsgDlgType type, TMsgDlgButtons buttons, int) {
  return vcl::RunDialog(vcl::DialogCall{vcl::TypeCaption(type), msg, type, buttons});
}
