#include "VdbsqlFixture.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vdbsqltest {

namespace fs = std::filesystem;

void VdbsqlTest::SetUp() {
  static std::atomic<int> Counter{0};
  std::random_device Rd;
  fs::path P = fs::temp_directory_path() /
               ("vdbsql-" + std::to_string(::getpid()) + "-" + std::to_string(Counter++) + "-" + std::to_string(Rd()));
  fs::create_directories(P);
  Dir = P.string() + "/";
  Db = NewDatabase();
}

void VdbsqlTest::TearDown() {
  std::error_code Ec;
  fs::remove_all(Dir, Ec);
}

std::string VdbsqlTest::BinDir() { return fs::read_symlink("/proc/self/exe").parent_path().string(); }

std::string VdbsqlTest::NewDatabase(const std::string& Name) {
  const std::string File = Dir + Name;
  const std::string Cmd = "'" + BinDir() + "/vdbinit' '" + File + "' >/dev/null";
  EXPECT_EQ(std::system(Cmd.c_str()), 0) << Cmd;
  return File;
}

std::string VdbsqlTest::WriteFile(const std::string& Name, const std::string& Text) {
  const std::string File = Dir + Name;
  std::ofstream(File, std::ios::binary) << Text;
  return File;
}

TRun VdbsqlTest::Setup(const std::string& Script) {
  TRun R = Run({Db, "-f", WriteFile("setup.sql", Script)});
  EXPECT_EQ(R.Status, 0) << R.Err;
  return R;
}

TRun VdbsqlTest::Run(const std::vector<std::string>& Args, const TRunOptions& Options) {
  TRun Result;
  int In[2], Out[2], Err[2];
  if (::pipe(In) || ::pipe(Out) || ::pipe(Err)) {
    ADD_FAILURE() << "pipe failed";
    return Result;
  }
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, In[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&Actions, Out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&Actions, Err[1], STDERR_FILENO);
  for (int Fd : {In[0], In[1], Out[0], Out[1], Err[0], Err[1]}) posix_spawn_file_actions_addclose(&Actions, Fd);
  const std::string Tool = BinDir() + "/vdbsql";
  std::vector<std::string> All = {Tool};
  All.insert(All.end(), Args.begin(), Args.end());
  std::vector<char*> Argv;
  for (auto& A : All) Argv.push_back(A.data());
  Argv.push_back(nullptr);
  pid_t Pid = 0;
  const int Rc = posix_spawn(&Pid, Tool.c_str(), &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  ::close(In[0]);
  ::close(Out[1]);
  ::close(Err[1]);
  if (Rc != 0) {
    ADD_FAILURE() << "cannot start " << Tool;
    ::close(In[1]);
    ::close(Out[0]);
    ::close(Err[0]);
    return Result;
  }
  // The input is small: written at once, then closed so the tool sees its end.
  ::signal(SIGPIPE, SIG_IGN);
  size_t Written = 0;
  while (Written < Options.Stdin.size()) {
    ssize_t N = ::write(In[1], Options.Stdin.data() + Written, Options.Stdin.size() - Written);
    if (N <= 0) break;
    Written += static_cast<size_t>(N);
  }
  ::close(In[1]);
  bool Seen = Options.WaitFor.empty();
  pollfd Fds[2] = {{Out[0], POLLIN, 0}, {Err[0], POLLIN, 0}};
  int Open = 2;
  while (Open > 0) {
    if (::poll(Fds, 2, 30000) <= 0) {
      if (errno == EINTR) continue;
      ADD_FAILURE() << "vdbsql gave no output for 30 s";
      ::kill(Pid, SIGKILL);
      break;
    }
    for (int I = 0; I < 2; ++I) {
      if (Fds[I].fd < 0 || !(Fds[I].revents & (POLLIN | POLLHUP))) continue;
      char Buf[4096];
      ssize_t N = ::read(Fds[I].fd, Buf, sizeof Buf);
      if (N <= 0) {
        ::close(Fds[I].fd);
        Fds[I].fd = -1;
        --Open;
        continue;
      }
      (I == 0 ? Result.Out : Result.Err).append(Buf, static_cast<size_t>(N));
    }
    if (!Seen && (Result.Out.find(Options.WaitFor) != std::string::npos ||
                  Result.Err.find(Options.WaitFor) != std::string::npos)) {
      Seen = true;
      if (Options.OnSeen) Options.OnSeen(Pid);
    }
  }
  for (auto& F : Fds)
    if (F.fd >= 0) ::close(F.fd);
  int Status = 0;
  while (::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
  }
  Result.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  return Result;
}

}  // namespace vdbsqltest
