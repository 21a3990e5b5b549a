#include "Interrupt.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vdbsql {

namespace {

volatile std::sig_atomic_t GRunning = 0;  // a statement runs
volatile std::sig_atomic_t GCancel = 0;   // Ctrl-C during the statement
volatile std::sig_atomic_t GPending = 0;  // Ctrl-C outside a statement
int GPipe[2] = {-1, -1};

void OnInterrupt(int) {
  if (GRunning) {
    GCancel = 1;
    return;
  }
  GPending = 1;
  if (GPipe[1] >= 0) {
    const char B = 1;
    [[maybe_unused]] ssize_t N = ::write(GPipe[1], &B, 1);
  }
}

void DrainPipe() {
  char Buf[64];
  while (GPipe[0] >= 0 && ::read(GPipe[0], Buf, sizeof Buf) > 0) {
  }
}

}  // namespace

void InstallInterruptHandler() {
  if (GPipe[0] < 0 && ::pipe(GPipe) == 0) {
    for (int Fd : GPipe) {
      ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(Fd, F_SETFD, FD_CLOEXEC);
    }
  }
  struct sigaction Action {};
  Action.sa_handler = OnInterrupt;
  sigemptyset(&Action.sa_mask);
  Action.sa_flags = 0;
  ::sigaction(SIGINT, &Action, nullptr);
}

void SetStatementRunning(bool Running) {
  GCancel = 0;
  GRunning = Running ? 1 : 0;
}

bool CancelPending() { return GCancel != 0; }

bool TakeInterrupt() {
  if (!GPending) return false;
  GPending = 0;
  DrainPipe();
  return true;
}

bool InterruptWaiting() { return GPending != 0; }

int InterruptFd() { return GPipe[0]; }

}  // namespace vdbsql
