#include "platform/vcl/gui/controls.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "platform/vcl/gui/qtbridge.h"

TScreen* Screen = new TScreen(nullptr);

namespace vcl::detail {

QString StripAccel(const AnsiString& s) {
  std::string out;
  const std::string& in = s.str();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '&') {
      if (i + 1 < in.size() && in[i + 1] == '&') out += '&';
      ++i;
      if (i < in.size() && in[i] != '&') out += in[i];
      continue;
    }
    out += in[i];
  }
  return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

QColor ToQColor(TColor c) {
  auto v = static_cast<std::uint32_t>(c);
  if ((v & 0xFF000000u) == 0xFF000000u) {
    const QPalette pal = QApplication::palette();
    switch (v & 0xFF) {
      case 5: return pal.color(QPalette::Base);                 // clWindow
      case 8: return pal.color(QPalette::WindowText);           // clWindowText
      case 13: return pal.color(QPalette::Highlight);           // clHighlight
      case 14: return pal.color(QPalette::HighlightedText);     // clHighlightText
      case 15: return pal.color(QPalette::Button);              // clBtnFace
      case 16: return pal.color(QPalette::Dark);                // clBtnShadow
      case 17: return pal.color(QPalette::Disabled, QPalette::Text);  // clGrayText
      case 18: return pal.color(QPalette::ButtonText);          // clBtnText
      case 23: return pal.color(QPalette::ToolTipText);         // clInfoText
      case 24: return pal.color(QPalette::ToolTipBase);         // clInfoBk
      default: return pal.color(QPalette::Window);
    }
  }
  // The framework keeps colours as 0x00BBGGRR.
  return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF));
}

}  // namespace vcl::detail

using vcl::detail::ToQColor;

void TFont::Changed() {
  if (OnChange) OnChange(this);
}
void TFont::FSetName(const AnsiString& v) {
  name_ = v;
  Changed();
}
void TFont::FSetHeight(int v) {
  height_ = v;
  Changed();
}
// Points at 96 pixels per inch.
int TFont::FSize() const { return -height_ * 72 / 96; }
void TFont::FSetSize(int v) {
  height_ = -(v * 96 + 36) / 72;
  Changed();
}
void TFont::FSetColor(TColor v) {
  color_ = v;
  Changed();
}
void TFont::FSetStyle(TFontStyles v) {
  style_ = v;
  Changed();
}
void TFont::CopyFrom(const TFont& f) {
  name_ = f.name_;
  height_ = f.height_;
  color_ = f.color_;
  style_ = f.style_;
}

void TFont::Assign(const TPersistent& source) {
  const auto* f = dynamic_cast<const TFont*>(&source);
  if (!f) return TPersistent::Assign(source);
  name_ = f->name_;
  height_ = f->height_;
  color_ = f->color_;
  style_ = f->style_;
  Changed();
}

struct TControl::Impl {
  QPointer<QWidget> widget;
};

TControl::TControl(TComponent* owner) : TComponent(owner), impl_(new Impl) {
  font_.OnChange = [this](TObject*) {
    fontSet_ = true;
    FontChanged();
  };
}

TControl::~TControl() {
  if (parent_) {
    auto& list = parent_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    parent_ = nullptr;
  }
  delete impl_->widget.data();
  delete impl_;
}

QWidget* TControl::Widget() const { return impl_->widget.data(); }

void TControl::SetWidget(QWidget* w) {
  impl_->widget = w;
  w->hide();
  ApplyBounds();
  w->setEnabled(enabled_);
  TControl::FontChanged();
}

void TControl::SetBounds(int left, int top, int width, int height) {
  StoreBounds(left, top, width, height);
  ApplyBounds();
}

void TControl::StoreBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  anchorGaps_ = false;
}

void TControl::ApplyBounds() {
  if (QWidget* w = Widget()) w->setGeometry(left_, top_, width_, height_);
}

void TControl::FSetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  VisibleChanged();
}

void TControl::VisibleChanged() { UpdateShowing(); }

void TControl::UpdateShowing() {
  if (QWidget* w = Widget()) w->setVisible(visible_ && parent_ != nullptr);
}

void TControl::FSetEnabled(bool v) {
  enabled_ = v;
  if (QWidget* w = Widget()) w->setEnabled(v);
}

void TControl::SetText(const AnsiString& v) {
  if (text_ == v) return;
  text_ = v;
  TextChanged();
}

void TControl::FSetColor(TColor v) {
  color_ = v;
  if (QWidget* w = Widget(); w && w->isWindow()) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, ToQColor(v));
    w->setPalette(pal);
    w->setAutoFillBackground(true);
  }
}

namespace {
// The original's faces are not on this system: narrow faces keep the designed layouts' text
// within their controls.
void EnsureFontSubstitutes() {
  static bool done = false;
  if (done) return;
  done = true;
  for (const char* face : {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "Tahoma"})
    QFont::insertSubstitutions(face, {"DejaVu Sans Condensed", "Liberation Sans Narrow", "Arial Narrow"});
}
}  // namespace

void TControl::FontChanged() {
  QWidget* w = Widget();
  if (!w) return;
  EnsureFontSubstitutes();
  QFont f = w->font();
  f.setFamily(vcl::detail::ToQt(font_.FName()));
  int h = font_.FHeight();
  if (h < 0) f.setPixelSize(-h);
  else if (h > 0) f.setPixelSize(std::max(1, h * 4 / 5));  // cell height includes the leading
  TFontStyles st = font_.FStyle();
  f.setBold(st.Contains(fsBold));
  f.setItalic(st.Contains(fsItalic));
  f.setUnderline(st.Contains(fsUnderline));
  f.setStrikeOut(st.Contains(fsStrikeOut));
  w->setFont(f);
  QPalette pal = w->palette();
  QColor c = ToQColor(font_.FColor());
  // The disabled group keeps the style's grey: a disabled control must look disabled.
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
    pal.setColor(g, QPalette::WindowText, c);
    pal.setColor(g, QPalette::Text, c);
    pal.setColor(g, QPalette::ButtonText, c);
  }
  w->setPalette(pal);
}

void TControl::FSetAlign(TAlign v) {
  align_ = v;
  if (parent_) parent_->Realign();
}

void TControl::FSetHint(const AnsiString& v) {
  hint_ = v;
  if (QWidget* w = Widget()) w->setToolTip(vcl::detail::ToQt(v));
}

void TControl::FSetParent(TWinControl* p) {
  if (p == parent_) return;
  if (p == this) throw Exception("A control cannot be its own parent");
  if (parent_) {
    auto& list = parent_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  parent_ = p;
  if (p) p->controls_.push_back(this);
  // Until a font of its own is set, a control uses its parent's: a description that sets only
  // Font.Color changes the colour of the parent's font.
  if (p && !fontSet_) {
    font_.CopyFrom(p->font_);
    FontChanged();
  }
  if (QWidget* w = Widget()) {
    w->setParent(p ? p->Widget() : nullptr);
    ApplyBounds();
  }
  UpdateShowing();
  if (p && align_ != alNone) p->Realign();
}

void TControl::SetParentComponent(TComponent* parent) {
  if (auto* wc = dynamic_cast<TWinControl*>(parent)) FSetParent(wc);
}

TComponent* TControl::GetParentComponent() const { return parent_; }

void TControl::Loaded() {
  TComponent::Loaded();
  UpdateShowing();
}

void TControl::Repaint() {
  if (QWidget* w = Widget()) w->repaint();
}

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

// Children that have no font of their own follow their parent's.
void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl* c : controls_) {
    if (c->fontSet_) continue;
    c->font_.CopyFrom(*FFont());
    c->FontChanged();
  }
}

TWinControl::~TWinControl() {
  // Children are destroyed by their owner, not by Qt with this widget.
  for (TControl* c : controls_) {
    c->parent_ = nullptr;
    if (QWidget* w = c->Widget()) {
      w->hide();
      w->setParent(nullptr);
    }
  }
  controls_.clear();
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  const int ow = ClientWidth(), oh = ClientHeight();
  TControl::SetBounds(left, top, width, height);
  if (!ComponentState().Contains(csLoading)) Realign(ClientWidth() - ow, ClientHeight() - oh);
}

void TWinControl::Loaded() {
  TControl::Loaded();
  Realign();
}

void TWinControl::Realign(int dw, int dh) {
  if (dw || dh) {
    for (TControl* c : controls_) {
      if (c->align_ != alNone) continue;
      const TAnchors a = c->anchors_;
      if (!a.Contains(akRight) && !a.Contains(akBottom)) continue;
      // The gaps are taken before the first change of the parent's size after the control's
      // own bounds were set, and kept from then on.
      if (!c->anchorGaps_) {
        c->rightGap_ = ClientWidth() - dw - (c->left_ + c->width_);
        c->bottomGap_ = ClientHeight() - dh - (c->top_ + c->height_);
      }
      const int rightGap = c->rightGap_, bottomGap = c->bottomGap_;
      int l = c->left_, t = c->top_, w = c->width_, h = c->height_;
      if (a.Contains(akRight)) {
        if (a.Contains(akLeft)) w = ClientWidth() - rightGap - l;
        else l = ClientWidth() - rightGap - w;
      }
      if (a.Contains(akBottom)) {
        if (a.Contains(akTop)) h = ClientHeight() - bottomGap - t;
        else t = ClientHeight() - bottomGap - h;
      }
      if (l != c->left_ || t != c->top_ || w != c->width_ || h != c->height_) c->SetBounds(l, t, w, h);
      c->rightGap_ = rightGap;
      c->bottomGap_ = bottomGap;
      c->anchorGaps_ = true;
    }
  }
  int top = 0, bottom = ClientHeight(), left = 0, right = ClientWidth();
  for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* c : controls_) {
      if (c->align_ != a) continue;
      switch (a) {
        case alTop:
          c->SetBounds(left, top, right - left, c->height_);
          top += c->height_;
          break;
        case alBottom:
          c->SetBounds(left, bottom - c->height_, right - left, c->height_);
          bottom -= c->height_;
          break;
        case alLeft:
          c->SetBounds(left, top, c->width_, bottom - top);
          left += c->width_;
          break;
        case alRight:
          c->SetBounds(right - c->width_, top, c->width_, bottom - top);
          right -= c->width_;
          break;
        default:
          c->SetBounds(left, top, right - left, bottom - top);
          break;
      }
    }
  }
}

void TScreen::FSetCursor(TCursor v) {
  if (v == cursor_) return;
  cursor_ = v;
  if (!QApplication::instance()) return;
  if (overridden_) {
    QApplication::restoreOverrideCursor();
    overridden_ = false;
  }
  Qt::CursorShape shape;
  switch (v) {
    case crDefault: return;
    case crHourGlass: shape = Qt::WaitCursor; break;
    case crCross: shape = Qt::CrossCursor; break;
    case crIBeam: shape = Qt::IBeamCursor; break;
    default: shape = Qt::ArrowCursor; break;
  }
  QApplication::setOverrideCursor(QCursor(shape));
  overridden_ = true;
}
