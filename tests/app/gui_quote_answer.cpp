// The quote answer as the transfer events deliver it, block by block, into the grid. No
// network here: the blocks go straight to the handler, the way the component hands them over.
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Unit1.h"
#include "platform/winsock/winsock.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using Grid = std::vector<std::vector<std::string>>;

const std::string kAnswer =
    "\"QVTR\",23.45,\"12/9/2026\",\"6:07am\",+0.12,23.33,23.60,23.10,675479\r\n"
    "\"LLTC\",73.49,\"12/9/2026\",\"6:08am\",-0.33,73.16,73.49,73.16,352315\r\n"
    "\"IBM\",,\"\",N/A,0.00,1,2,3,4\r\n";

class QuoteAnswer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    winsock::EnsureRegistered();
    Application->Initialize();
    // The window is not shown: showing it would open a port and fetch.
    Application->CreateForm(Form1);
  }
  void SetUp() override { Begin(); }

  // What Get Data does before it submits.
  static void Begin() {
    CsvRemainder = "";
    Form1->sgQuotes->RowCount = 1;
    GridRow = 1;
    GridColumn = 0;
  }
  // One transfer event: the block in a buffer of exactly its size, as the engine's own data.
  static void Feed(const std::string& block) {
    std::unique_ptr<char[]> data(new char[block.size() + 1]);
    block.copy(data.get(), block.size());
    data[block.size()] = '\0';
    Form1->corvWebForm1Transfer(Form1->corvWebForm1, 0, data.get(), static_cast<unsigned short>(block.size()));
  }
  static void FeedPieces(const std::string& answer, const std::vector<std::size_t>& cuts) {
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
      Feed(answer.substr(at, cut - at));
      at = cut;
    }
    Feed(answer.substr(at));
  }
  // The shown data rows, columns 0..9 (9 is past the visible ones), and the handler's state.
  static Grid Shown() {
    Grid g;
    for (int row = 1; row < Form1->sgQuotes->RowCount(); ++row) {
      std::vector<std::string> cells;
      for (int col = 0; col < 10; ++col) cells.push_back(Form1->sgQuotes->Cells[col][row]().c_str());
      g.push_back(cells);
    }
    g.push_back({CsvRemainder.c_str(), std::to_string(GridRow), std::to_string(GridColumn)});
    return g;
  }
  static Grid OneBlock(const std::string& answer) {
    Begin();
    Feed(answer);
    return Shown();
  }
  static std::vector<std::string> Row(int row, int cols = 9) {
    std::vector<std::string> cells;
    for (int col = 0; col < cols; ++col) cells.push_back(Form1->sgQuotes->Cells[col][row]().c_str());
    return cells;
  }
};

TEST_F(QuoteAnswer, QuotedFieldsOfOneLineFillRowOne) {
  Feed("\"QVTR\",23.45,\"12/9/2026\",\"6:07am\",+0.12,23.33,23.60,23.10,675479\r\n");
  EXPECT_EQ(Row(1), (std::vector<std::string>{"QVTR", "23.45", "12/9/2026", "6:07am", "+0.12", "23.33", "23.60",
                                               "23.10", "675479"}));
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 2);
  EXPECT_EQ(CsvRemainder, "");
  // Empty fields, quoted or not, write empty cells over what the row held.
  Begin();
  Feed("\"IBM\",,\"\",\",x\"\r\n");
  EXPECT_EQ(Row(1, 5), (std::vector<std::string>{"IBM", "", "", "", "x"}));
}

TEST_F(QuoteAnswer, AnAnswerCutAnywhereFillsTheGridAsInOneBlock) {
  const Grid whole = OneBlock(kAnswer);
  ASSERT_EQ(whole.size(), 4u);  // three rows and the state
  EXPECT_EQ(whole[1][0], "LLTC");
  for (std::size_t cut = 0; cut <= kAnswer.size(); ++cut) {
    Begin();
    FeedPieces(kAnswer, {cut});
    ASSERT_EQ(Shown(), whole) << "cut at " << cut;
  }
  // Three pieces, over the first line and into the second, covers every pair of cuts that
  // falls in a field, between CR and LF or on a separator.
  const std::size_t span = kAnswer.find('\n') + 12;
  for (std::size_t a = 0; a <= span; ++a) {
    for (std::size_t b = a; b <= span; ++b) {
      Begin();
      FeedPieces(kAnswer, {a, b});
      ASSERT_EQ(Shown(), whole) << "cuts at " << a << " and " << b;
    }
  }
  // One byte per event.
  Begin();
  for (char c : kAnswer) Feed(std::string(1, c));
  EXPECT_EQ(Shown(), whole);
}

TEST_F(QuoteAnswer, LineEndsAndOddPlacesKeepTheirData) {
  // A bare LF ends a line without eating its last character.
  Feed("A,1.5\nB,2\r\n");
  EXPECT_EQ(Row(1, 2), (std::vector<std::string>{"A", "1.5"}));
  EXPECT_EQ(Row(2, 2), (std::vector<std::string>{"B", "2"}));
  // A separator at the very start of the text, an empty line, a lone quote: empty fields.
  Begin();
  Feed(",x\n\n\"\r\n\r\n");
  EXPECT_EQ(Row(1, 2), (std::vector<std::string>{"", "x"}));
  EXPECT_EQ(Row(2, 1), std::vector<std::string>{""});
  EXPECT_EQ(Row(3, 1), std::vector<std::string>{""});
  EXPECT_EQ(Row(4, 1), std::vector<std::string>{""});
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 5);
  // Extra fields go past the visible columns; the grid keeps them.
  Begin();
  Feed("1,2,3,4,5,6,7,8,9,10,11\r\n");
  EXPECT_EQ(Form1->sgQuotes->Cells[10][1](), "11");
  EXPECT_EQ(Form1->sgQuotes->ColCount(), 9);
  // Commas inside quotes are not protected, doubled quotes not unfolded.
  Begin();
  Feed("\"A,B\",\"say \"\"hi\"\"\"\r\n");
  EXPECT_EQ(Row(1, 3), (std::vector<std::string>{"A", "B", "say \"\"hi\"\""}));
}

TEST_F(QuoteAnswer, BlocksAreReadUpToTheirLengthOrFirstZero) {
  // A block that the engine did not end with a zero byte is read to its length only (the
  // sanitizer build reports any read past it).
  const std::string text = "ABC,1\r\n";
  std::unique_ptr<char[]> exact(new char[text.size()]);
  text.copy(exact.get(), text.size());
  Form1->corvWebForm1Transfer(Form1->corvWebForm1, 0, exact.get(), 4);
  EXPECT_EQ(Row(1, 1), std::vector<std::string>{"ABC"});
  EXPECT_EQ(CsvRemainder, "");
  EXPECT_EQ(GridColumn, 1);
  // Text after a zero byte in the block is not taken; an empty or missing block changes nothing.
  Feed(std::string("2\0,9", 4));
  EXPECT_EQ(CsvRemainder, "2");
  Feed("");
  Form1->corvWebForm1Transfer(Form1->corvWebForm1, 0, nullptr, 0);
  EXPECT_EQ(CsvRemainder, "2");
  Feed("\r\n");
  EXPECT_EQ(Row(1, 2), (std::vector<std::string>{"ABC", "2"}));
}

TEST_F(QuoteAnswer, AShorterAnswerShowsOnlyItsOwnRows) {
  Feed(kAnswer);
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 4);
  Begin();
  Feed("\"X\",1.00\r\n");
  EXPECT_EQ(Form1->sgQuotes->RowCount(), 2);
  EXPECT_EQ(Row(1, 2), (std::vector<std::string>{"X", "1.00"}));
  // Hidden rows keep their cells until written again.
  EXPECT_EQ(Form1->sgQuotes->Cells[0][2](), "LLTC");
}

}  // namespace
