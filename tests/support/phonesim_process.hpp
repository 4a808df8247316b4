// Runs kivmod-phonesim as a separate process for end-to-end tests and benchmarks: starts it,
// reads the link it serves from its first output line, and stops it (and waits for it).
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace kivtest {

class PhonesimProcess {
 public:
  // args: the program's options and folder. Waits up to 5 s for the serving line.
  explicit PhonesimProcess(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), KIVMOD_PHONESIM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, KIVMOD_PHONESIM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
    std::string line;
    char c = 0;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         pid_ > 0 && c != '\n' && std::chrono::steady_clock::now() < end;) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      if (::read(out_, &c, 1) != 1) break;
      if (c != '\n') line += c;
    }
    if (auto at = line.find("serving on "); at != std::string::npos) link_ = line.substr(at + 11);
  }
  ~PhonesimProcess() { Stop(); }
  PhonesimProcess(const PhonesimProcess&) = delete;
  PhonesimProcess& operator=(const PhonesimProcess&) = delete;

  // "serial:/dev/pts/N" or "tcp:127.0.0.1:PORT"; empty when the program did not start.
  const std::string& link() const { return link_; }

  // Whether the program has ended (within waitMs), and its exit status.
  bool Exited(int waitMs, int* status = nullptr) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);; ::usleep(10000)) {
      int st = 0;
      if (pid_ > 0 && ::waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        if (status) *status = st;
      }
      if (pid_ <= 0) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
    }
  }

  void Stop() {
    if (pid_ > 0 && (::kill(pid_, SIGTERM), !Exited(2000))) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    if (out_ >= 0) ::close(out_);
    out_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string link_;
};

}  // namespace kivtest
