// Stateless helpers on SQL text, ";"-separated name lists, file names and
// client-library entry points. The SQL routines sit on a shallow scanner that
// knows a fixed set of keywords, quotes, comments and numbers, and nothing of
// nesting: good enough to find a query's table, its ORDER BY columns and its
// :name markers, and never more than that.
#pragma once

#include <string>

namespace vdb {

// Name of the first table of the FROM clause (the table part of an
// owner-qualified name, quotes removed); empty when there is none.
std::string VdbGetTableNameFromSQL(const std::string& SQL);

// The ORDER BY columns, ";"-separated; Directions receives one "ASC" or
// "DESC" per column, ";"-separated. Both are empty without ORDER BY.
std::string VdbGetOrderByFromSQL(const std::string& SQL, std::string& Directions);

// Names of the :name parameter markers in text order, duplicates kept,
// ";"-separated. Markers in quoted texts, comments and := are not markers.
std::string VdbGetParamsFromSQL(const std::string& SQL);

// Appends Value to Dest, with Separator in between when Dest was not empty.
void VdbConcateField(std::string& Dest, const std::string& Separator, const std::string& Value);

// As VdbConcateField, but an empty Value changes nothing.
void VdbConcateEmptyField(std::string& Dest, const std::string& Separator, const std::string& Value);

// The Index-th entry (counted from 1) of a Separator-delimited list; empty
// when there is none or Index is below 1.
std::string VdbExtractField(const std::string& Text, char Separator, int Index);

// Whether FileName starts like an explicit path: "/", "\", "./", ".\",
// "../" or "..\".
bool VdbIsPath(const std::string& FileName);

// The bare name of a file: directory (for drive-qualified and explicit
// paths) and extension removed. A relative directory such as sub\file.db
// stays part of the result.
std::string VdbExtractFilePrefix(const std::string& FileName);

// Text with every character that occurs in Chars replaced by Replacement,
// in one pass (so a Replacement containing such a character is kept as is).
std::string VdbReplaceChar(const std::string& Chars, const std::string& Replacement, const std::string& Text);

// Cuts trailing bytes of value 32 and below from a zero-terminated buffer in
// place; bytes of 128 and above stay. Answers the same buffer (null stays null).
char* VdbTrimTrailBlanks(char* Text);

// Binds an entry point: P := Address when the library exports it, otherwise
// Default (a fallback such as VdbDummyProc, or null for optional ones).
template <class Proc>
void VdbAssignProcAddress(Proc& P, void* Address, Proc Default) {
  P = Address != nullptr ? reinterpret_cast<Proc>(Address) : Default;
}

}  // namespace vdb
