// Cuts script text, fed line by line, into statements and meta-commands.
//
// A statement ends at a ';' outside quotes, comments and begin ... end
// blocks (so a procedure body stays whole), wherever it stands on its line.
// A line that starts with a backslash, outside quotes and comments, is a
// meta-command of its own. Text after the last ';' is a statement too when
// the input ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vdbsql {

struct TScriptItem {
  bool Meta = false;  // a backslash command, Text without the backslash
  std::string Text;   // the statement without its ';', blanks trimmed
  int Line = 0;       // input line (from 1) where it starts
};

class TStatementSplitter {
 public:
  // Feeds one line without its line break; finished items go to Out.
  void AddLine(const std::string& Line, std::vector<TScriptItem>& Out);
  // The input ended: an unfinished statement goes to Out.
  void Finish(std::vector<TScriptItem>& Out);
  // A statement has begun and not ended (the prompt shows it).
  bool Pending() const { return FSignificant; }
  // Forgets the unfinished statement (Ctrl-C at the prompt).
  void Reset();
  int LineNo() const { return FLineNo; }

 private:
  enum TState : uint8_t { sNormal, sSingle, sDouble, sBacktick, sBracket, sBlockComment };

  void EndStatement(std::vector<TScriptItem>& Out);
  // A word outside quotes; answers whether it ended a pending begin/end.
  void Word(const std::string& W);
  // Settles a begin or end still waiting for the token after it.
  void SettleKeyword(const std::string& NextWord);

  std::string FText;          // the statement so far
  TState FState = sNormal;    // scanner state carried across lines
  int FDepth = 0;             // open begin/case blocks
  bool FPendingBegin = false; // "begin" seen, its kind not yet known
  bool FPendingEnd = false;   // "end" seen, its kind not yet known
  bool FSignificant = false;  // FText holds more than blanks and comments
  int FStartLine = 0;         // line of the first significant character
  int FLineNo = 0;            // lines fed so far
};

// Splits a whole text (a -c argument or a file's contents).
std::vector<TScriptItem> SplitScript(const std::string& Text);

}  // namespace vdbsql
