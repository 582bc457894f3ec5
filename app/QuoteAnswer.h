// The quote answer's parsing: comma-separated fields in lines ended by CR LF, arriving in
// blocks that may cut a field or a line end anywhere. Needs the framework's strings only.
#pragma once
#include <cstddef>

#include "platform/vcl/core/ansistring.h"

// Where the fields go: the main window's grid, or a model of one.
class QuoteGrid {
 public:
  virtual void SetCell(int col, int row, const AnsiString& text) = 0;
  // The line being filled has ended: one row more shows.
  virtual void AddRow() = 0;

 protected:
  ~QuoteGrid() = default;
};

// The parse between blocks: the unfinished tail of the answer (everything after the last comma
// or line feed handled), and the cell that receives the next field.
struct QuoteParse {
  AnsiString& remainder;
  int& row;
  int& column;
};

// Takes one block, up to its first zero byte and never past length. Each byte is looked at
// once, however long a field grows over many blocks.
void ParseQuoteBlock(const QuoteParse& state, const char* text, std::size_t length, QuoteGrid& grid);

// After the last block: a last line without its line end still shows, a CR whose LF never came
// is no line of its own. The remainder is empty afterwards.
void EndQuoteAnswer(const QuoteParse& state, QuoteGrid& grid);
