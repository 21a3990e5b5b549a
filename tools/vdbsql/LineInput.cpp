#include "LineInput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/select.h>
#include <unistd.h>

#include "Interrupt.h"

#ifdef VDBSQL_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace vdbsql {

namespace {

// Reads stdin with getline; a prompt is written only to a terminal.
class TPlainInput : public TLineInput {
 public:
  explicit TPlainInput(bool Terminal) : FTerminal(Terminal) {}
  ~TPlainInput() override { std::free(FBuffer); }

  TReadResult ReadLine(const std::string& Prompt, std::string& Line) override {
    if (FTerminal) {
      std::fputs(Prompt.c_str(), stdout);
      std::fflush(stdout);
    }
    for (;;) {
      if (TakeInterrupt()) return rrInterrupt;
      errno = 0;
      ssize_t N = ::getline(&FBuffer, &FSize, stdin);
      if (N >= 0) {
        Line.assign(FBuffer, static_cast<size_t>(N));
        if (!Line.empty() && Line.back() == '\n') Line.pop_back();
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        return rrLine;
      }
      if (errno == EINTR) {
        std::clearerr(stdin);
        continue;
      }
      return rrEnd;
    }
  }

 private:
  bool FTerminal;
  char* FBuffer = nullptr;
  size_t FSize = 0;
};

#ifdef VDBSQL_HAVE_LIBEDIT

// The line editor through its callback interface, so that a Ctrl-C while
// typing is seen at once: select() waits on the terminal and on the
// interrupt pipe together.
class TEditInput : public TLineInput {
 public:
  explicit TEditInput(std::string HistoryFile) : FHistoryFile(std::move(HistoryFile)) {
    rl_readline_name = "vdbsql";
    using_history();
    stifle_history(1000);
    if (!FHistoryFile.empty()) read_history(FHistoryFile.c_str());
  }
  ~TEditInput() override {
    if (!FHistoryFile.empty()) write_history(FHistoryFile.c_str());
  }

  TReadResult ReadLine(const std::string& Prompt, std::string& Line) override {
    GDone = false;
    GEnd = false;
    rl_callback_handler_install(Prompt.c_str(), &TEditInput::OnLine);
    TReadResult Result = rrEnd;
    for (;;) {
      if (TakeInterrupt()) {
        std::fputs("^C\n", stdout);
        std::fflush(stdout);
        Result = rrInterrupt;
        break;
      }
      fd_set Read;
      FD_ZERO(&Read);
      FD_SET(STDIN_FILENO, &Read);
      const int Wake = InterruptFd();
      if (Wake >= 0) FD_SET(Wake, &Read);
      const int Max = Wake > STDIN_FILENO ? Wake : STDIN_FILENO;
      if (::select(Max + 1, &Read, nullptr, nullptr, nullptr) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (!FD_ISSET(STDIN_FILENO, &Read)) continue;
      rl_callback_read_char();
      if (GDone) {
        Result = GEnd ? rrEnd : rrLine;
        Line = GLine;
        break;
      }
    }
    rl_callback_handler_remove();
    return Result;
  }

  void AddHistory(const std::string& Entry) override { add_history(Entry.c_str()); }

 private:
  static void OnLine(char* Text) {
    GDone = true;
    GEnd = Text == nullptr;
    GLine = Text ? Text : "";
    std::free(Text);
    // Keeps the editor from reading on after the line until the next call.
    rl_callback_handler_remove();
  }

  static inline bool GDone = false;   // the handler got a line or the end
  static inline bool GEnd = false;    // it was the end of input
  static inline std::string GLine;    // the line
  std::string FHistoryFile;
};

#endif

}  // namespace

std::unique_ptr<TLineInput> CreateLineInput(bool Terminal, const std::string& HistoryFile) {
#ifdef VDBSQL_HAVE_LIBEDIT
  if (Terminal) return std::make_unique<TEditInput>(HistoryFile);
#else
  (void)HistoryFile;
#endif
  return std::make_unique<TPlainInput>(Terminal);
}

}  // namespace vdbsql
