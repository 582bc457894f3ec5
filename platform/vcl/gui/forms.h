// Forms and the application object.
//
// A form class is declared in app code like this (no Qt, no moc):
//
//   class TForm1 : public TForm {
//    public:
//     TEdit* eSymbols = nullptr;            // one field per component of the description
//     TButton* bUpdate = nullptr;
//     explicit TForm1(TComponent* Owner);
//     void FormCreate(TObject* Sender);     // handlers: members with the event's signature
//     void eSymbolsKeyPress(TObject* Sender, char& Key);
//   };
//
//   VCL_DECLARE_FORM(Unit1_Form1)           // the embedded description (see README.md)
//
//   TForm1::TForm1(TComponent* Owner) : TForm(Owner) {
//     RegisterField("eSymbols", eSymbols);
//     RegisterField("bUpdate", bUpdate);
//     RegisterHandler("FormCreate", &TForm1::FormCreate);
//     RegisterHandler("eSymbolsKeyPress", &TForm1::eSymbolsKeyPress);
//     LoadForm(VCL_FORM(Unit1_Form1));      // creates the controls, binds fields and events
//   }
//
// and created by Application->CreateForm(Form1), which runs OnCreate once the constructor is
// done. A form made with `new` gets OnCreate from AfterConstruction().
#pragma once
#include <string_view>

#include "platform/vcl/gui/controls.h"

class QObject;

enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter,
                 poDesktopCenter, poMainFormCenter, poOwnerFormCenter };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = Closure<void(TObject*, TCloseAction&)>;

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  // Reads the form's description: the root's class name in it may be any registered name.
  void LoadForm(std::string_view description);
  // Runs OnCreate (once).
  virtual void AfterConstruction();

  // Runs OnShow, then displays the form; an exception of OnShow is shown by the application
  // and the form is displayed all the same.
  void Show();
  void Hide() { FSetVisible(false); }
  // Runs OnClose; then hides the form, or ends the program when it is the main form.
  void Close();

  int FClientWidth() const { return clientWidth_; }
  void FSetClientWidth(int v);
  int FClientHeight() const { return clientHeight_; }
  void FSetClientHeight(int v);
  int ClientWidth() const override { return clientWidth_; }
  int ClientHeight() const override { return clientHeight_; }
  void SetBounds(int left, int top, int width, int height) override;
  TPosition FPosition() const { return position_; }
  void FSetPosition(TPosition v) { position_ = v; }
  TWinControl* FActiveControl() const { return active_; }
  void FSetActiveControl(TWinControl* c);

  Property<TForm, TPosition, &TForm::FPosition, &TForm::FSetPosition> Position{this};

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnDestroy;
  TCloseEvent OnClose;

  // The form as a PNG image (tests, screenshots). Returns false when it cannot be written.
  bool SaveToPng(const AnsiString& path);

 protected:
  void TextChanged() override;
  void Loaded() override;
  void VisibleChanged() override;
  void ApplyBounds() override;

 private:
  bool created_ = false;
  QObject* hook_ = nullptr;
  int clientWidth_ = 0, clientHeight_ = 0;
  TPosition position_ = poDesigned;
  TWinControl* active_ = nullptr;
};

using TExceptionEvent = Closure<void(TObject*, Exception*)>;

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* owner);
  ~TApplication() override;

  // Installs the Qt host on the calling thread (making a QApplication if there is none) and
  // reads numbers in the "C" locale from then on.
  void Initialize();
  template <class T>
  void CreateForm(T*& reference) {
    T* form = new T(this);
    reference = form;
    if (!mainForm_) mainForm_ = form;
    form->AfterConstruction();
  }
  template <class T>
  void CreateForm(T** reference) {
    CreateForm(*reference);
  }
  // Shows the main form and dispatches the thread's messages until the quit message; then
  // destroys the forms.
  void Run();
  // Dispatches what is pending (messages and GUI events) without waiting.
  void ProcessMessages();
  // Dispatches one message, or waits for one when none is pending. Returns false at the quit
  // message (which it leaves for the loops further out).
  bool HandleMessage();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Call from inside a catch block: shows the exception being handled (EAbort silently).
  void HandleException(TObject* sender);
  void ShowException(Exception* e);

  TForm* MainForm() const { return mainForm_; }
  AnsiString FTitle() const;
  void FSetTitle(const AnsiString& v) { title_ = v; }
  Property<TApplication, AnsiString, &TApplication::FTitle, &TApplication::FSetTitle> Title{this};

  TExceptionEvent OnException;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TForm;
  TForm* mainForm_ = nullptr;
  AnsiString title_;
  bool terminated_ = false;
};

extern TApplication* Application;

namespace vcl {
// Runs fn; an exception it raises goes to Application->HandleException instead of further up.
// Every dispatch from the window system into a control, a form handler or a timer goes through
// it, so exceptions never unwind through a wait loop or through Qt.
template <class F>
void Guarded(TObject* sender, F&& fn) {
  try {
    fn();
  } catch (...) {
    Application->HandleException(sender);
  }
}
}  // namespace vcl

// Embedded form descriptions: vcl_embed_form(<target> <file> <name>) in CMake makes
// VCL_FORM(<name>) the file's text.
#define VCL_DECLARE_FORM(name) \
  namespace vcl::forms {       \
  std::string_view name();     \
  }
#define VCL_FORM(name) ::vcl::forms::name()
