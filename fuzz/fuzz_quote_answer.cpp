// The program's quote-answer parser on a hostile answer, handed over in blocks of a
// fuzz-chosen size, checked against the same answer in one block and against a plain reading
// of its rules.
// Flags: the block size (low 7 bits, 0: the whole answer at once); bit 7 leaves out the end of
// the answer, as a fetch that fails does.
#include <map>
#include <string>
#include <utility>

#include "app/QuoteAnswer.h"

namespace {

struct Grid final : QuoteGrid {
  std::map<std::pair<int, int>, std::string> cells;
  int rows = 1;
  void SetCell(int col, int row, const AnsiString& text) override {
    cells[{col, row}] = std::string(text.data(), text.Length());
  }
  void AddRow() override { ++rows; }
  bool operator==(const Grid& o) const { return cells == o.cells && rows == o.rows; }
};

Grid Parse(const std::string& answer, std::size_t block, bool end) {
  Grid grid;
  AnsiString remainder;
  int row = 1, column = 0;
  const QuoteParse state{remainder, row, column};
  for (std::size_t at = 0; at < answer.size(); at += block) {
    // The component's block is followed by a zero byte, as the receive buffer leaves it.
    const std::string piece = answer.substr(at, block);
    ParseQuoteBlock(state, piece.c_str(), piece.size(), grid);
  }
  if (end) EndQuoteAnswer(state, grid);
  return grid;
}

// The rules read plainly: fields end at a comma, lines at a line feed, a CR before the line
// feed goes, and one quote at either end of a field goes.
Grid Model(const std::string& s, bool end) {
  Grid grid;
  int row = 1, column = 0;
  auto field = [&](std::size_t a, std::size_t b) {  // s[a, b)
    if (a < b && s[a] == '"') ++a;
    if (a < b && s[b - 1] == '"') --b;
    grid.cells[{column, row}] = a < b ? s.substr(a, b - a) : std::string();
  };
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == ',') {
      field(start, i);
      ++column;
      start = i + 1;
    } else if (s[i] == '\n') {
      field(start, i > start && s[i - 1] == '\r' ? i - 1 : i);
      ++row;
      ++grid.rows;
      column = 0;
      start = i + 1;
    }
  }
  if (end) {
    std::size_t stop = s.size();
    if (stop > start && s[stop - 1] == '\r') --stop;
    if (stop > start || column > 0) {
      field(start, stop);
      ++grid.rows;
    }
  }
  return grid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t block = data[0] & 0x7F;
  const bool end = !(data[0] & 0x80);
  std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);
  // A block is read up to its first zero byte: an answer with one is only run.
  const bool plain = answer.find('\0') == std::string::npos;
  const Grid split = Parse(answer, block ? block : answer.size() + 1, end);
  if (plain && !(split == Parse(answer, answer.size() + 1, end))) __builtin_trap();
  if (plain && !(split == Model(answer, end))) __builtin_trap();
  return 0;
}
