#include "platform/vcl/gui/grids.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>

#include "platform/vcl/gui/qtbridge.h"

using vcl::detail::ToQt;

namespace {
QTableWidget* Table(const TStringGrid* g) { return static_cast<QTableWidget*>(g->Widget()); }
void CheckCell(int col, int row) {
  if (col < 0 || row < 0) throw ERangeError("Grid index out of range");
}
}  // namespace

TStringGrid::TStringGrid(TComponent* owner) : TWinControl(owner) {
  auto* t = new QTableWidget;
  t->horizontalHeader()->hide();
  t->verticalHeader()->hide();
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionMode(QAbstractItemView::ContiguousSelection);
  t->horizontalHeader()->setMinimumSectionSize(1);
  t->verticalHeader()->setMinimumSectionSize(1);
  SetWidget(t);
  SetBounds(0, 0, 320, 120);
  Rebuild();
}

AnsiString TStringGrid::FCells(int col, int row) const {
  CheckCell(col, row);
  auto it = cells_.find({col, row});
  return it == cells_.end() ? AnsiString() : it->second;
}

void TStringGrid::FSetCells(int col, int row, const AnsiString& v) {
  CheckCell(col, row);
  if (v.IsEmpty())
    cells_.erase({col, row});
  else
    cells_[{col, row}] = v;
  if (col < colCount_ && row < rowCount_) ShowCell(col, row);
}

void TStringGrid::ShowCell(int col, int row) {
  QTableWidget* t = Table(this);
  QTableWidgetItem* item = t->item(row, col);
  if (!item) {
    item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    t->setItem(row, col, item);
  }
  if (row < fixedRows_ || col < fixedCols_) {
    item->setBackground(vcl::detail::ToQColor(clBtnFace));
    item->setFlags(Qt::ItemIsEnabled);
  } else {
    item->setBackground(QBrush());
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  }
  auto it = cells_.find({col, row});
  item->setText(it == cells_.end() ? QString() : ToQt(it->second));
}

void TStringGrid::Rebuild() {
  QTableWidget* t = Table(this);
  t->setColumnCount(colCount_);
  t->setRowCount(rowCount_);
  t->verticalHeader()->setDefaultSectionSize(defaultRowHeight_);
  for (int c = 0; c < colCount_; ++c) t->setColumnWidth(c, FColWidths(c));
  for (int r = 0; r < rowCount_; ++r) {
    t->setRowHeight(r, defaultRowHeight_);
    for (int c = 0; c < colCount_; ++c) ShowCell(c, r);
  }
}

// As in the framework, the fixed rows and columns always leave one scrolling row and column.
void TStringGrid::FSetColCount(int v) {
  if (v < 1) v = 1;
  if (v <= fixedCols_) fixedCols_ = v - 1;
  colCount_ = v;
  Rebuild();
}

void TStringGrid::FSetRowCount(int v) {
  if (v < 1) v = 1;
  const int oldFixed = fixedRows_;
  if (v <= fixedRows_) fixedRows_ = v - 1;
  const int old = rowCount_;
  rowCount_ = v;
  if (fixedRows_ != oldFixed) {
    Rebuild();
    return;
  }
  QTableWidget* t = Table(this);
  t->setRowCount(v);
  for (int r = old; r < v; ++r) {
    t->setRowHeight(r, defaultRowHeight_);
    for (int c = 0; c < colCount_; ++c) ShowCell(c, r);
  }
}

void TStringGrid::FSetFixedRows(int v) {
  if (v < 0 || v >= rowCount_) throw EInvalidGridOperation("Fixed row count must be less than row count");
  fixedRows_ = v;
  Rebuild();
}

void TStringGrid::FSetFixedCols(int v) {
  if (v < 0 || v >= colCount_) throw EInvalidGridOperation("Fixed column count must be less than column count");
  fixedCols_ = v;
  Rebuild();
}

void TStringGrid::FSetDefaultColWidth(int v) {
  defaultColWidth_ = v;
  colWidths_.clear();
  Rebuild();
}

void TStringGrid::FSetDefaultRowHeight(int v) {
  defaultRowHeight_ = v;
  Rebuild();
}

void TStringGrid::FSetOptions(TGridOptions v) {
  options_ = v;
  QTableWidget* t = Table(this);
  t->setShowGrid(v.Contains(goVertLine) || v.Contains(goHorzLine));
  t->setSelectionBehavior(v.Contains(goRowSelect) ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
  t->setSelectionMode(v.Contains(goRangeSelect) ? QAbstractItemView::ContiguousSelection
                                                : QAbstractItemView::SingleSelection);
  t->setEditTriggers(v.Contains(goEditing) ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                           : QAbstractItemView::NoEditTriggers);
  t->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
}

void TStringGrid::FSetScrollBars(TScrollStyle v) {
  scrollBars_ = v;
  QTableWidget* t = Table(this);
  t->setHorizontalScrollBarPolicy(v == ssHorizontal || v == ssBoth ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  t->setVerticalScrollBarPolicy(v == ssVertical || v == ssBoth ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

int TStringGrid::FColWidths(int col) const {
  auto it = colWidths_.find(col);
  return it == colWidths_.end() ? defaultColWidth_ : it->second;
}

void TStringGrid::FSetColWidths(int col, int width) {
  if (col < 0) throw ERangeError("Grid index out of range");
  colWidths_[col] = width;
  if (col < colCount_) Table(this)->setColumnWidth(col, width);
}
