# Script mode: writes OUT, a C++ source whose function vcl::forms::NAME() returns the bytes of IN.
file(READ ${IN} _hex HEX)
string(LENGTH "${_hex}" _len)
math(EXPR _size "${_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n  " _bytes "${_bytes}")
file(WRITE ${OUT}.tmp
"// Generated from ${IN}; do not edit.
#include <string_view>

namespace vcl::forms {
namespace {
const char kData[] = {
  ${_bytes}0};
}  // namespace
std::string_view ${NAME}() { return std::string_view(kData, ${_size}); }
}  // namespace vcl::forms
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
