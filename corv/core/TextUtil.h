// Small byte-text routines shared by the engines. The percent-encoding, base64 and header
// splitting that work on an engine string are members of DynStr (corv/core/DynStr.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "corv/core/DynStr.h"

// Character classes of the 7-bit bytes; bytes from 0x80 up belong to no class.
inline constexpr unsigned char CORV_CHAR_URLSAFE = 0x01;  // * - . 0-9 @ A-Z _ a-z
extern const unsigned char CorvCharClass[128];
inline bool IsURLSafe(unsigned char c) { return c < 128 && (CorvCharClass[c] & CORV_CHAR_URLSAFE); }

// The standard base64 alphabet (A-Z a-z 0-9 + /), with "=" as padding.
extern const char Base64Alphabet[65];
// 6-bit value of a base64 character, or 0xFF for any other byte.
unsigned char Base64Value(unsigned char c);

// Signed decimal: an optional "-", then digits up to the first other byte. Wraps at 32 bits;
// no leading digit gives 0; "+" is no sign. Null gives 0.
std::int32_t ParseInt(const char* text);

// Replaces the first `c` in text with a zero byte and returns the text after it; without
// one, returns the empty text at the end. Null stays null.
char* SplitAt(char* text, char c);

// Copies text into a fixed buffer of `room` bytes (room > 0), cut to fit, always ended with a
// zero byte. Null copies as the empty text.
void CopyCut(char* out, std::size_t room, const char* text);
