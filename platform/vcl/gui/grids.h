// The string grid. Cells are kept apart from the visible size: lowering RowCount or ColCount
// hides rows and columns but keeps their texts, and cells outside the grid can be written.
// The grid's widget reads the texts where they are kept; it draws a huge one shortened.
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/vcl/gui/controls.h"

enum TGridOption {
  goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect, goDrawFocusSelected,
  goRowSizing, goColSizing, goRowMoving, goColMoving, goEditing, goTabs, goRowSelect,
  goAlwaysShowEditor, goThumbTracking
};
using TGridOptions = Set<TGridOption>;
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

namespace vcl::detail {
class GridModel;
}

class EInvalidGridOperation : public Exception {
 public:
  using Exception::Exception;
};

class TStringGrid : public TWinControl {
 public:
  explicit TStringGrid(TComponent* owner);
  ~TStringGrid() override;

  int FColCount() const { return colCount_; }
  void FSetColCount(int v);
  int FRowCount() const { return rowCount_; }
  void FSetRowCount(int v);
  int FFixedRows() const { return fixedRows_; }
  void FSetFixedRows(int v);
  int FFixedCols() const { return fixedCols_; }
  void FSetFixedCols(int v);
  int FDefaultColWidth() const { return defaultColWidth_; }
  void FSetDefaultColWidth(int v);
  int FDefaultRowHeight() const { return defaultRowHeight_; }
  void FSetDefaultRowHeight(int v);
  TGridOptions FOptions() const { return options_; }
  void FSetOptions(TGridOptions v);
  TScrollStyle FScrollBars() const { return scrollBars_; }
  void FSetScrollBars(TScrollStyle v);
  AnsiString FCells(int col, int row) const;
  void FSetCells(int col, int row, const AnsiString& v);
  int FColWidths(int col) const;
  void FSetColWidths(int col, int width);

  Property<TStringGrid, int, &TStringGrid::FColCount, &TStringGrid::FSetColCount> ColCount{this};
  Property<TStringGrid, int, &TStringGrid::FRowCount, &TStringGrid::FSetRowCount> RowCount{this};
  Property<TStringGrid, int, &TStringGrid::FFixedRows, &TStringGrid::FSetFixedRows> FixedRows{this};
  Property<TStringGrid, int, &TStringGrid::FFixedCols, &TStringGrid::FSetFixedCols> FixedCols{this};
  Property<TStringGrid, int, &TStringGrid::FDefaultColWidth, &TStringGrid::FSetDefaultColWidth> DefaultColWidth{this};
  Property<TStringGrid, int, &TStringGrid::FDefaultRowHeight, &TStringGrid::FSetDefaultRowHeight> DefaultRowHeight{this};
  Property<TStringGrid, TGridOptions, &TStringGrid::FOptions, &TStringGrid::FSetOptions> Options{this};
  Property<TStringGrid, TScrollStyle, &TStringGrid::FScrollBars, &TStringGrid::FSetScrollBars> ScrollBars{this};

  // Cells[col][row], read and written like the framework's.
  class CellRef {
   public:
    CellRef(TStringGrid* g, int c, int r) : g_(g), c_(c), r_(r) {}
    operator AnsiString() const { return g_->FCells(c_, r_); }  // NOLINT
    AnsiString operator()() const { return g_->FCells(c_, r_); }
    const CellRef& operator=(const AnsiString& v) const { g_->FSetCells(c_, r_, v); return *this; }
    const CellRef& operator=(const CellRef& o) const { return *this = o(); }

   private:
    TStringGrid* g_;
    int c_, r_;
  };
  class CellColumn {
   public:
    CellColumn(TStringGrid* g, int c) : g_(g), c_(c) {}
    CellRef operator[](int row) const { return CellRef(g_, c_, row); }

   private:
    TStringGrid* g_;
    int c_;
  };
  class CellsProperty {
   public:
    explicit CellsProperty(TStringGrid* g) : g_(g) {}
    CellColumn operator[](int col) const { return CellColumn(g_, col); }

   private:
    TStringGrid* g_;
  };
  class WidthRef {
   public:
    WidthRef(TStringGrid* g, int c) : g_(g), c_(c) {}
    operator int() const { return g_->FColWidths(c_); }  // NOLINT
    const WidthRef& operator=(int w) const { g_->FSetColWidths(c_, w); return *this; }

   private:
    TStringGrid* g_;
    int c_;
  };
  class ColWidthsProperty {
   public:
    explicit ColWidthsProperty(TStringGrid* g) : g_(g) {}
    WidthRef operator[](int col) const { return WidthRef(g_, col); }

   private:
    TStringGrid* g_;
  };
  const CellsProperty Cells{this};
  const ColWidthsProperty ColWidths{this};

 private:
  friend class vcl::detail::GridModel;
  void Rebuild();
  // The cell's text, or nothing for a cell that holds none.
  std::optional<std::string_view> CellText(int col, int row) const;
  AnsiString* DenseCell(int col, int row);
  // A row of the dense part: its cells as far as they were written, and how many hold text.
  // A hidden row keeps its texts packed into one block (count, ends, bytes) until it is
  // written again: short cells cost far less so.
  struct Row {
    std::vector<AnsiString> cells;
    std::unique_ptr<char[]> packed;
    std::size_t filled = 0;
  };
  static void Pack(Row& row);
  static void Unpack(Row& row);
  // Rows and columns near those written are kept densely, rows_[row].cells[col]; a cell far
  // beyond them lives in farCells_, keyed (row, col), so that it costs what it holds. A cell
  // is in one of the two, never both. A row whose cells are all emptied gives its memory back.
  std::vector<Row> rows_;
  std::map<std::pair<int, int>, AnsiString> farCells_;
  vcl::detail::GridModel* model_ = nullptr;
  std::map<int, int> colWidths_;
  int colCount_ = 5, rowCount_ = 5, fixedRows_ = 1, fixedCols_ = 1;
  int defaultColWidth_ = 64, defaultRowHeight_ = 24;
  TGridOptions options_ = TGridOptions{goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect};
  TScrollStyle scrollBars_ = ssBoth;
};
