#pragma once

// A built program started as a user starts it, for the tests of the command-line front
// ends: its own working directory, no terminal, stdout and stderr kept in files.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/run_puzzles.h"

namespace quaderix::testing {

// One run of `argv[0]` in `cwd`, begun by the constructor, with stdin from /dev/null and
// stdout and stderr in `cwd`/.out and .err. Owned by one test thread; the process is
// waited for at the latest by the destructor, so none outlives its test.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, const std::filesystem::path& cwd) : cwd_(cwd) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    // Opened here, before the fork: the output of an earlier program in the same folder is
    // gone before anyone can read it as this one's.
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open((cwd / ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open((cwd / ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(cwd.c_str()) != 0 || in < 0 || out < 0 || err < 0) _exit(127);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execv(args[0], args.data());
      _exit(127);
    }
    for (const int fd : {in, out, err})
      if (fd >= 0) close(fd);
  }
  ~ChildProcess() {
    if (status_ < 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit status, or 1000 + the signal that ended it.
  int Wait() {
    int raw = 0;
    if (status_ < 0 && waitpid(pid_, &raw, 0) == pid_) status_ = Status(raw);
    return status_;
  }
  // Sends `signal` once `ready` holds (or at once) and `delay` has passed; the exit
  // status, also when the program ended before.
  int SignalAfter(std::chrono::microseconds delay, int signal,
                  const std::function<bool()>& ready = nullptr) {
    int raw = 0;
    while (ready && !ready()) {
      if (waitpid(pid_, &raw, WNOHANG) == pid_) return status_ = Status(raw);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(delay);
    kill(pid_, signal);
    return Wait();
  }
  pid_t pid() const { return pid_; }
  std::string Out() const { return ReadAll(cwd_ / ".out"); }
  std::string Err() const { return ReadAll(cwd_ / ".err"); }

 private:
  static int Status(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw); }

  std::filesystem::path cwd_;
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace quaderix::testing
