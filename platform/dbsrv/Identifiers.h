// Whether an identifier must be quoted to be used in the server's SQL.
#pragma once

#include <string_view>

namespace vdbsrv {

// True for reserved words (the server's and SQLite's) and for names that are
// not plain identifiers (letters, digits, _, @, #, $; not starting with a digit).
bool NeedsQuotes(std::string_view identifier);

}  // namespace vdbsrv
