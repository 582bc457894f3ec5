// The published properties of the framework's controls, as form descriptions name them.
#include <memory>

#include "platform/vcl/gui/vcl.h"

namespace {

using vcl::FormValue;
using vcl::PropInfo;
using vcl::ReadContext;

// Ignored everywhere: layout values of the original's window system.
void IgnoreCommon(vcl::ClassBuilder<TControl>& b) {
  for (const char* name : {"TabOrder", "TabStop", "ParentFont", "ParentColor", "ParentShowHint", "ShowHint",
                           "Cursor", "HelpContext", "Ctl3D", "ParentCtl3D", "DragCursor", "DragMode",
                           "Constraints", "DesignSize", "ExplicitLeft", "ExplicitTop", "ExplicitWidth",
                           "ExplicitHeight", "ParentBiDiMode", "BiDiMode", "Tag", "Transparent", "Layout",
                           "ImeMode", "ImeName", "AutoSelect", "BorderStyle", "HideSelection", "OEMConvert",
                           "PasswordChar", "ItemHeight", "Sorted", "DropDownCount", "WordWrapButton"})
    b.Ignored(name);
}

PropInfo ColWidthsList() {
  PropInfo p;
  p.name = "ColWidths";
  p.write = [](TObject* o, const FormValue& v, ReadContext&) {
    if (v.kind != FormValue::Kind::List) vcl::ThrowBadValue(v, "a list of widths");
    auto* g = static_cast<TStringGrid*>(o);
    for (size_t i = 0; i < v.list.size(); ++i) {
      if (v.list[i].kind != FormValue::Kind::Int) vcl::ThrowBadValue(v.list[i], "a width");
      g->FSetColWidths(static_cast<int>(i), static_cast<int>(v.list[i].i));
    }
  };
  p.stored = false;
  return p;
}

const bool registered = [] {
  vcl::RegisterEnum<TColor>({{"clBlack", clBlack}, {"clMaroon", clMaroon}, {"clGreen", clGreen},
                             {"clOlive", clOlive}, {"clNavy", clNavy}, {"clPurple", clPurple},
                             {"clTeal", clTeal}, {"clGray", clGray}, {"clSilver", clSilver},
                             {"clRed", clRed}, {"clLime", clLime}, {"clYellow", clYellow},
                             {"clBlue", clBlue}, {"clFuchsia", clFuchsia}, {"clAqua", clAqua},
                             {"clWhite", clWhite}, {"clScrollBar", clScrollBar},
                             {"clBackground", clBackground}, {"clActiveCaption", clActiveCaption},
                             {"clWindow", clWindow}, {"clWindowFrame", clWindowFrame},
                             {"clWindowText", clWindowText}, {"clHighlight", clHighlight},
                             {"clHighlightText", clHighlightText}, {"clBtnFace", clBtnFace},
                             {"clBtnShadow", clBtnShadow}, {"clGrayText", clGrayText},
                             {"clBtnText", clBtnText}, {"clInfoText", clInfoText}, {"clInfoBk", clInfoBk},
                             {"clNone", clNone}, {"clDefault", clDefault}});
  vcl::RegisterEnum<TFontStyle>({{"fsBold", fsBold}, {"fsItalic", fsItalic}, {"fsUnderline", fsUnderline},
                                 {"fsStrikeOut", fsStrikeOut}});
  vcl::RegisterEnum<TAlign>({{"alNone", alNone}, {"alTop", alTop}, {"alBottom", alBottom}, {"alLeft", alLeft},
                             {"alRight", alRight}, {"alClient", alClient}});
  vcl::RegisterEnum<TAnchorKind>({{"akLeft", akLeft}, {"akTop", akTop}, {"akRight", akRight}, {"akBottom", akBottom}});
  vcl::RegisterEnum<TAlignment>({{"taLeftJustify", taLeftJustify}, {"taRightJustify", taRightJustify},
                                 {"taCenter", taCenter}});
  vcl::RegisterEnum<TEditCharCase>({{"ecNormal", ecNormal}, {"ecUpperCase", ecUpperCase}, {"ecLowerCase", ecLowerCase}});
  vcl::RegisterEnum<TComboBoxStyle>({{"csDropDown", csDropDown}, {"csSimple", csSimple},
                                     {"csDropDownList", csDropDownList}, {"csOwnerDrawFixed", csOwnerDrawFixed},
                                     {"csOwnerDrawVariable", csOwnerDrawVariable}});
  vcl::RegisterEnum<TGridOption>({{"goFixedVertLine", goFixedVertLine}, {"goFixedHorzLine", goFixedHorzLine},
                                  {"goVertLine", goVertLine}, {"goHorzLine", goHorzLine},
                                  {"goRangeSelect", goRangeSelect}, {"goDrawFocusSelected", goDrawFocusSelected},
                                  {"goRowSizing", goRowSizing}, {"goColSizing", goColSizing},
                                  {"goRowMoving", goRowMoving}, {"goColMoving", goColMoving},
                                  {"goEditing", goEditing}, {"goTabs", goTabs}, {"goRowSelect", goRowSelect},
                                  {"goAlwaysShowEditor", goAlwaysShowEditor}, {"goThumbTracking", goThumbTracking}});
  vcl::RegisterEnum<TScrollStyle>({{"ssNone", ssNone}, {"ssHorizontal", ssHorizontal}, {"ssVertical", ssVertical},
                                   {"ssBoth", ssBoth}});
  vcl::RegisterEnum<TPosition>({{"poDesigned", poDesigned}, {"poDefault", poDefault},
                                {"poDefaultPosOnly", poDefaultPosOnly}, {"poDefaultSizeOnly", poDefaultSizeOnly},
                                {"poScreenCenter", poScreenCenter}, {"poDesktopCenter", poDesktopCenter},
                                {"poMainFormCenter", poMainFormCenter}, {"poOwnerFormCenter", poOwnerFormCenter}});

  vcl::RegisterClass<TFont, TPersistent>("TFont")
      .Property("Name", &TFont::FName, &TFont::FSetName)
      .Property("Height", &TFont::FHeight, &TFont::FSetHeight)
      .Property("Size", &TFont::FSize, &TFont::FSetSize)
      .NotStored()
      .Property("Color", &TFont::FColor, &TFont::FSetColor)
      .Default(clWindowText)
      .Property("Style", &TFont::FStyle, &TFont::FSetStyle)
      .Default(TFontStyles())
      .Ignored("Charset")
      .Ignored("Pitch");

  auto control = vcl::RegisterClass<TControl, TComponent>("TControl");
  control.Property("Left", &TControl::FLeft, &TControl::FSetLeft)
      .Property("Top", &TControl::FTop, &TControl::FSetTop)
      .Property("Width", &TControl::FWidth, &TControl::FSetWidth)
      .Property("Height", &TControl::FHeight, &TControl::FSetHeight)
      .Property("Visible", &TControl::FVisible, &TControl::FSetVisible)
      .Default(true)
      .Property("Enabled", &TControl::FEnabled, &TControl::FSetEnabled)
      .Default(true)
      .Property("Caption", &TControl::FCaption, &TControl::FSetCaption)
      .Property("Color", &TControl::FColor, &TControl::FSetColor)
      .Default(clBtnFace)
      .Property("Align", &TControl::FAlign, &TControl::FSetAlign)
      .Default(alNone)
      .Property("Anchors", &TControl::FAnchors, &TControl::FSetAnchors)
      .Default(TAnchors{akLeft, akTop})
      .Property("Hint", &TControl::FHint, &TControl::FSetHint)
      .Default(AnsiString())
      .Object("Font", &TControl::FFont);
  IgnoreCommon(control);

  vcl::RegisterClass<TWinControl, TControl>("TWinControl");

  vcl::RegisterClass<TLabel, TControl>("TLabel")
      .Property("AutoSize", &TLabel::FAutoSize, &TLabel::FSetAutoSize)
      .Default(true)
      .Property("WordWrap", &TLabel::FWordWrap, &TLabel::FSetWordWrap)
      .Default(false)
      .Property("Alignment", &TLabel::FAlignment, &TLabel::FSetAlignment)
      .Default(taLeftJustify)
      .Property("FocusControl", &TLabel::FFocusControl, &TLabel::FSetFocusControl);

  vcl::RegisterClass<TEdit, TWinControl>("TEdit")
      .Property("Text", &TEdit::FText, &TEdit::FSetText)
      .Property("CharCase", &TEdit::FCharCase, &TEdit::FSetCharCase)
      .Default(ecNormal)
      .Property("MaxLength", &TEdit::FMaxLength, &TEdit::FSetMaxLength)
      .Default(0)
      .Property("ReadOnly", &TEdit::FReadOnly, &TEdit::FSetReadOnly)
      .Default(false)
      .Event("OnKeyPress", &TEdit::OnKeyPress)
      .Event("OnChange", &TEdit::OnChange);

  vcl::RegisterClass<TButton, TWinControl>("TButton")
      .Property("Default", &TButton::FDefault, &TButton::FSetDefault)
      .Default(false)
      .Property("Cancel", &TButton::FCancel, &TButton::FSetCancel)
      .Default(false)
      .Property("ModalResult", &TButton::FModalResult, &TButton::FSetModalResult)
      .Default(0)
      .Event("OnClick", &TButton::OnClick);

  vcl::RegisterClass<TGroupBox, TWinControl>("TGroupBox");

  vcl::RegisterClass<TComboBox, TWinControl>("TComboBox")
      .Property("Style", &TComboBox::FStyle, &TComboBox::FSetStyle)
      .Default(csDropDown)
      .Object("Items", &TComboBox::FItems)
      .Property("ItemIndex", &TComboBox::FItemIndex, &TComboBox::FSetItemIndex)
      .Default(-1)
      .Property("Text", &TComboBox::FText, &TComboBox::FSetText)
      .Event("OnChange", &TComboBox::OnChange);

  vcl::RegisterClass<TStringGrid, TWinControl>("TStringGrid")
      .Property("ColCount", &TStringGrid::FColCount, &TStringGrid::FSetColCount)
      .Default(5)
      .Property("RowCount", &TStringGrid::FRowCount, &TStringGrid::FSetRowCount)
      .Default(5)
      .Property("FixedCols", &TStringGrid::FFixedCols, &TStringGrid::FSetFixedCols)
      .Default(1)
      .Property("FixedRows", &TStringGrid::FFixedRows, &TStringGrid::FSetFixedRows)
      .Default(1)
      .Property("DefaultColWidth", &TStringGrid::FDefaultColWidth, &TStringGrid::FSetDefaultColWidth)
      .Default(64)
      .Property("DefaultRowHeight", &TStringGrid::FDefaultRowHeight, &TStringGrid::FSetDefaultRowHeight)
      .Default(24)
      .Property("Options", &TStringGrid::FOptions, &TStringGrid::FSetOptions)
      .Default(TGridOptions{goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect})
      .Property("ScrollBars", &TStringGrid::FScrollBars, &TStringGrid::FSetScrollBars)
      .Default(ssBoth)
      .Custom(ColWidthsList())
      .Ignored("GridLineWidth")
      .Ignored("DefaultDrawing");

  vcl::RegisterClass<TTimer, TComponent>("TTimer")
      .Property("Interval", &TTimer::FInterval, &TTimer::FSetInterval)
      .Default(1000u)
      .Property("Enabled", &TTimer::FEnabled, &TTimer::FSetEnabled)
      .Default(true)
      .EventVia<void(TObject*)>("OnTimer", &TTimer::FSetOnTimer);

  vcl::RegisterClass<TForm, TWinControl>("TForm")
      .Property("ClientWidth", &TForm::FClientWidth, &TForm::FSetClientWidth)
      .NotStored()
      .Property("ClientHeight", &TForm::FClientHeight, &TForm::FSetClientHeight)
      .NotStored()
      .Property("Position", &TForm::FPosition, &TForm::FSetPosition)
      .Default(poDesigned)
      .Property("ActiveControl", &TForm::FActiveControl, &TForm::FSetActiveControl)
      .Event("OnCreate", &TForm::OnCreate)
      .Event("OnShow", &TForm::OnShow)
      .Event("OnClose", &TForm::OnClose)
      .Event("OnDestroy", &TForm::OnDestroy)
      .Ignored("PixelsPerInch")
      .Ignored("TextHeight")
      .Ignored("OldCreateOrder")
      .Ignored("Scaled")
      .Ignored("BorderIcons")
      .Ignored("FormStyle")
      .Ignored("KeyPreview")
      .Ignored("WindowState")
      .Ignored("AutoScroll");
  return true;
}();

}  // namespace

namespace vcl {
// Referenced by the application object, so the registrations above are linked in.
bool ControlsRegistered() { return registered; }
}  // namespace vcl
