#pragma once
// Safe text for the terminal and for line-based output: names may hold any byte but '/' and NUL.

#include <string>
#include <string_view>

namespace pelloran::cli {

// Backslash and control characters escaped: \t \n \r \\ and \xHH for the rest (ESC is \x1b), so that one
// record stays on one line and nothing reaches the terminal raw.
std::string EscapeText(std::string_view text);

}  // namespace pelloran::cli
