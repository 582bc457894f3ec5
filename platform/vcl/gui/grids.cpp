#include "platform/vcl/gui/grids.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QHeaderView>
#include <QTableView>
#include <malloc.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
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
    const std::optional<std::string_view> text = grid_->CellText(index.column(), index.row());
    if (!text) return QString();
    if (text->size() <= kShownChars) return QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size()));
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

namespace {
// How far past the dense part a write may land and still extend it: growth stays within a
// constant factor of what is held.
std::size_t NearLimit(std::size_t held, std::size_t floor) { return held + std::max(held, floor); }

constexpr std::size_t kTrimBytes = 4u << 20;
// A packed row: its cell count, then the end offset of each cell's text, then the texts.
using PackWord = std::uint32_t;
PackWord PackedWord(const char* block, std::size_t i) {
  PackWord w;
  std::memcpy(&w, block + i * sizeof w, sizeof w);
  return w;
}
std::string_view PackedCell(const char* block, std::size_t c) {
  const std::size_t n = PackedWord(block, 0);
  const char* texts = block + (n + 1) * sizeof(PackWord);
  const PackWord begin = c == 0 ? 0 : PackedWord(block, c), end = PackedWord(block, c + 1);
  return {texts + begin, end - begin};
}
}  // namespace

void TStringGrid::Pack(Row& row) {
  if (row.packed || row.cells.empty()) return;
  std::size_t bytes = 0;
  for (const AnsiString& cell : row.cells) bytes += cell.str().size();
  const std::size_t n = row.cells.size();
  if (bytes > std::numeric_limits<PackWord>::max() || n >= std::numeric_limits<PackWord>::max()) return;
  auto block = std::make_unique<char[]>((n + 1) * sizeof(PackWord) + bytes);
  const auto put = [&block](std::size_t i, std::size_t v) {
    const auto w = static_cast<PackWord>(v);
    std::memcpy(block.get() + i * sizeof w, &w, sizeof w);
  };
  put(0, n);
  char* texts = block.get() + (n + 1) * sizeof(PackWord);
  std::size_t end = 0;
  for (std::size_t c = 0; c < n; ++c) {
    const std::string& text = row.cells[c].str();
    if (!text.empty()) std::memcpy(texts + end, text.data(), text.size());
    end += text.size();
    put(c + 1, end);
  }
  std::vector<AnsiString>().swap(row.cells);
  row.packed = std::move(block);
}

void TStringGrid::Unpack(Row& row) {
  if (!row.packed) return;
  const std::size_t n = PackedWord(row.packed.get(), 0);
  std::vector<AnsiString> cells;
  cells.reserve(n);
  for (std::size_t c = 0; c < n; ++c) cells.emplace_back(PackedCell(row.packed.get(), c));
  row.cells = std::move(cells);
  row.packed.reset();
}

AnsiString* TStringGrid::DenseCell(int col, int row) {
  const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(col);
  if (r >= rows_.size()) return nullptr;
  Unpack(rows_[r]);
  if (c >= rows_[r].cells.size()) return nullptr;
  return &rows_[r].cells[c];
}

std::optional<std::string_view> TStringGrid::CellText(int col, int row) const {
  const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(col);
  if (r < rows_.size()) {
    const Row& line = rows_[r];
    if (line.packed) {
      if (c < PackedWord(line.packed.get(), 0)) return PackedCell(line.packed.get(), c);
    } else if (c < line.cells.size()) {
      return line.cells[c].view();
    }
  }
  if (farCells_.empty()) return std::nullopt;
  auto it = farCells_.find({row, col});
  if (it == farCells_.end()) return std::nullopt;
  return it->second.view();
}

AnsiString TStringGrid::FCells(int col, int row) const {
  CheckCell(col, row);
  const std::optional<std::string_view> text = CellText(col, row);
  return text ? AnsiString(*text) : AnsiString();
}

void TStringGrid::FSetCells(int col, int row, const AnsiString& v) {
  CheckCell(col, row);
  const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(col);
  // Swapped in: assigning a short text would keep the storage of a long one it replaces.
  AnsiString text(v);
  if (AnsiString* cell = DenseCell(col, row)) {
    Row& line = rows_[r];
    line.filled += static_cast<std::size_t>(!text.IsEmpty()) - static_cast<std::size_t>(!cell->IsEmpty());
    std::swap(*cell, text);
    if (line.filled == 0) {
      std::vector<AnsiString>().swap(line.cells);
      while (!rows_.empty() && rows_.back().filled == 0) rows_.pop_back();
      if (rows_.capacity() > 2 * rows_.size() + 1024) rows_.shrink_to_fit();
    }
  } else if (auto it = farCells_.find({row, col}); it != farCells_.end()) {
    if (text.IsEmpty()) farCells_.erase(it);
    else std::swap(it->second, text);
  } else if (text.IsEmpty()) {
    return;
  } else if (r < NearLimit(rows_.size(), 1024) &&
             c < NearLimit(r < rows_.size() ? rows_[r].cells.size() : 0, std::max<std::size_t>(colCount_, 64))) {
    if (r >= rows_.size()) rows_.resize(r + 1);
    Row& line = rows_[r];
    const std::size_t had = line.cells.size();
    // A row takes the grid's columns at once rather than growing by doubling cell by cell.
    line.cells.reserve(std::max(c + 1, static_cast<std::size_t>(colCount_)));
    line.cells.resize(c + 1);
    // Cells that were far from the row before it grew join it.
    auto from = farCells_.lower_bound({row, static_cast<int>(had)});
    auto to = farCells_.lower_bound({row, col + 1});
    for (auto it = from; it != to; ++it) {
      line.cells[static_cast<std::size_t>(it->first.second)] = std::move(it->second);
      ++line.filled;
    }
    farCells_.erase(from, to);
    std::swap(line.cells[c], text);
    ++line.filled;
  } else {
    farCells_.emplace(std::make_pair(row, col), std::move(text));
  }
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
  // Rows that go out of sight keep their texts, packed. The cells' storage is freed amid the
  // packed blocks, where the allocator would keep it from the system: many rows' worth (an
  // answer of many lines followed by short ones) is handed back.
  std::size_t freed = 0;
  for (auto r = static_cast<std::size_t>(v); v < rowCount_ && r < rows_.size(); ++r) {
    if (!rows_[r].packed) freed += rows_[r].cells.capacity() * sizeof(AnsiString);
    Pack(rows_[r]);
  }
  if (freed >= kTrimBytes) malloc_trim(0);
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
