#include "rtl/FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <vector>

#include "rtl/Windows.h"

namespace vcl {

namespace {

bool IsDriveLetter(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }

bool HasDrive(std::string_view S) { return S.size() >= 2 && IsDriveLetter(S[0]) && S[1] == ':'; }

bool IsUnc(std::string_view S) { return S.size() >= 2 && S[0] == '\\' && S[1] == '\\'; }

// Length of the drive part: "X:" or "\\server\share".
size_t DriveLength(std::string_view S) {
  if (HasDrive(S)) return 2;
  if (!IsUnc(S)) return 0;
  size_t i = 2;
  int separators = 0;
  while (i < S.size()) {
    if (IsPathDelimiter(S[i]) && ++separators == 2) break;
    ++i;
  }
  return i;
}

// Index just after the last separator or the drive colon; 0 when none.
size_t NameStart(std::string_view S) {
  for (size_t i = S.size(); i > 0; --i)
    if (IsPathDelimiter(S[i - 1])) return i;
  return HasDrive(S) ? 2 : 0;
}

// Length of the root a name starts with: "/", "C:\", "\\srv\share\".
size_t RootLength(std::string_view S) {
  const size_t d = DriveLength(S);
  if (d < S.size() && IsPathDelimiter(S[d])) return d + 1;
  return d == 0 ? 0 : (IsUnc(S) ? d : 0);
}

void SetLastErrorFromErrno() { SetLastError(ErrorFromErrno(errno)); }

}  // namespace

bool IsPathDelimiter(char C) { return C == '\\' || C == '/'; }

std::string ExtractFileDrive(std::string_view FileName) {
  return std::string(FileName.substr(0, DriveLength(FileName)));
}

std::string ExtractFilePath(std::string_view FileName) {
  return std::string(FileName.substr(0, NameStart(FileName)));
}

std::string ExtractFileDir(std::string_view FileName) {
  size_t n = NameStart(FileName);
  if (n > 1 && IsPathDelimiter(FileName[n - 1]) && !IsPathDelimiter(FileName[n - 2]) &&
      !(n == 3 && HasDrive(FileName)))
    --n;
  return std::string(FileName.substr(0, n));
}

std::string ExtractFileName(std::string_view FileName) {
  return std::string(FileName.substr(NameStart(FileName)));
}

std::string ExtractFileExt(std::string_view FileName) {
  const size_t start = NameStart(FileName);
  const size_t dot = FileName.rfind('.');
  if (dot == std::string_view::npos || dot < start) return "";
  return std::string(FileName.substr(dot));
}

std::string ChangeFileExt(std::string_view FileName, std::string_view Extension) {
  const size_t start = NameStart(FileName);
  size_t dot = FileName.rfind('.');
  if (dot == std::string_view::npos || dot < start) dot = FileName.size();
  std::string r(FileName.substr(0, dot));
  r.append(Extension);
  return r;
}

std::string IncludeTrailingPathDelimiter(std::string_view S) {
  // An empty directory means "here"; a separator would turn it into the root.
  if (S.empty() || IsPathDelimiter(S.back())) return std::string(S);
  char sep = HasDrive(S) || IsUnc(S) ? '\\' : PathDelim;
  for (size_t i = S.size(); i > 0; --i)
    if (IsPathDelimiter(S[i - 1])) {
      sep = S[i - 1];
      break;
    }
  std::string r(S);
  r += sep;
  return r;
}

std::string ExcludeTrailingPathDelimiter(std::string_view S) {
  if (S.empty() || !IsPathDelimiter(S.back())) return std::string(S);
  const size_t root = RootLength(S);
  if (S.size() <= root && !IsUnc(S)) return std::string(S);
  return std::string(S.substr(0, S.size() - 1));
}

std::string ExpandFileName(std::string_view FileName) {
  std::string prefix;
  std::string_view rest;
  char sep = '/';
  std::string joined;
  if (HasDrive(FileName)) {
    prefix = std::string(FileName.substr(0, 2)) + "\\";
    rest = FileName.substr(2);
    sep = '\\';
  } else if (IsUnc(FileName)) {
    const size_t d = DriveLength(FileName);
    prefix = std::string(FileName.substr(0, d)) + "\\";
    rest = FileName.substr(d);
    sep = '\\';
  } else if (!FileName.empty() && IsPathDelimiter(FileName[0])) {
    prefix.assign(1, '/');
    rest = FileName;
  } else {
    joined = GetCurrentDir();
    if (!FileName.empty()) {
      joined += '/';
      joined.append(FileName);
    }
    return ExpandFileName(joined);
  }

  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i < rest.size()) {
    size_t j = i;
    while (j < rest.size() && !IsPathDelimiter(rest[j])) ++j;
    const std::string_view part = rest.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string r = prefix;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) r += sep;
    r.append(parts[k]);
  }
  if (!parts.empty() && IsPathDelimiter(rest.back())) r += sep;
  return r;
}

bool FileExists(const std::string& FileName) {
  struct stat st {};
  return !FileName.empty() && ::stat(FileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& Directory) {
  struct stat st {};
  return !Directory.empty() && ::stat(Directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& FileName) {
  if (::unlink(FileName.c_str()) == 0) return true;
  SetLastErrorFromErrno();
  return false;
}

bool RenameFile(const std::string& OldName, const std::string& NewName) {
  if (::renameat2(AT_FDCWD, OldName.c_str(), AT_FDCWD, NewName.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) {
    SetLastErrorFromErrno();
    return false;
  }
  // File systems without no-replace renames: check first, then rename.
  struct stat st {};
  if (::lstat(NewName.c_str(), &st) == 0) {
    errno = EEXIST;
    SetLastErrorFromErrno();
    return false;
  }
  if (::rename(OldName.c_str(), NewName.c_str()) == 0) return true;
  SetLastErrorFromErrno();
  return false;
}

}  // namespace vcl
