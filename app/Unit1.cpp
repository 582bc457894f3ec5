#include "app/Unit1.h"

#include <cstdlib>
#include <cstring>

#include "app/Misc.h"
#include "app/QuoteAnswer.h"
#include "app/evtavek232.h"

VCL_DECLARE_FORM(Unit1_Form1)
VCL_DECLARE_FORM(Unit1_ComPortForm)

TForm1* Form1 = nullptr;
TComPortForm* ComPortForm = nullptr;
int StartupPortEntry = 0;
AnsiString CsvRemainder;
int GridRow = 1;
int GridColumn = 0;

namespace {

// The runtime's lenient conversion: the longest leading number, 0 when there is none.
int LeadingInt(const AnsiString& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > 0x7FFFFFFFL) return 0x7FFFFFFF;
  if (value < -0x7FFFFFFFL - 1) return -0x7FFFFFFF - 1;
  return static_cast<int>(value);
}

// 2 above zero, 1 at zero, 0 below (or for no number at all: 1).
unsigned char SignCode(const AnsiString& change) {
  // The runtime's atof: "5e" reads as 5, where a stream would give up and read 0.
  const double value = vcl::CAtof(change.c_str());
  if (value > 0) return 2;
  if (value == 0) return 1;
  return 0;
}

// The digit at a 1-based position; positions outside the text read as 0.
unsigned char DigitAt(const AnsiString& text, int position) {
  if (position < 1 || position > text.Length()) return 0;
  return static_cast<unsigned char>(HexDigitValue(text[position]));
}

void ShowError(const AnsiString& text) {
  MessageDlg(text, mtError, TMsgDlgButtons() << mbOK, 0);
}

// The framework's strict conversion, and a number that fits a port: a larger one would
// silently name another port.
unsigned short PortNumber(const AnsiString& text) {
  const int port = text.ToInt();
  if (port < 0 || port > 65535) throw EConvertError("'" + text + "' is not a valid port number");
  return static_cast<unsigned short>(port);
}

// The grid the quote answer fills, and the parse's state in the unit's globals.
class ShownQuotes final : public QuoteGrid {
 public:
  explicit ShownQuotes(TStringGrid* grid) : grid_(grid) {}
  void SetCell(int col, int row, const AnsiString& text) override { grid_->Cells[col][row] = text; }
  void AddRow() override { grid_->RowCount = grid_->RowCount + 1; }

 private:
  TStringGrid* grid_;
};

const QuoteParse kParse{CsvRemainder, GridRow, GridColumn};

const char* const kColumnTitles[9] = {"Symbol", "Last", "Date", "Time", "Change", "Open", "High", "Low", "Volume"};

}  // namespace

TForm1::TForm1(TComponent* Owner) : TForm(Owner) {
  RegisterField("Label1", Label1);
  RegisterField("eSymbols", eSymbols);
  RegisterField("bUpdate", bUpdate);
  RegisterField("Label15", Label15);
  RegisterField("Label16", Label16);
  RegisterField("Label17", Label17);
  RegisterField("Label18", Label18);
  RegisterField("Button1", Button1);
  RegisterField("Button2", Button2);
  RegisterField("Button3", Button3);
  RegisterField("Button4", Button4);
  RegisterField("Label5", Label5);
  RegisterField("Label6", Label6);
  RegisterField("Label7", Label7);
  RegisterField("Label8", Label8);
  RegisterField("Label9", Label9);
  RegisterField("Label10", Label10);
  RegisterField("Label11", Label11);
  RegisterField("Label12", Label12);
  RegisterField("Label13", Label13);
  RegisterField("Label14", Label14);
  RegisterField("Send_QVTR_Last_Button", Send_QVTR_Last_Button);
  RegisterField("Button5", Button5);
  RegisterField("Button6", Button6);
  RegisterField("GroupBox1", GroupBox1);
  RegisterField("Label2", Label2);
  RegisterField("Label3", Label3);
  RegisterField("eProxyServer", eProxyServer);
  RegisterField("Label4", Label4);
  RegisterField("eProxyPort", eProxyPort);
  RegisterField("sgQuotes", sgQuotes);
  RegisterField("corvWebForm1", corvWebForm1);
  RegisterField("Timer1", Timer1);
  RegisterHandler("FormCreate", &TForm1::FormCreate);
  RegisterHandler("FormShow", &TForm1::FormShow);
  RegisterHandler("FormClose", &TForm1::FormClose);
  RegisterHandler("bUpdateClick", &TForm1::bUpdateClick);
  RegisterHandler("corvWebForm1Transfer", &TForm1::corvWebForm1Transfer);
  RegisterHandler("eSymbolsKeyPress", &TForm1::eSymbolsKeyPress);
  RegisterHandler("Send_QVTR_Last_ButtonClick", &TForm1::Send_QVTR_Last_ButtonClick);
  RegisterHandler("Timer1Timer", &TForm1::Timer1Timer);
  RegisterHandler("Button1Click", &TForm1::Button1Click);
  RegisterHandler("Button2Click", &TForm1::Button2Click);
  RegisterHandler("Button3Click", &TForm1::Button3Click);
  RegisterHandler("Button4Click", &TForm1::Button4Click);
  RegisterHandler("Button5Click", &TForm1::Button5Click);
  RegisterHandler("Button6Click", &TForm1::Button6Click);
  LoadForm(VCL_FORM(Unit1_Form1));
}

void TForm1::FormCreate(TObject*) {
  for (int col = 0; col < 9; ++col) sgQuotes->Cells[col][0] = kColumnTitles[col];
  sgQuotes->ColCount = 9;
}

void TForm1::FormShow(TObject*) {
  ComPortForm->cbNames->ItemIndex = StartupPortEntry;
  ComPortForm->Button2Click(this);
  bUpdateClick(this);
  Send_QVTR_Last_ButtonClick(this);
}

void TForm1::FormClose(TObject*, TCloseAction&) { ClosePort(); }

void TForm1::bUpdateClick(TObject*) {
  // An emptied proxy field leaves the proxy of an earlier fetch in place.
  if (eProxyServer->Text() != "") {
    corvWebForm1->ProxyServer = eProxyServer->Text;
    corvWebForm1->ProxyPort = PortNumber(eProxyPort->Text);
  }
  corvWebForm1->Reset();
  corvWebForm1->AddFormVar("f", "sl1d1t1c1ohgv");
  corvWebForm1->AddFormVar("e", ".csv");
  corvWebForm1->AddFormVar("s", eSymbols->Text);
  corvWebForm1->Encoding = encURLEncoding;

  CsvRemainder = "";
  sgQuotes->RowCount = 1;
  GridRow = 1;
  GridColumn = 0;

  // On failure the exception leaves here: the hourglass and the disabled button stay until a
  // fetch succeeds.
  Screen->Cursor = crHourGlass;
  bUpdate->Enabled = false;
  corvWebForm1->SubmitTo("http://" + QuoteServiceHost + "/d/quotes.csv");

  ShownQuotes grid(sgQuotes);
  EndQuoteAnswer(kParse, grid);
  Screen->Cursor = crDefault;
  bUpdate->Enabled = true;
}

void TForm1::corvWebForm1Transfer(TObject*, long, char* Text, unsigned short lenText) {
  // The block belongs to the component: the parse keeps a copy of what it needs.
  ShownQuotes grid(sgQuotes);
  ParseQuoteBlock(kParse, Text, lenText, grid);
}

void TForm1::eSymbolsKeyPress(TObject*, char& Key) {
  if (Key == 13) {
    Key = 0;
    bUpdate->Click();
  }
}

void TForm1::Send_QVTR_Last_ButtonClick(TObject*) {
  unsigned char packet[6];
  packet[0] = SignCode(sgQuotes->Cells[4][1]);

  const AnsiString last = sgQuotes->Cells[1][1];
  const int dot = last.Pos(".");
  if (dot == 1) ShowError("Stock Price Length = 0 Error");
  // Hundreds, tens and units stand just before the point, tenths and hundredths just after
  // it; a price without a point is all whole part. Positions outside the cell read as 0.
  const int point = dot == 0 ? last.Length() + 1 : dot;
  packet[1] = DigitAt(last, point - 3);
  packet[2] = DigitAt(last, point - 2);
  packet[3] = DigitAt(last, point - 1);
  packet[4] = DigitAt(last, point + 1);
  packet[5] = DigitAt(last, point + 2);

  Label13->Caption = last;
  if (!SendFrame(packet, 6)) ShowError("Send Error");
}

void TForm1::Timer1Timer(TObject*) {
  // A tick while a fetch still waits would only be refused, and its dialog would hold that
  // fetch's wait open until someone closed it; the fetch's time-out ends it before the next.
  if (corvWebForm1->Action() != webformIdle) return;
  bUpdateClick(this);
  Send_QVTR_Last_ButtonClick(this);
}

void TForm1::SendCellInTwo(int col, TLabel* shownIn) {
  const AnsiString cell = sgQuotes->Cells[col][1];
  AnsiString whole = cell;
  whole.Delete(3, 3);
  AnsiString cents = cell;
  cents.Delete(1, 3);
  shownIn->Caption = cell;
  ComPortForm->Edit1->Text = whole;
  ComPortForm->Button1Click(this);
  ComPortForm->Edit1->Text = cents;
  ComPortForm->Button1Click(this);
}

void TForm1::Button1Click(TObject*) { SendCellInTwo(1, Label9); }
void TForm1::Button3Click(TObject*) { SendCellInTwo(6, Label11); }
void TForm1::Button4Click(TObject*) { SendCellInTwo(7, Label12); }

void TForm1::Button2Click(TObject*) {
  const AnsiString cell = sgQuotes->Cells[4][1];
  const unsigned char sign = SignCode(cell);
  const int length = cell.Length();
  AnsiString a = cell;
  AnsiString b = cell;
  if (length == 4) {
    a.Delete(2, 3);
    b.Delete(1, 2);
  } else if (length == 5 && sign == 2) {
    a.Delete(3, 3);
    b.Delete(1, 3);
  } else if (length == 5) {
    a.Delete(1, 1);
    a.Delete(2, 3);
    b.Delete(1, 3);
  } else if (length == 6) {
    a.Delete(1, 1);
    a.Delete(3, 3);
    b.Delete(1, 4);
  } else if (length >= 7) {
    a.Delete(2, 3);
    b.Delete(1, 2);
  }
  Label10->Caption = cell;
  ComPortForm->Edit1->Text = a;
  ComPortForm->Button1Click(this);
  ComPortForm->Edit1->Text = b;
  ComPortForm->Button1Click(this);
}

void TForm1::Button5Click(TObject*) { ComPortForm->Show(); }

void TForm1::Button6Click(TObject*) {
  ClosePort();
  Close();
}

TComPortForm::TComPortForm(TComponent* Owner) : TForm(Owner) {
  RegisterField("cbNames", cbNames);
  RegisterField("Button2", Button2);
  RegisterField("Edit1", Edit1);
  RegisterField("Button1", Button1);
  RegisterHandler("Button2Click", &TComPortForm::Button2Click);
  RegisterHandler("Button1Click", &TComPortForm::Button1Click);
  RegisterHandler("FormClose", &TComPortForm::FormClose);
  LoadForm(VCL_FORM(Unit1_ComPortForm));

  int count = 0;
  char** names = EnumerateComPorts(&count);
  for (int i = 0; i < count; ++i) cbNames->Items->Add(names[i]);
  FreePortList(names, count);
}

void TComPortForm::Button2Click(TObject*) {
  if (!OpenPort(cbNames->Text().c_str())) ShowError("Open Error");
}

void TComPortForm::Button1Click(TObject*) {
  const unsigned char value = static_cast<unsigned char>(LeadingInt(Edit1->Text) & 0xFF);
  if (!SendFrame(&value, 1)) ShowError("Send Error");
}

void TComPortForm::FormClose(TObject*, TCloseAction&) { ClosePort(); }
