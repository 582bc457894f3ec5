// Small text helpers of the program.
#pragma once

// The value of c as a hexadecimal digit; every other character, and every byte from 0x80 up,
// gives 0.
int HexDigitValue(char c);
