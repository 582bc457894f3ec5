// Controls: position, size, caption, font, colour, visibility, alignment in the parent.
// Qt stays behind this header: app code sees only framework names.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/vcl/core/vcl.h"

class QWidget;

enum TColor : std::int32_t {
  clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
  clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
  clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
  clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF,
  // System colours: the system colour index with the high byte set.
  clScrollBar = -16777216, clBackground = -16777215, clActiveCaption = -16777214,
  clWindow = -16777211, clWindowFrame = -16777210, clWindowText = -16777208,
  clHighlight = -16777203, clHighlightText = -16777202, clBtnFace = -16777201,
  clBtnShadow = -16777200, clGrayText = -16777199, clBtnText = -16777198,
  clInfoText = -16777193, clInfoBk = -16777192,
  clNone = 0x1FFFFFFF, clDefault = 0x20000000,
};

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = Set<TFontStyle>;
enum TFontPitch { fpDefault, fpVariable, fpFixed };
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = Set<TAnchorKind>;
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crHourGlass = -11;

class TFont : public TPersistent {
 public:
  AnsiString FName() const { return name_; }
  void FSetName(const AnsiString& v);
  // Negative: character height in pixels; positive: cell height.
  int FHeight() const { return height_; }
  void FSetHeight(int v);
  int FSize() const;
  void FSetSize(int v);
  TColor FColor() const { return color_; }
  void FSetColor(TColor v);
  TFontStyles FStyle() const { return style_; }
  void FSetStyle(TFontStyles v);
  void Assign(const TPersistent& source) override;
  // Takes the values of another font without reporting a change.
  void CopyFrom(const TFont& other);

  Property<TFont, AnsiString, &TFont::FName, &TFont::FSetName> Name{this};
  Property<TFont, int, &TFont::FHeight, &TFont::FSetHeight> Height{this};
  Property<TFont, int, &TFont::FSize, &TFont::FSetSize> Size{this};
  Property<TFont, TColor, &TFont::FColor, &TFont::FSetColor> Color{this};
  Property<TFont, TFontStyles, &TFont::FStyle, &TFont::FSetStyle> Style{this};

  TNotifyEvent OnChange;

 private:
  void Changed();
  AnsiString name_ = "MS Sans Serif";
  int height_ = -11;
  TColor color_ = clWindowText;
  TFontStyles style_;
};

class TWinControl;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  int FLeft() const { return left_; }
  void FSetLeft(int v) { SetBounds(v, top_, width_, height_); }
  int FTop() const { return top_; }
  void FSetTop(int v) { SetBounds(left_, v, width_, height_); }
  int FWidth() const { return width_; }
  void FSetWidth(int v) { SetBounds(left_, top_, v, height_); }
  int FHeight() const { return height_; }
  void FSetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  bool FVisible() const { return visible_; }
  void FSetVisible(bool v);
  bool FEnabled() const { return enabled_; }
  void FSetEnabled(bool v);
  AnsiString FCaption() const { return GetText(); }
  void FSetCaption(const AnsiString& v) { SetText(v); }
  TColor FColor() const { return color_; }
  void FSetColor(TColor v);
  TFont* FFont() { return &font_; }
  TAlign FAlign() const { return align_; }
  void FSetAlign(TAlign v);
  TAnchors FAnchors() const { return anchors_; }
  void FSetAnchors(TAnchors v) {
    anchors_ = v;
    anchorGaps_ = false;
  }
  AnsiString FHint() const { return hint_; }
  void FSetHint(const AnsiString& v);
  TWinControl* FParent() const { return parent_; }
  void FSetParent(TWinControl* p);

  Property<TControl, int, &TControl::FLeft, &TControl::FSetLeft> Left{this};
  Property<TControl, int, &TControl::FTop, &TControl::FSetTop> Top{this};
  Property<TControl, int, &TControl::FWidth, &TControl::FSetWidth> Width{this};
  Property<TControl, int, &TControl::FHeight, &TControl::FSetHeight> Height{this};
  Property<TControl, bool, &TControl::FVisible, &TControl::FSetVisible> Visible{this};
  Property<TControl, bool, &TControl::FEnabled, &TControl::FSetEnabled> Enabled{this};
  Property<TControl, AnsiString, &TControl::FCaption, &TControl::FSetCaption> Caption{this};
  Property<TControl, TColor, &TControl::FColor, &TControl::FSetColor> Color{this};
  Property<TControl, TAlign, &TControl::FAlign, &TControl::FSetAlign> Align{this};
  Property<TControl, AnsiString, &TControl::FHint, &TControl::FSetHint> Hint{this};
  Property<TControl, TWinControl*, &TControl::FParent, &TControl::FSetParent> Parent{this};
  TFont* const Font = &font_;

  void Show() { FSetVisible(true); }
  void Hide() { FSetVisible(false); }
  void Repaint();

  void SetParentComponent(TComponent* parent) override;
  TComponent* GetParentComponent() const override;
  void Loaded() override;

  // The Qt widget behind the control (tests grab it; app code has no use for it).
  QWidget* Widget() const;

 protected:
  // Subclasses give the control its widget once, in their constructor.
  void SetWidget(QWidget* w);
  // Puts the bounds on the widget.
  virtual void ApplyBounds();
  // Takes bounds the window system gave the widget, without putting them back on it.
  void StoreBounds(int left, int top, int width, int height);
  virtual AnsiString GetText() const { return text_; }
  virtual void SetText(const AnsiString& v);
  virtual void TextChanged() {}
  virtual void FontChanged();
  virtual void VisibleChanged();
  // Shows or hides the widget: a child shows when it is visible and has a parent.
  void UpdateShowing();

  AnsiString text_;

 private:
  friend class TWinControl;
  struct Impl;
  Impl* impl_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  TColor color_ = clBtnFace;
  TAlign align_ = alNone;
  TAnchors anchors_ = TAnchors{akLeft, akTop};
  // Distances of the right and bottom edges from the parent's, kept while the parent's size
  // moves them: a control squeezed to nothing comes back at its size.
  bool anchorGaps_ = false;
  int rightGap_ = 0, bottomGap_ = 0;
  AnsiString hint_;
  TFont font_;
  bool fontSet_ = false;
  TWinControl* parent_ = nullptr;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;
  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int i) const { return controls_.at(static_cast<size_t>(i)); }
  // Width and height of the area the children are placed in.
  virtual int ClientWidth() const { return FWidth(); }
  virtual int ClientHeight() const { return FHeight(); }
  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;
  // Places aligned children and moves anchored ones after a size change of dw, dh.
  void Realign(int dw = 0, int dh = 0);

 protected:
  void FontChanged() override;

 private:
  friend class TControl;
  std::vector<TControl*> controls_;
};

// The screen: the cursor shown over every window of the program.
class TScreen : public TComponent {
 public:
  explicit TScreen(TComponent* owner) : TComponent(owner) {}
  TCursor FCursor() const { return cursor_; }
  void FSetCursor(TCursor v);
  Property<TScreen, TCursor, &TScreen::FCursor, &TScreen::FSetCursor> Cursor{this};

 private:
  TCursor cursor_ = crDefault;
  bool overridden_ = false;
};

extern TScreen* Screen;
