#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <cstdio>
#include <malloc.h>
#ifdef __SANITIZE_ADDRESS__
// The sanitizer's allocator: mallinfo2() does not see it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "gui_env.h"
#include "platform/vcl/gui/qtbridge.h"

VCL_DECLARE_FORM(TestSampleForm)

namespace {

class TSampleForm : public TForm {
 public:
  TLabel* Label1 = nullptr;
  TEdit* eSymbols = nullptr;
  TButton* bGo = nullptr;
  TButton* bHidden = nullptr;
  TGroupBox* GroupBox1 = nullptr;
  TEdit* eProxy = nullptr;
  TComboBox* cbNames = nullptr;
  TStringGrid* sgQuotes = nullptr;
  TTimer* Timer1 = nullptr;

  std::vector<std::string> log;

  explicit TSampleForm(TComponent* owner) : TForm(owner) {
    RegisterField("Label1", Label1);
    RegisterField("eSymbols", eSymbols);
    RegisterField("bGo", bGo);
    RegisterField("bHidden", bHidden);
    RegisterField("GroupBox1", GroupBox1);
    RegisterField("eProxy", eProxy);
    RegisterField("cbNames", cbNames);
    RegisterField("sgQuotes", sgQuotes);
    RegisterField("Timer1", Timer1);
    RegisterHandler("FormCreate", &TSampleForm::FormCreate);
    RegisterHandler("FormShow", &TSampleForm::FormShow);
    RegisterHandler("FormClose", &TSampleForm::FormClose);
    RegisterHandler("eSymbolsKeyPress", &TSampleForm::eSymbolsKeyPress);
    RegisterHandler("bGoClick", &TSampleForm::bGoClick);
    RegisterHandler("Timer1Timer", &TSampleForm::Timer1Timer);
    LoadForm(VCL_FORM(TestSampleForm));
  }
  void FormCreate(TObject*) {
    log.push_back("create");
    sgQuotes->Cells[0][0] = "Symbol";
  }
  void FormShow(TObject*) { log.push_back(std::string("show visible=") + (Widget()->isVisible() ? "1" : "0")); }
  void FormClose(TObject*, TCloseAction& action) {
    log.push_back("close");
    if (keepOpen) action = caNone;
  }
  void eSymbolsKeyPress(TObject*, char& key) {
    log.push_back("key " + std::to_string(static_cast<int>(key)));
    if (key == 13) {
      key = 0;
      bGo->Click();
    }
    if (key == '!') key = '?';
  }
  void bGoClick(TObject* sender) { log.push_back("click " + static_cast<TComponent*>(sender)->Name().str()); }
  void Timer1Timer(TObject*) { log.push_back("tick"); }
  bool keepOpen = false;
};

void SendKey(QWidget* w, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
}

}  // namespace

TEST(Forms, DescriptionBuildsTheControls) {
  auto* f = new TSampleForm(nullptr);
  EXPECT_EQ(f->ClassName(), "TSampleForm");
  EXPECT_EQ(f->Name(), "SampleForm");
  EXPECT_EQ(f->Caption(), "Sample");
  EXPECT_EQ(f->Widget()->windowTitle(), "Sample");
  EXPECT_EQ(f->Left(), 100);
  EXPECT_EQ(f->Width(), 408);
  EXPECT_EQ(f->ClientWidth(), 400);
  EXPECT_EQ(f->ClientHeight(), 300);

  EXPECT_EQ(f->eSymbols->Text(), "QVTR MSFT");
  EXPECT_EQ(f->eSymbols->CharCase(), ecUpperCase);
  EXPECT_EQ(f->eSymbols->Parent(), f);
  EXPECT_EQ(f->eProxy->Parent(), f->GroupBox1);
  EXPECT_EQ(f->eProxy->Owner(), f);
  EXPECT_EQ(f->eProxy->Widget()->parentWidget(), f->GroupBox1->Widget());
  // Controls without a font of their own follow the form's, also inside the group box and when
  // the form's font changes later.
  EXPECT_EQ(f->eProxy->Font->Height(), -12);
  EXPECT_EQ(f->eProxy->Widget()->font().pixelSize(), 12);
  f->Font->Height = -14;
  EXPECT_EQ(f->eProxy->Widget()->font().pixelSize(), 14);
  EXPECT_EQ(f->Label1->Font->Height(), -12);  // it has a font of its own
  f->Font->Height = -12;
  EXPECT_EQ(static_cast<QGroupBox*>(f->GroupBox1->Widget())->title(), "Proxy Information");
  EXPECT_EQ(static_cast<QLabel*>(f->Label1->Widget())->text(), "Symbols here");  // no '&' shown
  EXPECT_EQ(f->Label1->Caption(), "Symbols &here");
  f->Label1->Caption = "R&&D &x&";
  EXPECT_EQ(static_cast<QLabel*>(f->Label1->Widget())->text(), "R&D x");
  EXPECT_EQ(f->Label1->Font->Color(), clNavy);
  EXPECT_EQ(f->Label1->Font->Height(), -12);  // the rest of the font is the form's
  EXPECT_EQ(static_cast<QLabel*>(f->Label1->Widget())->font().pixelSize(), 12);
  // An auto-sized label takes the size of its text once loaded.
  EXPECT_EQ(f->Label1->Width(), f->Label1->Widget()->sizeHint().width());
  EXPECT_LT(f->Label1->Width(), 200);
  EXPECT_FALSE(f->bHidden->Visible());

  ASSERT_EQ(f->cbNames->Items->Count(), 2);
  EXPECT_EQ(f->cbNames->Items->Strings(1), "COM1");
  EXPECT_EQ(f->cbNames->ItemIndex(), -1);  // nothing selected until chosen
  EXPECT_EQ(f->cbNames->Text(), "");
  f->cbNames->ItemIndex = 1;
  EXPECT_EQ(f->cbNames->Text(), "COM1");
  f->cbNames->Items->Add("COM7");
  EXPECT_EQ(f->cbNames->ItemIndex(), 1);
  f->cbNames->Text = "COM3";  // a list-only box selects the item with that text
  EXPECT_EQ(f->cbNames->ItemIndex(), 0);

  // The grid sits at the bottom, as wide as the client area.
  EXPECT_EQ(f->sgQuotes->Top(), 300 - 153);
  EXPECT_EQ(f->sgQuotes->Width(), 400);
  EXPECT_EQ(f->Timer1->Interval(), 10000u);
  EXPECT_TRUE(f->Timer1->Enabled());

  // OnCreate runs after construction, once.
  EXPECT_TRUE(f->log.empty());
  f->AfterConstruction();
  f->AfterConstruction();
  EXPECT_EQ(f->log, std::vector<std::string>{"create"});
  delete f;
}

TEST(Forms, ShowRunsOnShowBeforeTheWindowIsDisplayed) {
  auto* f = new TSampleForm(nullptr);
  EXPECT_FALSE(f->Visible());
  f->Show();
  EXPECT_TRUE(f->Widget()->isVisible());
  ASSERT_EQ(f->log.size(), 1u);
  EXPECT_EQ(f->log[0], "show visible=0");
  f->Show();  // already shown: no second OnShow
  EXPECT_EQ(f->log.size(), 1u);

  // Closing a form that is not the main form hides it; OnClose can refuse.
  f->keepOpen = true;
  f->Close();
  EXPECT_TRUE(f->Widget()->isVisible());
  f->keepOpen = false;
  f->Close();
  EXPECT_FALSE(f->Widget()->isVisible());
  // The window system's close button goes the same way.
  f->Show();
  f->Widget()->close();
  EXPECT_FALSE(f->Widget()->isVisible());
  EXPECT_EQ(f->log.back(), "close");
  delete f;
}

TEST(Forms, EnterKeyRunsTheButtonAndInsertsNothing) {
  auto* f = new TSampleForm(nullptr);
  QWidget* edit = f->eSymbols->Widget();
  static_cast<QLineEdit*>(edit)->setCursorPosition(9);
  SendKey(edit, Qt::Key_Return, "\r");
  EXPECT_EQ(f->eSymbols->Text(), "QVTR MSFT");
  ASSERT_EQ(f->log.size(), 2u);
  EXPECT_EQ(f->log[0], "key 13");
  EXPECT_EQ(f->log[1], "click bGo");

  // Typed letters are upper-cased after OnKeyPress saw them; a handler may change the key.
  SendKey(edit, Qt::Key_A, "a");
  SendKey(edit, Qt::Key_Exclam, "!");
  EXPECT_EQ(f->log[2], "key 97");
  EXPECT_EQ(f->eSymbols->Text(), "QVTR MSFTA?");
  // Pasted or typed-over text follows the rule too.
  auto* le = static_cast<QLineEdit*>(edit);
  le->selectAll();
  le->insert("ibm");
  EXPECT_EQ(f->eSymbols->Text(), "IBM");
  delete f;
}

TEST(Forms, EditChangeEventsFollowTheText) {
  auto* f = new TSampleForm(nullptr);
  int changes = 0;
  f->eProxy->OnChange = TNotifyEvent([&changes](TObject*) { ++changes; });
  f->eProxy->Text = "proxy.example";
  EXPECT_EQ(changes, 1);
  f->eProxy->Text = "proxy.example";  // the same text: no change
  EXPECT_EQ(changes, 1);
  f->eProxy->OnChange = TNotifyEvent([](TObject*) { throw Exception("bad"); });
  int shown = 0;
  vcl::test::SetDialogHook([&shown](const vcl::DialogCall&) { return ++shown, mrOk; });
  f->eProxy->Text = "other";  // the handler's exception is shown, not thrown at the writer
  vcl::test::SetDialogHook(nullptr);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(f->eProxy->Text(), "other");
  delete f;
}

TEST(Forms, PropertiesReadLikeTheirValues) {
  auto* f = new TSampleForm(nullptr);
  f->eProxy->Text = "";
  EXPECT_TRUE(f->eProxy->Text == "");
  f->eProxy->Text = f->eSymbols->Text;
  EXPECT_TRUE(f->eProxy->Text != "");
  EXPECT_EQ("[" + f->eProxy->Text + "]", "[QVTR MSFT]");
  EXPECT_EQ(f->eProxy->Text().SubString(1, 4), "QVTR");
  f->sgQuotes->Cells[1][1] = "23.45";
  EXPECT_TRUE(f->sgQuotes->Cells[1][1] == "23.45");
  EXPECT_EQ(f->sgQuotes->Cells[1][1] + "!", "23.45!");
  EXPECT_EQ(f->sgQuotes->Cells[1][1]().Pos("."), 3);
  f->Label1->Caption = f->sgQuotes->Cells[1][1];
  EXPECT_EQ(f->Label1->Caption(), "23.45");
  f->sgQuotes->RowCount = f->sgQuotes->RowCount + 1;
  EXPECT_EQ(f->sgQuotes->RowCount(), 4);
  delete f;
}

TEST(Forms, ButtonClickRunsWhileDisabled) {
  auto* f = new TSampleForm(nullptr);
  f->bGo->Enabled = false;
  EXPECT_FALSE(f->bGo->Widget()->isEnabled());
  static_cast<QPushButton*>(f->bGo->Widget())->click();  // the user cannot click it
  EXPECT_TRUE(f->log.empty());
  f->bGo->Click();  // the program can
  EXPECT_EQ(f->log, std::vector<std::string>{"click bGo"});
  f->bGo->Enabled = true;
  static_cast<QPushButton*>(f->bGo->Widget())->click();
  EXPECT_EQ(f->log.size(), 2u);
  delete f;
}

// A caption of megabytes (a price field as received) was laid out whole, hidden or not: seconds
// of a core and hundreds of MB. It is shown from its start, as a grid cell draws it.
TEST(Forms, HugeLabelCaptionIsShownShortened) {
  auto* f = new TSampleForm(nullptr);
  const std::string huge = std::string(10u << 20, '7') + "8";
  f->Label1->Visible = false;
  f->Label1->Caption = AnsiString(huge);
  EXPECT_EQ(f->Label1->Caption().str(), huge);
  auto* label = static_cast<QLabel*>(f->Label1->Widget());
  EXPECT_EQ(label->text(), QString(4096, '7') + QChar(0x2026));
  f->Label1->Caption = "&Last";
  EXPECT_EQ(label->text(), "Last");
  delete f;
}

// The text of a disabled button was drawn in the font's colour, exactly as when enabled.
TEST(Forms, DisabledButtonTextIsGreyed) {
  auto* f = new TSampleForm(nullptr);
  QWidget* w = f->bGo->Widget();
  const QColor ink = vcl::detail::ToQColor(f->bGo->Font->FColor());
  // Pixels of the font's colour or close to it (the glyphs' edges are blended).
  auto inked = [w, ink] {
    const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const QColor p(img.pixel(x, y));
        n += std::abs(p.red() - ink.red()) + std::abs(p.green() - ink.green()) + std::abs(p.blue() - ink.blue()) < 96;
      }
    return n;
  };
  EXPECT_GT(inked(), 10);
  f->bGo->Enabled = false;
  EXPECT_EQ(inked(), 0);
  f->bGo->Enabled = true;
  EXPECT_GT(inked(), 10);
  delete f;
}

TEST(Forms, GridKeepsCellsOfHiddenRows) {
  auto* f = new TSampleForm(nullptr);
  TStringGrid* g = f->sgQuotes;
  auto* table = static_cast<QTableView*>(g->Widget());
  auto shown = [table](int row, int col) { return table->model()->index(row, col).data().toString(); };
  g->ColCount = 9;
  g->Cells[1][1] = "23.45";
  g->Cells[10][1] = "extra";  // beyond the columns: kept, not shown
  g->Cells[4][2] = "+0.12";
  EXPECT_EQ(table->model()->columnCount(), 9);
  EXPECT_EQ(shown(1, 1), "23.45");

  g->RowCount = 1;
  EXPECT_EQ(table->model()->rowCount(), 1);
  EXPECT_EQ(AnsiString(g->Cells[1][1]), "23.45");
  EXPECT_EQ(AnsiString(g->Cells[10][1]), "extra");
  EXPECT_EQ(g->FixedRows(), 0);  // one row left: it cannot stay fixed
  g->RowCount = g->RowCount + 2;
  EXPECT_EQ(table->model()->rowCount(), 3);
  EXPECT_EQ(shown(2, 4), "+0.12");  // shown again as the rows come back
  g->Cells[4][2] = "";
  EXPECT_EQ(shown(2, 4), "");
  g->Cells[0][1] = g->Cells[1][1];
  EXPECT_EQ(g->Cells[0][1](), "23.45");
  // A huge cell is kept whole and drawn from its start: laying it all out took seconds.
  const std::string huge = std::string(10u << 20, '7') + "8";
  g->Cells[2][1] = AnsiString(huge);
  EXPECT_EQ(g->Cells[2][1]().str(), huge);
  EXPECT_EQ(shown(1, 2), QString(4096, '7') + QChar(0x2026));
  EXPECT_THROW(g->FSetCells(-1, 0, "x"), ERangeError);
  g->ColWidths[2] = 100;
  EXPECT_EQ(table->columnWidth(2), 100);
  EXPECT_EQ(static_cast<int>(g->ColWidths[3]), 64);
  delete f;
}

// Writing one cell far beyond the grid took a row slot for every row before it (458 MB for
// row 20,000,000), and rows emptied kept their storage.
TEST(Forms, GridCellsCostWhatTheyHold) {
  auto* f = new TSampleForm(nullptr);
  TStringGrid* g = f->sgQuotes;
  g->ColCount = 9;
  auto inUse = [] {
#ifdef __SANITIZE_ADDRESS__
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long long>(m.uordblks + m.hblkhd);
#endif
  };
  const long long before = inUse();
  g->Cells[1][20000000] = "far";
  g->Cells[20000000][1] = "wide";
  g->Cells[3][1] = "near";
  EXPECT_LT(inUse() - before, 64 << 10);
  EXPECT_EQ(g->Cells[1][20000000](), "far");
  EXPECT_EQ(g->Cells[20000000][1](), "wide");
  EXPECT_EQ(g->Cells[1][19999999](), "");
  EXPECT_EQ(g->Cells[19999999][1](), "");
  // Rows that grow up to a far cell take it in.
  for (int r = 0; r < 100000; ++r)
    for (int c = 0; c < 9; ++c) g->Cells[c][r] = "23.45";
  g->Cells[2000][5] = "x";
  for (int c = 9; c <= 2000; ++c) g->Cells[c][5] = c == 2000 ? g->Cells[c][5]() + "y" : AnsiString("z");
  EXPECT_EQ(g->Cells[2000][5](), "xy");
  const long long shown = inUse() - before;
  EXPECT_GT(shown, 10 << 20);
  g->RowCount = 1;  // hidden rows keep their texts, packed
  EXPECT_EQ(g->Cells[8][99999](), "23.45");
  EXPECT_EQ(g->Cells[2000][5](), "xy");
  EXPECT_LT(inUse() - before, shown / 2);
  g->Cells[7][99999] = "23.46";
  EXPECT_EQ(g->Cells[7][99999](), "23.46");
  EXPECT_EQ(g->Cells[8][99999](), "23.45");
  for (int r = 0; r < 100000; ++r)
    for (int c = 0; c < 9; ++c) g->Cells[c][r] = "";
  for (int c = 9; c <= 2000; ++c) g->Cells[c][5] = "";
  g->Cells[1][20000000] = "";
  g->Cells[20000000][1] = "";
  EXPECT_LT(inUse() - before, 64 << 10);  // emptied, the rows are gone
  EXPECT_EQ(g->Cells[1][20000000](), "");
  EXPECT_EQ(g->Cells[8][99999](), "");
  delete f;
}

TEST(Forms, AnchoredAndAlignedControlsFollowTheFormSize) {
  auto* f = new TSampleForm(nullptr);
  f->Width = f->Width() + 50;
  f->Height = f->Height() + 20;
  EXPECT_EQ(f->GroupBox1->Width(), 397 + 50);  // anchored left and right: stretches
  EXPECT_EQ(f->bGo->Left(), 216);               // anchored left and top: stays
  EXPECT_EQ(f->sgQuotes->Width(), 450);
  EXPECT_EQ(f->sgQuotes->Top(), 320 - 153);
  delete f;
}

TEST(Forms, GrabsToPng) {
  auto* f = new TSampleForm(nullptr);
  f->sgQuotes->Cells[0][1] = "QVTR";
  char path[] = "/tmp/vcl_form_XXXXXX.png";
  int fd = mkstemps(path, 4);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_TRUE(f->SaveToPng(path));
  QImage img(path);
  if (getenv("VCL_KEEP_PNG")) QFile::copy(path, getenv("VCL_KEEP_PNG"));
  unlink(path);
  ASSERT_FALSE(img.isNull());
  EXPECT_EQ(img.width(), 400);
  EXPECT_EQ(img.height(), 300);
  // Not a blank image: controls were drawn.
  QRgb first = img.pixel(0, 0);
  bool varied = false;
  for (int y = 0; y < img.height() && !varied; y += 3)
    for (int x = 0; x < img.width() && !varied; x += 3) varied = img.pixel(x, y) != first;
  EXPECT_TRUE(varied);
  EXPECT_FALSE(f->Widget()->isVisible());
  EXPECT_FALSE(f->SaveToPng("/nonexistent-dir/x.png"));
  delete f;
}

TEST(Forms, ApplicationCreatesFormsAndOwnsThem) {
  TSampleForm* form = nullptr;
  Application->CreateForm(form);
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->Owner(), Application);
  EXPECT_EQ(Application->MainForm(), form);
  EXPECT_EQ(form->log, std::vector<std::string>{"create"});
  EXPECT_EQ(AnsiString(form->sgQuotes->Cells[0][0]), "Symbol");
  delete form;
  EXPECT_EQ(Application->MainForm(), nullptr);
  EXPECT_EQ(Application->ComponentCount(), 0);
}
