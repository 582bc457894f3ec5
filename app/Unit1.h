// The main window (symbols, proxy, quote grid, buttons, timer) and the COM Port window.
#pragma once
#include "corv/http/Corvwebform.h"
#include "platform/vcl/gui/vcl.h"

class TForm1 : public TForm {
 public:
  TLabel* Label1 = nullptr;
  TEdit* eSymbols = nullptr;
  TButton* bUpdate = nullptr;
  TLabel* Label15 = nullptr;
  TLabel* Label16 = nullptr;
  TLabel* Label17 = nullptr;
  TLabel* Label18 = nullptr;
  TButton* Button1 = nullptr;
  TButton* Button2 = nullptr;
  TButton* Button3 = nullptr;
  TButton* Button4 = nullptr;
  TLabel* Label5 = nullptr;
  TLabel* Label6 = nullptr;
  TLabel* Label7 = nullptr;
  TLabel* Label8 = nullptr;
  TLabel* Label9 = nullptr;
  TLabel* Label10 = nullptr;
  TLabel* Label11 = nullptr;
  TLabel* Label12 = nullptr;
  TLabel* Label13 = nullptr;
  TLabel* Label14 = nullptr;
  TButton* Send_QVTR_Last_Button = nullptr;
  TButton* Button5 = nullptr;
  TButton* Button6 = nullptr;
  TGroupBox* GroupBox1 = nullptr;
  TLabel* Label2 = nullptr;
  TLabel* Label3 = nullptr;
  TEdit* eProxyServer = nullptr;
  TLabel* Label4 = nullptr;
  TEdit* eProxyPort = nullptr;
  TStringGrid* sgQuotes = nullptr;
  TcorvWebForm* corvWebForm1 = nullptr;
  TTimer* Timer1 = nullptr;

  explicit TForm1(TComponent* Owner);

  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void bUpdateClick(TObject* Sender);
  void corvWebForm1Transfer(TObject* Sender, long BytesTransferred, char* Text, unsigned short lenText);
  void eSymbolsKeyPress(TObject* Sender, char& Key);
  void Send_QVTR_Last_ButtonClick(TObject* Sender);
  void Timer1Timer(TObject* Sender);
  void Button1Click(TObject* Sender);
  void Button2Click(TObject* Sender);
  void Button3Click(TObject* Sender);
  void Button4Click(TObject* Sender);
  void Button5Click(TObject* Sender);
  void Button6Click(TObject* Sender);

 private:
  // Sends a cell of row 1 as two one-byte test values: its whole part, then its cents.
  void SendCellInTwo(int col, TLabel* shownIn);
};

class TComPortForm : public TForm {
 public:
  TComboBox* cbNames = nullptr;
  TButton* Button2 = nullptr;
  TEdit* Edit1 = nullptr;
  TButton* Button1 = nullptr;

  explicit TComPortForm(TComponent* Owner);

  void Button2Click(TObject* Sender);  // "Open"
  void Button1Click(TObject* Sender);  // "Send"
  void FormClose(TObject* Sender, TCloseAction& Action);
};

extern TForm1* Form1;
extern TComPortForm* ComPortForm;

// The entry of the COM Port window's list that the main window opens when it is first shown:
// 0 ("COM3") or 1 ("COM1"). Each executable sets it before creating the windows.
extern int StartupPortEntry;

// The host (optionally with ":port") of the quote service the Get Data URL names. Set from the
// build's configuration; tests point it at a local service.
extern AnsiString QuoteServiceHost;

// The quote answer's unfinished tail and the cell that receives its next field.
extern AnsiString CsvRemainder;
extern int GridRow;
extern int GridColumn;
