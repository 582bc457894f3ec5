#include "app/QuoteAnswer.h"

#include <cstring>
#include <utility>

namespace {

// Empties the text and gives its storage back, which assigning an empty text would keep.
void Release(AnsiString& text) {
  AnsiString gone(std::move(text));
  text = AnsiString();
}

// Writes S[a..b] (1-based, ends included) to the next cell, without one enclosing quote at
// either end; an end before the start is an empty field.
void WriteField(const QuoteParse& state, const AnsiString& S, int a, int b, QuoteGrid& grid) {
  AnsiString field;
  if (a <= b) {
    if (S[a] == '"') ++a;
    if (b >= a && S[b] == '"') --b;
    if (b >= a) field = S.SubString(a, b - a + 1);
  }
  grid.SetCell(state.column, state.row, field);
}

// Ends the line being filled: the next field goes to column 0 of the next row, which shows.
void EndLine(const QuoteParse& state, QuoteGrid& grid) {
  ++state.row;
  grid.AddRow();
  state.column = 0;
}

}  // namespace

void ParseQuoteBlock(const QuoteParse& state, const char* text, std::size_t length, QuoteGrid& grid) {
  const std::size_t n = text == nullptr ? 0 : strnlen(text, length);
  AnsiString& S = state.remainder;
  // Everything before the new block was scanned already and holds no separator.
  int i = S.Length() + 1;
  S += std::string_view(text == nullptr ? "" : text, n);
  const int end = S.Length();
  int start = 1;
  for (; i <= end; ++i) {
    const char c = S[i];
    if (c == ',') {
      WriteField(state, S, start, i - 1, grid);
      start = i + 1;
      ++state.column;
    } else if (c == '\n') {
      // Lines end in CR LF; a bare LF keeps the whole field.
      int last = i - 1;
      if (last >= start && S[last] == '\r') --last;
      WriteField(state, S, start, last, grid);
      EndLine(state, grid);
      start = i + 1;
    }
  }
  // A field that goes on keeps its text where it is: copying it for every block made a long
  // field cost its length squared.
  if (start > end) Release(S);
  else if (start > 1) S.Delete(1, start - 1);
}

void EndQuoteAnswer(const QuoteParse& state, QuoteGrid& grid) {
  const AnsiString& S = state.remainder;
  int end = S.Length();
  if (end >= 1 && S[end] == '\r') --end;
  if (end > 0 || state.column > 0) {
    WriteField(state, S, 1, end, grid);
    EndLine(state, grid);
  }
  Release(state.remainder);
}
