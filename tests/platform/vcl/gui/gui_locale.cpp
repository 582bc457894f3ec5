#include <clocale>
#include <cstdlib>

#include "gui_env.h"

namespace {
// Before the QApplication exists: Qt takes the locale from the environment.
const bool kCommaLocaleWanted = [] {
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  return true;
}();
}  // namespace

TEST(Locale, NumbersStayInTheCLocaleAfterInitialize) {
  ASSERT_TRUE(kCommaLocaleWanted);
  if (!std::setlocale(LC_MONETARY, nullptr) || std::string(std::setlocale(LC_CTYPE, nullptr)) == "C")
    GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  EXPECT_DOUBLE_EQ(AnsiString("23.45").ToDouble(), 23.45);
  EXPECT_DOUBLE_EQ(vcl::CAtof("0.12"), 0.12);
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  EXPECT_STREQ(probe, "1.5");  // the runtime's own formatting too
}
