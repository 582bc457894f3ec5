#include "platform/vcl/gui/grids.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QHeaderView>
#include <QTableView>
#include <algorithm>
#include <functional>
#include <utility>

#include "platform/vcl/gui/qtbridge.h"

namespace vcl::detail {

// The grid's cells as the table view reads them. Drawing lays out a cell's whole text, so a
// text far wider than any column is drawn from its first characters only.
class GridModel : public QAbstractTableModel {
 public:

  explicit GridModel(const TStringGrid* grid) : grid_(grid) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : grid_->rowCount_; }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : grid_->colCount_; }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return Fixed(index) ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::BackgroundRole && Fixed(index)) return QBrush(ToQColor(clBtnFace));
    if (role != Qt::DisplayRole) return {};
    const AnsiString* text = grid_->CellText(index.column(), index.row());
    if (!text) return QString();
    if (text->Length() <= kShownChars) return ToQt(*text);
    return QString::fromLatin1(text->data(), kShownChars) + QChar(0x2026);
  }

  // The grid's counts change inside these, so the view learns of it as it happens.
  void ChangeRows(int rows, const std::function<void()>& apply) {
    const int old = grid_->rowCount_;
    if (rows > old) {
      beginInsertRows({}, old, rows - 1);
      apply();
      endInsertRows();
    } else if (rows < old) {
      beginRemoveRows({}, rows, old - 1);
      apply();
      endRemoveRows();
    } else {
      apply();
    }
  }
  void ChangeAll(const std::function<void()>& apply) {
    beginResetModel();
    apply();
    endResetModel();
  }
  void CellChanged(int col, int row) {
    const QModelIndex at = index(row, col);
    emit dataChanged(at, at);
  }

 private:
  bool Fixed(const QModelIndex& index) const {
    return index.row() < grid_->fixedRows_ || index.column() < grid_->fixedCols_;
  }
  const TStringGrid* grid_;
};

}  // namespace vcl::detail

namespace {
QTableView* Table(const TStringGrid* g) { return static_cast<QTableView*>(g->Widget()); }
void CheckCell(int col, int row) {
  if (col < 0 || row < 0) throw ERangeError("Grid index out of range");
}
}  // namespace

TStringGrid::TStringGrid(TComponent* owner) : TWinControl(owner) {
  auto* t = new QTableView;
  model_ = new vcl::detail::GridModel(this);
  t->setModel(model_);
  t->horizontalHeader()->hide();
  t->verticalHeader()->hide();
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionMode(QAbstractItemView::ContiguousSelection);
  t->horizontalHeader()->setMinimumSectionSize(1);
  t->verticalHeader()->setMinimumSectionSize(1);
  t->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  SetWidget(t);
  SetBounds(0, 0, 320, 120);
  Rebuild();
}

TStringGrid::~TStringGrid() {
  // The view goes with the control; the model must not outlive the cells it reads, nor die
  // before the view that reads it.
  if (QWidget* t = Widget()) static_cast<QTableView*>(t)->setModel(nullptr);
  delete model_;
}

const AnsiString* TStringGrid::CellText(int col, int row) const {
  if (static_cast<std::size_t>(row) >= cells_.size()) return nullptr;
  const std::vector<AnsiString>& cells = cells_[static_cast<std::size_t>(row)];
  if (static_cast<std::size_t>(col) >= cells.size()) return nullptr;
  return &cells[static_cast<std::size_t>(col)];
}

AnsiString TStringGrid::FCells(int col, int row) const {
  CheckCell(col, row);
  const AnsiString* text = CellText(col, row);
  return text ? *text : AnsiString();
}

void TStringGrid::FSetCells(int col, int row, const AnsiString& v) {
  CheckCell(col, row);
  const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(col);
  if (v.IsEmpty() && !CellText(col, row)) return;
  if (r >= cells_.size()) cells_.resize(r + 1);
  std::vector<AnsiString>& cells = cells_[r];
  // A row takes the grid's columns at once rather than growing by doubling cell by cell.
  if (c >= cells.size()) {
    cells.reserve(std::max(c + 1, static_cast<std::size_t>(colCount_)));
    cells.resize(c + 1);
  }
  // Swapped in: assigning a short text would keep the storage of a long one it replaces.
  AnsiString text(v);
  std::swap(cells[c], text);
  if (col < colCount_ && row < rowCount_) model_->CellChanged(col, row);
}

// Row height and column widths, which a reset of the view's model forgets.
void TStringGrid::Rebuild() {
  QTableView* t = Table(this);
  t->verticalHeader()->setDefaultSectionSize(defaultRowHeight_);
  t->horizontalHeader()->setDefaultSectionSize(defaultColWidth_);
  for (int c = 0; c < colCount_; ++c) t->setColumnWidth(c, FColWidths(c));
}

// As in the framework, the fixed rows and columns always leave one scrolling row and column.
void TStringGrid::FSetColCount(int v) {
  if (v < 1) v = 1;
  model_->ChangeAll([&] {
    if (v <= fixedCols_) fixedCols_ = v - 1;
    colCount_ = v;
  });
  Rebuild();
}

void TStringGrid::FSetRowCount(int v) {
  if (v < 1) v = 1;
  if (v <= fixedRows_) {
    model_->ChangeAll([&] {
      fixedRows_ = v - 1;
      rowCount_ = v;
    });
    Rebuild();
    return;
  }
  model_->ChangeRows(v, [&] { rowCount_ = v; });
}

void TStringGrid::FSetFixedRows(int v) {
  if (v < 0 || v >= rowCount_) throw EInvalidGridOperation("Fixed row count must be less than row count");
  model_->ChangeAll([&] { fixedRows_ = v; });
  Rebuild();
}

void TStringGrid::FSetFixedCols(int v) {
  if (v < 0 || v >= colCount_) throw EInvalidGridOperation("Fixed column count must be less than column count");
  model_->ChangeAll([&] { fixedCols_ = v; });
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
  QTableView* t = Table(this);
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
  QTableView* t = Table(this);
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
