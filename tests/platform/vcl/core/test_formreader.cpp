#include <gtest/gtest.h>

#include "platform/vcl/core/vcl.h"

namespace {

enum TAlign { alNone, alTop, alBottom, alClient };
enum TFontStyle { fsBold, fsItalic, fsUnderline };
using TFontStyles = Set<TFontStyle>;

class TFontT : public TPersistent {
 public:
  int FHeight() const { return height_; }
  void FSetHeight(int v) { height_ = v; }
  AnsiString FName() const { return name_; }
  void FSetName(const AnsiString& v) { name_ = v; }
  TFontStyles FStyle() const { return style_; }
  void FSetStyle(TFontStyles v) { style_ = v; }

 private:
  int height_ = -11;
  AnsiString name_ = "Sans";
  TFontStyles style_;
};

class TCtl : public TComponent {
 public:
  explicit TCtl(TComponent* owner) : TComponent(owner) {}
  int FLeft() const { return left_; }
  void FSetLeft(int v) { left_ = v; }
  AnsiString FCaption() const { return caption_; }
  void FSetCaption(const AnsiString& v) { caption_ = v; }
  bool FVisible() const { return visible_; }
  void FSetVisible(bool v) { visible_ = v; }
  TAlign FAlign() const { return align_; }
  void FSetAlign(TAlign v) { align_ = v; }
  unsigned short FPort() const { return port_; }
  void FSetPort(unsigned short v) { port_ = v; }
  double FRatio() const { return ratio_; }
  void FSetRatio(double v) { ratio_ = v; }
  AnsiString FData() const { return data_; }
  void FSetData(const AnsiString& v) { data_ = v; }
  TCtl* FBuddy() const { return buddy_; }
  void FSetBuddy(TCtl* v) { buddy_ = v; }
  TFontT* FFont() { return &font_; }
  TStrings* FItems() { return &items_; }
  AnsiString FInfo() const { return "read only"; }

  void SetParentComponent(TComponent* p) override { parent_ = p; }
  TComponent* GetParentComponent() const override { return parent_; }
  void Loaded() override {
    TComponent::Loaded();
    loadedCaption = caption_;
  }

  TNotifyEvent OnClick;
  Closure<void(TObject*, char&)> OnKeyPress;
  AnsiString loadedCaption;

 private:
  int left_ = 0;
  AnsiString caption_;
  bool visible_ = true;
  TAlign align_ = alNone;
  unsigned short port_ = 0;
  double ratio_ = 0;
  AnsiString data_;
  TCtl* buddy_ = nullptr;
  TFontT font_;
  TStringList items_;
  TComponent* parent_ = nullptr;
};

class TTestForm : public TCtl {
 public:
  explicit TTestForm(TComponent* owner) : TCtl(owner) {
    RegisterField("Label1", Label1);
    RegisterField("Group", Group);
    RegisterField("Inner", Inner);
    RegisterHandler("FormClick", &TTestForm::FormClick);
    RegisterHandler("KeyPress", &TTestForm::KeyPress);
  }
  void FormClick(TObject* sender) { clicked = sender; }
  void KeyPress(TObject*, char& key) { key = 0; }

  TCtl* Label1 = nullptr;
  TCtl* Group = nullptr;
  TCtl* Inner = nullptr;
  TObject* clicked = nullptr;
};

const bool registered = [] {
  vcl::RegisterEnum<TAlign>({{"alNone", alNone}, {"alTop", alTop}, {"alBottom", alBottom}, {"alClient", alClient}});
  vcl::RegisterEnum<TFontStyle>({{"fsBold", fsBold}, {"fsItalic", fsItalic}, {"fsUnderline", fsUnderline}});
  vcl::RegisterClass<TFontT, TPersistent>("TFontT")
      .Property("Height", &TFontT::FHeight, &TFontT::FSetHeight)
      .Property("Name", &TFontT::FName, &TFontT::FSetName)
      .Property("Style", &TFontT::FStyle, &TFontT::FSetStyle)
      .Default(TFontStyles());
  vcl::RegisterClass<TCtl, TComponent>("TCtl")
      .Property("Left", &TCtl::FLeft, &TCtl::FSetLeft)
      .Default(0)
      .Property("Caption", &TCtl::FCaption, &TCtl::FSetCaption)
      .Property("Visible", &TCtl::FVisible, &TCtl::FSetVisible)
      .Default(true)
      .Property("Align", &TCtl::FAlign, &TCtl::FSetAlign)
      .Default(alNone)
      .Property("Port", &TCtl::FPort, &TCtl::FSetPort)
      .Default(static_cast<unsigned short>(0))
      .Property("Ratio", &TCtl::FRatio, &TCtl::FSetRatio)
      .Property("Data", &TCtl::FData, &TCtl::FSetData)
      .Property("Buddy", &TCtl::FBuddy, &TCtl::FSetBuddy)
      .Object("Font", &TCtl::FFont)
      .Object("Items", &TCtl::FItems)
      .ReadOnly("Info", &TCtl::FInfo)
      .Ignored("TabOrder")
      .Event("OnClick", &TCtl::OnClick)
      .Event("OnKeyPress", &TCtl::OnKeyPress);
  vcl::RegisterClass<TTestForm, TCtl>("TTestForm");
  return true;
}();

const char* kSample = R"(object Form1: TTestForm
  Left = 154
  Caption = 'It''s a '#39'test'#39#13#10'line two' +
    ' continued'
  Font.Height = -12
  Font.Name = 'MS Sans Serif'
  Font.Style = [fsBold, fsUnderline]
  OnClick = FormClick
  object Label1: TCtl
    Caption = 'QVTR "Last" Col[1] Row[1]'
    Visible = False
    Buddy = Inner
    TabOrder = 3
  end
  object Group: TCtl
    Align = alBottom
    Port = $FFFF
    Ratio = -1.5
    Data = {00FF410A}
    Items.Strings = (
      'COM3'
      'COM1')
    object Inner: TCtl
      Left = -8
      OnKeyPress = KeyPress
      OnClick = FormClick
    end
  end
end
)";

}  // namespace

TEST(FormReader, BuildsTheTreeSetsPropertiesAndBindsByName) {
  TTestForm form(nullptr);
  vcl::ReadRootComponent(&form, kSample);

  EXPECT_EQ(form.FLeft(), 154);
  EXPECT_EQ(form.FCaption(), "It's a 'test'\r\nline two continued");
  EXPECT_EQ(form.FFont()->FHeight(), -12);
  EXPECT_EQ(form.FFont()->FName(), "MS Sans Serif");
  EXPECT_TRUE(form.FFont()->FStyle().Contains(fsBold));
  EXPECT_FALSE(form.FFont()->FStyle().Contains(fsItalic));
  EXPECT_TRUE(form.FFont()->FStyle().Contains(fsUnderline));

  ASSERT_NE(form.Label1, nullptr);
  ASSERT_NE(form.Group, nullptr);
  ASSERT_NE(form.Inner, nullptr);
  EXPECT_EQ(form.ComponentCount(), 3);  // all owned by the form, nested ones too
  EXPECT_EQ(form.Label1->Owner(), &form);
  EXPECT_EQ(form.Inner->Owner(), &form);
  EXPECT_EQ(form.Label1->GetParentComponent(), &form);
  EXPECT_EQ(form.Inner->GetParentComponent(), form.Group);

  EXPECT_EQ(form.Label1->FCaption(), "QVTR \"Last\" Col[1] Row[1]");
  EXPECT_FALSE(form.Label1->FVisible());
  EXPECT_EQ(form.Label1->FBuddy(), form.Inner);  // a reference to a component read later
  EXPECT_EQ(form.Group->FAlign(), alBottom);
  EXPECT_EQ(form.Group->FPort(), 65535);
  EXPECT_DOUBLE_EQ(form.Group->FRatio(), -1.5);
  EXPECT_EQ(form.Group->FData(), AnsiString("\x00\xff\x41\n", 4));
  ASSERT_EQ(form.Group->FItems()->Count(), 2);
  EXPECT_EQ(form.Group->FItems()->Get(1), "COM1");
  EXPECT_EQ(form.Inner->FLeft(), -8);

  ASSERT_TRUE(form.OnClick);
  form.OnClick(&form);
  EXPECT_EQ(form.clicked, &form);
  ASSERT_TRUE(form.Inner->OnKeyPress);
  char key = 13;
  form.Inner->OnKeyPress(form.Inner, key);
  EXPECT_EQ(key, 0);
  EXPECT_FALSE(form.Label1->OnClick);

  // Loaded runs once all is read and the loading state is over.
  EXPECT_EQ(form.loadedCaption, form.FCaption());
  EXPECT_FALSE(form.ComponentState().Contains(csLoading));
  EXPECT_FALSE(form.Inner->ComponentState().Contains(csLoading));
}

TEST(FormReader, ComponentsAreCreatedThroughTheRegistry) {
  TComponent owner(nullptr);
  TComponent* root = vcl::ReadComponent(kSample, &owner);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->ClassName(), "TTestForm");
  EXPECT_EQ(root->Name(), "Form1");
  EXPECT_EQ(root->Owner(), &owner);
  EXPECT_EQ(root->FindComponent("Inner")->ClassName(), "TCtl");
}

namespace {
// Reads text into a fresh form and returns the EReadError message ("" when it read fine).
std::string ReadError(const char* text) {
  TTestForm form(nullptr);
  try {
    vcl::ReadRootComponent(&form, text);
  } catch (const EReadError& e) {
    return e.Message.str();
  }
  return "";
}
}  // namespace

TEST(FormReader, BadDescriptionsGiveClearErrors) {
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  Colour = 5\nend\n"),
            "Error reading Form1.Colour (line 2): Property Colour does not exist");
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  object X: TCtl\n    Font.Size = 5\n  end\nend\n"),
            "Error reading X.Font.Size (line 3): Property Font.Size does not exist");
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  object X: TNoSuchClass\n  end\nend\n"),
            "Class TNoSuchClass not found (line 2)");
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  OnClick = Missing\nend\n"),
            "Error reading Form1.OnClick (line 2): Handler Missing not found in TTestForm");
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  OnClick = KeyPress\nend\n"),
            "Error reading Form1.OnClick (line 2): Handler KeyPress does not fit event OnClick");
  EXPECT_NE(ReadError("object Form1: TTestForm\n  Left = 'x'\nend\n").find("Invalid property value 'x'"),
            std::string::npos);
  EXPECT_NE(ReadError("object Form1: TTestForm\n  Port = 65536\nend\n").find("Invalid property value"),
            std::string::npos);
  EXPECT_NE(ReadError("object Form1: TTestForm\n  Align = alLeftish\nend\n").find("known identifier"),
            std::string::npos);
  EXPECT_NE(ReadError("object Form1: TTestForm\n  Font.Style = [fsBold, fsBlink]\nend\n").find("fsBlink"),
            std::string::npos);
  EXPECT_NE(ReadError("object Form1: TTestForm\n  Info = 'x'\nend\n").find("read-only"), std::string::npos);
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  Caption = 'open\nend\n"),
            "Form description, line 2: unterminated string");
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  Caption = 'x'#300\nend\n"),
            "Form description, line 2: character code above 255");
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  Left = 1\n"), "Form description, line 1: object Form1 has no 'end'");
  EXPECT_EQ(ReadError("object Form1: TTestForm\n  Data = {0A1}\nend\n"),
            "Form description, line 2: odd number of binary digits");
  std::string deep = "object Form1: TTestForm\n  Data = ";
  for (int i = 0; i < 100000; ++i) deep += "(";
  EXPECT_EQ(ReadError(deep.c_str()), "Form description, line 2: nested too deeply");
  std::string deepObjects;
  for (int i = 0; i < 100000; ++i) deepObjects += "object X: TCtl\n";
  EXPECT_EQ(ReadError(deepObjects.c_str()), "Form description, line 101: nested too deeply");
  // The fields of the form must all be found.
  EXPECT_EQ(ReadError("object Form1: TTestForm\nend\n"), "Field Label1 has no component in the form description");
}

TEST(FormReader, WritesStoredPropertiesThatDifferFromTheirDefaults) {
  TTestForm form(nullptr);
  vcl::ReadRootComponent(&form, kSample);
  std::string text = vcl::WriteComponent(form.Group);
  EXPECT_NE(text.find("object Group: TCtl\n"), std::string::npos);
  EXPECT_NE(text.find("  Align = alBottom\n"), std::string::npos);
  EXPECT_NE(text.find("  Port = 65535\n"), std::string::npos);
  EXPECT_NE(text.find("  Data = #0#255'A'#10\n"), std::string::npos);
  EXPECT_NE(text.find("  Items.Strings = ('COM3' 'COM1')\n"), std::string::npos);
  EXPECT_NE(text.find("  Caption = ''\n"), std::string::npos);  // no default declared: stored
  EXPECT_EQ(text.find("Left ="), text.find("    Left = -8") + 4);  // only Inner's Left differs from 0
  EXPECT_EQ(text.find("Visible"), std::string::npos);
  EXPECT_EQ(text.find("Info"), std::string::npos);
  EXPECT_EQ(text.find("TabOrder"), std::string::npos);
  EXPECT_EQ(text.find("Font.Style"), std::string::npos);
  EXPECT_NE(text.find("\n  object Inner: TCtl\n"), std::string::npos);

  // What is written reads back to the same values.
  form.Label1->FSetCaption(AnsiString("a'b\x01\xe9", 5));
  std::string labelText = vcl::WriteComponent(form.Label1);
  auto parsed = vcl::ParseForm(labelText);
  bool found = false;
  for (const auto& [name, value] : parsed.props)
    if (name == "Caption") {
      found = true;
      EXPECT_EQ(value.s, std::string("a'b\x01\xe9", 5));
    }
  EXPECT_TRUE(found);
}

namespace {
// Registered before its base, as units in another order of initialisation would.
class TLateBase : public TComponent {
 public:
  explicit TLateBase(TComponent* o) : TComponent(o) {}
  int FDepth() const { return depth_; }
  void FSetDepth(int v) { depth_ = v; }

 private:
  int depth_ = 0;
};
class TLateChild : public TLateBase {
 public:
  explicit TLateChild(TComponent* o) : TLateBase(o) {}
};
}  // namespace

TEST(FormReader, DescendantsRegisteredBeforeTheirBaseStillInherit) {
  vcl::RegisterClass<TLateChild, TLateBase>("TLateChild");
  vcl::RegisterClass<TLateBase, TComponent>("TLateBase").Property("Depth", &TLateBase::FDepth, &TLateBase::FSetDepth);
  TComponent owner(nullptr);
  TComponent* c = vcl::ReadComponent("object Late: TLateChild\n  Depth = 7\nend\n", &owner);
  EXPECT_EQ(static_cast<TLateChild*>(c)->FDepth(), 7);
  EXPECT_TRUE(c->InheritsFrom(vcl::FindClass("TComponent")));
}

TEST(FormReader, ComponentsRegisterOnPalettePages) {
  RegisterComponents<TCtl, TTestForm>("Samples");
  EXPECT_EQ(vcl::ComponentsOnPage("Samples"), (std::vector<std::string>{"TCtl", "TTestForm"}));
  EXPECT_TRUE(vcl::ComponentsOnPage("Nothing").empty());
  EXPECT_THROW(RegisterComponents<TComponentStateFlag>("Samples"), EReadError);  // not a registered class
}

TEST(FormReader, GetAndSetByName) {
  TTestForm form(nullptr);
  vcl::ReadRootComponent(&form, kSample);
  EXPECT_EQ(vcl::GetPropValue(form.Group, "Font.Name").s, "Sans");
  EXPECT_EQ(vcl::GetPropValue(form.Group, "Info").s, "read only");
  EXPECT_THROW(vcl::GetPropValue(form.Group, "OnClick"), EReadError);
  EXPECT_THROW(vcl::GetPropValue(form.Group, "Nope"), EReadError);
}
