#include "platform/vcl/gui/stdctrls.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/vcl/gui/forms.h"
#include "platform/vcl/gui/qtbridge.h"

using vcl::detail::FromQt;
using vcl::detail::ToQt;

// ---- TLabel

TLabel::TLabel(TComponent* owner) : TControl(owner) {
  auto* l = new QLabel;
  l->setTextFormat(Qt::PlainText);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SetWidget(l);
  SetBounds(0, 0, 65, 13);
}

// Caption keeps the whole text; the widget gets no more than a grid cell would draw.
void TLabel::TextChanged() {
  using vcl::detail::kShownChars;
  QString shown = vcl::detail::StripAccel(text_.Length() > kShownChars ? text_.SubString(1, kShownChars) : text_);
  if (text_.Length() > kShownChars) shown += QChar(0x2026);
  static_cast<QLabel*>(Widget())->setText(shown);
  Fit();
}

void TLabel::FontChanged() {
  TControl::FontChanged();
  Fit();
}

void TLabel::Loaded() {
  TControl::Loaded();
  Fit();
}

void TLabel::FSetAutoSize(bool v) {
  autoSize_ = v;
  Fit();
}

void TLabel::FSetWordWrap(bool v) {
  wordWrap_ = v;
  static_cast<QLabel*>(Widget())->setWordWrap(v);
  Fit();
}

void TLabel::FSetAlignment(TAlignment v) {
  alignment_ = v;
  Qt::Alignment h = v == taCenter ? Qt::AlignHCenter : v == taRightJustify ? Qt::AlignRight : Qt::AlignLeft;
  static_cast<QLabel*>(Widget())->setAlignment(h | Qt::AlignTop);
}

// An auto-sized label takes the size of its text; a word-wrapped one keeps its width.
void TLabel::Fit() {
  if (!autoSize_ || ComponentState().Contains(csLoading)) return;
  auto* l = static_cast<QLabel*>(Widget());
  if (wordWrap_) {
    int h = l->heightForWidth(FWidth());
    if (h > 0) SetBounds(FLeft(), FTop(), FWidth(), h);
  } else {
    QSize s = l->sizeHint();
    SetBounds(FLeft(), FTop(), s.width(), s.height());
  }
}

// ---- TEdit

namespace {

class EditWidget : public QLineEdit {
 public:
  explicit EditWidget(TEdit* owner) : owner_(owner) {}

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    const QString t = e->text();
    if (t.size() == 1 && t[0].unicode() < 256 && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      const char typed = static_cast<char>(t[0].unicode());
      char key = 0;
      bool failed = true;
      vcl::Guarded(owner_, [&] {
        key = owner_->KeyPress(typed);
        failed = false;
      });
      if (failed || key == 0) return;
      const auto uc = static_cast<unsigned char>(key);
      if (uc >= 32 && uc != 127) {
        if (!isReadOnly()) insert(QString(QChar(uc)));
        return;
      }
      if (key != typed) return;  // a control character the handler made up: nothing to insert
    }
    QLineEdit::keyPressEvent(e);
  }

 private:
  TEdit* owner_;
};

}  // namespace

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
  auto* e = new EditWidget(this);
  QObject::connect(e, &QLineEdit::textEdited, [this, e](const QString& t) {
    // Pasted text follows the case rule as typed text does.
    if (charCase_ == ecNormal) return;
    QString c = charCase_ == ecUpperCase ? t.toUpper() : t.toLower();
    if (c == t) return;
    int pos = e->cursorPosition();
    e->setText(c);
    e->setCursorPosition(pos);
  });
  QObject::connect(e, &QLineEdit::textChanged, [this](const QString&) {
    if (ComponentState().Contains(csLoading) || !OnChange) return;
    vcl::Guarded(this, [this] { OnChange(this); });
  });
  SetWidget(e);
  SetBounds(0, 0, 121, 21);
}

char TEdit::KeyPress(char key) {
  if (OnKeyPress) OnKeyPress(this, key);
  if (charCase_ == ecUpperCase && key >= 'a' && key <= 'z') key = static_cast<char>(key - 'a' + 'A');
  if (charCase_ == ecLowerCase && key >= 'A' && key <= 'Z') key = static_cast<char>(key - 'A' + 'a');
  return key;
}

AnsiString TEdit::GetText() const { return FromQt(static_cast<QLineEdit*>(Widget())->text()); }

void TEdit::SetText(const AnsiString& v) {
  auto* e = static_cast<QLineEdit*>(Widget());
  QString q = ToQt(v);
  if (e->text() != q) e->setText(q);
}

void TEdit::FSetCharCase(TEditCharCase v) {
  charCase_ = v;
  // Like the framework, switching the case rule also converts the text already there.
  if (v == ecUpperCase) SetText(GetText().UpperCase());
  if (v == ecLowerCase) SetText(GetText().LowerCase());
}

void TEdit::FSetMaxLength(int v) {
  maxLength_ = v;
  static_cast<QLineEdit*>(Widget())->setMaxLength(v > 0 ? v : 32767);
}

void TEdit::FSetReadOnly(bool v) {
  readOnly_ = v;
  static_cast<QLineEdit*>(Widget())->setReadOnly(v);
}

// ---- TButton

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  auto* b = new QPushButton;
  b->setAutoDefault(false);
  QObject::connect(b, &QPushButton::clicked, [this] { vcl::Guarded(this, [this] { Click(); }); });
  SetWidget(b);
  SetBounds(0, 0, 75, 25);
}

void TButton::Click() {
  if (OnClick) OnClick(this);
}

void TButton::TextChanged() { static_cast<QPushButton*>(Widget())->setText(ToQt(text_)); }

void TButton::FSetDefault(bool v) {
  default_ = v;
  static_cast<QPushButton*>(Widget())->setDefault(v);
}

// ---- TGroupBox

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) {
  auto* g = new QGroupBox;
  // The caption sits on the frame's top line, and the children's coordinates count from the
  // box's outer corner, as the designed layouts expect.
  g->setStyleSheet(
      "QGroupBox { border: 1px solid palette(mid); margin-top: 7px; }"
      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 7px; padding: 0 2px; }");
  SetWidget(g);
  SetBounds(0, 0, 185, 105);
}

void TGroupBox::TextChanged() { static_cast<QGroupBox*>(Widget())->setTitle(ToQt(text_)); }

// ---- TComboBox

class TComboBox::ItemList : public TStrings {
 public:
  explicit ItemList(TComboBox* owner) : owner_(owner) {}
  QComboBox* Box() const { return static_cast<QComboBox*>(owner_->Widget()); }
  int Count() const override { return Box()->count(); }
  AnsiString Get(int index) const override {
    CheckIndex(index, Count());
    return FromQt(Box()->itemText(index));
  }
  void Put(int index, const AnsiString& s) override {
    CheckIndex(index, Count());
    Box()->setItemText(index, ToQt(s));
  }
  void Insert(int index, const AnsiString& s) override {
    CheckIndex(index, Count() + 1);
    QComboBox* b = Box();
    // Qt selects the first item added to an empty list; the framework selects nothing.
    const int before = b->currentIndex();
    const QString edit = b->isEditable() ? b->currentText() : QString();
    b->insertItem(index, ToQt(s));
    if (before < 0) {
      b->setCurrentIndex(-1);
      if (b->isEditable()) b->setEditText(edit);
    }
  }
  void Delete(int index) override {
    CheckIndex(index, Count());
    Box()->removeItem(index);
  }
  void Clear() override { Box()->clear(); }

 private:
  TComboBox* owner_;
};

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner), items_(new ItemList(this)) {
  auto* b = new QComboBox;
  b->setEditable(true);
  QObject::connect(b, &QComboBox::activated, [this](int) {
    if (OnChange) vcl::Guarded(this, [this] { OnChange(this); });
  });
  SetWidget(b);
  SetBounds(0, 0, 145, 21);
}

TComboBox::~TComboBox() { delete items_; }

int TComboBox::FItemIndex() const { return static_cast<QComboBox*>(Widget())->currentIndex(); }

void TComboBox::FSetItemIndex(int v) {
  auto* b = static_cast<QComboBox*>(Widget());
  b->setCurrentIndex(v >= 0 && v < b->count() ? v : -1);
}

void TComboBox::FSetStyle(TComboBoxStyle v) {
  style_ = v;
  auto* b = static_cast<QComboBox*>(Widget());
  const int index = b->currentIndex();
  b->setEditable(v == csDropDown || v == csSimple);
  b->setCurrentIndex(index);
}

AnsiString TComboBox::GetText() const {
  auto* b = static_cast<QComboBox*>(Widget());
  if (b->isEditable()) return FromQt(b->currentText());
  return b->currentIndex() >= 0 ? FromQt(b->itemText(b->currentIndex())) : AnsiString();
}

void TComboBox::SetText(const AnsiString& v) {
  auto* b = static_cast<QComboBox*>(Widget());
  if (b->isEditable()) {
    b->setEditText(ToQt(v));
    return;
  }
  // A list-only box can show only its items: the text selects the item that has it.
  int i = items_->IndexOf(v);
  if (i >= 0) b->setCurrentIndex(i);
}
