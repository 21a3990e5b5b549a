// File names under Windows rules and POSIX at once: '\' and '/' both
// separate directories, "X:" is a drive and "\\server\share" a UNC root.
// The name-splitting functions are pure text operations; the file system
// functions pass the name to the operating system unchanged.
#pragma once

#include <string>
#include <string_view>

namespace vcl {

// The separator this platform writes when it has to add one.
constexpr char PathDelim = '/';
constexpr char DriveDelim = ':';

bool IsPathDelimiter(char C);

// "C:\data\demo.db" -> "C:" ; "\\srv\share\a.db" -> "\\srv\share" ;
// "/data/demo.db" -> "".
std::string ExtractFileDrive(std::string_view FileName);
// Everything up to and including the last separator or drive colon:
// "C:\data\demo.db" -> "C:\data\" ; "/data/demo.db" -> "/data/".
std::string ExtractFilePath(std::string_view FileName);
// The same without the trailing separator, unless that would turn a root
// into something else: "/data/demo.db" -> "/data", "/demo.db" -> "/",
// "C:\demo.db" -> "C:\".
std::string ExtractFileDir(std::string_view FileName);
// The part after the last separator or drive colon.
std::string ExtractFileName(std::string_view FileName);
// From the last '.' of the name part on, the dot included; "" when none.
std::string ExtractFileExt(std::string_view FileName);
// Replaces (or appends) the extension; Extension carries its own dot.
std::string ChangeFileExt(std::string_view FileName, std::string_view Extension);

// Appends a separator unless one ends the name already. The separator added
// is the kind the name already uses ('\' for "C:\data"), PathDelim otherwise.
std::string IncludeTrailingPathDelimiter(std::string_view S);
// Drops one trailing separator. A root ("/", "C:\") is kept whole, since
// without its separator it would name a different directory.
std::string ExcludeTrailingPathDelimiter(std::string_view S);

// An absolute, normalised name: relative names are taken from the current
// directory, "." and repeated separators vanish, ".." climbs (never above
// the root). Drive and UNC names keep '\' as their separator, others use
// '/'. An empty name expands to the current directory.
std::string ExpandFileName(std::string_view FileName);

// A file that is not a directory / a directory (symbolic links followed).
bool FileExists(const std::string& FileName);
bool DirectoryExists(const std::string& Directory);
// False with the last error set (see GetLastError) when nothing was deleted
// or renamed. RenameFile refuses to replace an existing NewName, as on
// Windows.
bool DeleteFile(const std::string& FileName);
bool RenameFile(const std::string& OldName, const std::string& NewName);

}  // namespace vcl
