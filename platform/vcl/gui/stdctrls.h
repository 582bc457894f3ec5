// Standard controls: label, edit, button, group box, combo box.
#pragma once
#include "platform/vcl/gui/controls.h"

class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* owner);
  bool FAutoSize() const { return autoSize_; }
  void FSetAutoSize(bool v);
  bool FWordWrap() const { return wordWrap_; }
  void FSetWordWrap(bool v);
  TAlignment FAlignment() const { return alignment_; }
  void FSetAlignment(TAlignment v);
  TWinControl* FFocusControl() const { return focus_; }
  void FSetFocusControl(TWinControl* c) { focus_ = c; }

  Property<TLabel, bool, &TLabel::FAutoSize, &TLabel::FSetAutoSize> AutoSize{this};
  Property<TLabel, bool, &TLabel::FWordWrap, &TLabel::FSetWordWrap> WordWrap{this};
  Property<TLabel, TAlignment, &TLabel::FAlignment, &TLabel::FSetAlignment> Alignment{this};

 protected:
  void TextChanged() override;
  void FontChanged() override;
  void Loaded() override;

 private:
  void Fit();
  bool autoSize_ = true;
  bool wordWrap_ = false;
  TAlignment alignment_ = taLeftJustify;
  TWinControl* focus_ = nullptr;
};

enum TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };
using TKeyPressEvent = Closure<void(TObject*, char&)>;

class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);
  AnsiString FText() const { return GetText(); }
  void FSetText(const AnsiString& v) { SetText(v); }
  TEditCharCase FCharCase() const { return charCase_; }
  void FSetCharCase(TEditCharCase v);
  int FMaxLength() const { return maxLength_; }
  void FSetMaxLength(int v);
  bool FReadOnly() const { return readOnly_; }
  void FSetReadOnly(bool v);

  Property<TEdit, AnsiString, &TEdit::FText, &TEdit::FSetText> Text{this};
  Property<TEdit, TEditCharCase, &TEdit::FCharCase, &TEdit::FSetCharCase> CharCase{this};
  Property<TEdit, int, &TEdit::FMaxLength, &TEdit::FSetMaxLength> MaxLength{this};
  Property<TEdit, bool, &TEdit::FReadOnly, &TEdit::FSetReadOnly> ReadOnly{this};

  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnChange;

  // What a typed character goes through: OnKeyPress may change it or, with 0, swallow it.
  // Returns the character to insert (0: none).
  char KeyPress(char key);

 protected:
  AnsiString GetText() const override;
  void SetText(const AnsiString& v) override;

 private:
  TEditCharCase charCase_ = ecNormal;
  int maxLength_ = 0;
  bool readOnly_ = false;
};

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);
  // Runs OnClick, whether the button is enabled or not.
  virtual void Click();
  bool FDefault() const { return default_; }
  void FSetDefault(bool v);
  bool FCancel() const { return cancel_; }
  void FSetCancel(bool v) { cancel_ = v; }
  int FModalResult() const { return modalResult_; }
  void FSetModalResult(int v) { modalResult_ = v; }

  Property<TButton, bool, &TButton::FDefault, &TButton::FSetDefault> Default{this};
  Property<TButton, bool, &TButton::FCancel, &TButton::FSetCancel> Cancel{this};
  Property<TButton, int, &TButton::FModalResult, &TButton::FSetModalResult> ModalResult{this};

  TNotifyEvent OnClick;

 protected:
  void TextChanged() override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = 0;
};

class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TComponent* owner);

 protected:
  void TextChanged() override;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

class TComboBox : public TWinControl {
 public:
  explicit TComboBox(TComponent* owner);
  ~TComboBox() override;
  TStrings* FItems() const { return items_; }
  int FItemIndex() const;
  void FSetItemIndex(int v);
  TComboBoxStyle FStyle() const { return style_; }
  void FSetStyle(TComboBoxStyle v);
  AnsiString FText() const { return GetText(); }
  void FSetText(const AnsiString& v) { SetText(v); }

  Property<TComboBox, int, &TComboBox::FItemIndex, &TComboBox::FSetItemIndex> ItemIndex{this};
  Property<TComboBox, TComboBoxStyle, &TComboBox::FStyle, &TComboBox::FSetStyle> Style{this};
  Property<TComboBox, AnsiString, &TComboBox::FText, &TComboBox::FSetText> Text{this};
  TStrings* const& Items = items_;

  TNotifyEvent OnChange;

 protected:
  AnsiString GetText() const override;
  void SetText(const AnsiString& v) override;

 private:
  class ItemList;
  friend class ItemList;
  TStrings* items_;
  TComboBoxStyle style_ = csDropDown;
  int itemIndex_ = -1;
};
