// Transfer-encoding codecs between byte streams, the size estimators the MIME engine sizes
// its buffers and decoded parts with, and the texts of the stream and codec error codes.
#pragma once
#include <cstdint>

#include "corv/mime/Stream.h"

// split: 0 = one output; otherwise the output moves to its next numbered file once it holds
// more than split - 76 bytes.
int EncodeBase64Stream(MyStream* input, MyStream* output, DWORD split);
int EncodeQPStream(MyStream* input, MyStream* output, DWORD split);
int CopyStream(MyStream* input, MyStream* output);
int WriteQPHex(MyStream* output, BYTE byte);

DWORD Base64EncodedSize(DWORD n);
DWORD Base64DecodedSize(DWORD n);
DWORD QPEncodedSize(DWORD n);
DWORD QPDecodedSize(DWORD n);

// Largest output the encoders can produce for n input bytes (the estimators above are
// guesses, these never fall short).
std::uint64_t Base64EncodedBound(std::uint64_t n);
std::uint64_t QPEncodedBound(std::uint64_t n);

// Text of a stream or codec error code; "" for codes without one.
const char* StreamErrorText(int code);
