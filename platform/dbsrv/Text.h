// Small text helpers of the engine: blanks, case, file names.
#pragma once

#include <string>
#include <string_view>

namespace vdbsrv {

std::string_view Trim(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);  // ASCII case folded

// The file name without directory and extension, as engines and databases
// are named after their file ("C:\data\sales.db" and "sales.db" give "sales").
std::string FilePrefix(std::string_view path);
// The file name part after the last "/" or "\".
std::string FileNamePart(std::string_view path);

// Copies text into a fixed buffer, always NUL-terminated when size > 0;
// answers the bytes copied (without the NUL).
size_t CopyText(char* dest, size_t size, std::string_view text);

}  // namespace vdbsrv
