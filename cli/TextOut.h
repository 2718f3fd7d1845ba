#pragma once
// Safe text for the terminal and for line-based output: names may hold any byte but '/' and NUL.

#include <string>
#include <string_view>

namespace pelloran::cli {

// Backslash and control characters escaped: \t \n \r \\ and \xHH for the rest (ESC is \x1b) and for bytes that
// are not UTF-8; C1 controls and bidi controls as \uHHHH. One record stays on one line and nothing reaches
// the terminal raw or reorders it.
std::string EscapeText(std::string_view text);

}  // namespace pelloran::cli
