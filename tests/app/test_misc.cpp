#include <gtest/gtest.h>

#include "app/Misc.h"

namespace {

TEST(HexDigitValue, DigitsOfBothCasesAndNothingElse) {
  const char* digits = "0123456789";
  for (int i = 0; i < 10; ++i) EXPECT_EQ(HexDigitValue(digits[i]), i);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(HexDigitValue(static_cast<char>('A' + i)), 10 + i);
    EXPECT_EQ(HexDigitValue(static_cast<char>('a' + i)), 10 + i);
  }
  for (char c : {'G', 'g', '.', '/', ':', '@', '`', ' ', '\0', '-', '+'}) EXPECT_EQ(HexDigitValue(c), 0) << c;
  // Bytes from 0x80 up are negative characters: never digits, whatever they look like.
  for (int b = 0x80; b <= 0xFF; ++b) EXPECT_EQ(HexDigitValue(static_cast<char>(b)), 0) << b;
}

}  // namespace
