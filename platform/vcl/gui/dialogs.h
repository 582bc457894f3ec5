// Message dialogs. They are modal to the user, but run our own loop on the thread's queue, so
// timers and socket notifications go on while a dialog is up.
#pragma once
#include <functional>

#include "platform/vcl/core/vcl.h"

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
using TMsgDlgButtons = Set<TMsgDlgBtn>;

using TModalResult = int;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;
inline constexpr TModalResult mrAll = 8;
inline constexpr TModalResult mrNoToAll = 9;
inline constexpr TModalResult mrYesToAll = 10;

// Shows msg with the type's caption ("Error", ...) and the buttons; returns the modal result
// of the button pressed (mrCancel when the dialog is closed otherwise, or the program ends).
// A box with only an OK button, asked for while another such box is open, takes the open box
// over (caption, icon, text) and returns mrOk at once, without a loop of its own.
int MessageDlg(const AnsiString& msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext);

namespace vcl {
// A box with a caption and one OK button, as the application shows exceptions; like MessageDlg,
// it takes over a box with only OK that is open already.
void ShowErrorBox(const AnsiString& caption, const AnsiString& text);

struct DialogCall {
  AnsiString caption;
  AnsiString text;
  TMsgDlgType type;
  TMsgDlgButtons buttons;
};
namespace test {
// While a hook is set, no dialog is shown: the hook gets each one and returns its result.
void SetDialogHook(std::function<int(const DialogCall&)> hook);
}  // namespace test
}  // namespace vcl
