// Ctrl-C: the SIGINT handler only records it; the tool decides what it
// means where it stands. While a statement runs it is a cancel request for
// that statement alone; otherwise it is pending for the prompt or the
// script loop (drop the typed line, leave, stop the script).
#pragma once

namespace vdbsql {

// Installs the handler (without SA_RESTART, so a blocked read returns).
void InstallInterruptHandler();
// Marks the start and the end of a statement; both forget a cancel request.
void SetStatementRunning(bool Running);
// A Ctrl-C came while the current statement runs.
bool CancelPending();
// Answers whether Ctrl-C was pressed outside a statement since the last
// call, and forgets it.
bool TakeInterrupt();
// Whether such a Ctrl-C is pending, keeping it.
bool InterruptWaiting();
// Readable while such a Ctrl-C is pending, for select().
int InterruptFd();

}  // namespace vdbsql
