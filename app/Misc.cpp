#include "app/Misc.h"

int HexDigitValue(char c) {
  const signed char s = static_cast<signed char>(c);
  if (s >= '0' && s <= '9') return s - '0';
  if (s >= 'A' && s <= 'F') return s - 'A' + 10;
  if (s >= 'a' && s <= 'f') return s - 'a' + 10;
  return 0;
}
