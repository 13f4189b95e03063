// Runs the real `zelk` binary for the command's end-to-end tests: with piped
// input, or on a pseudo-terminal for Ctrl-C.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace zelktest {

struct Result {
  int status = -1;
  std::string out, err;
};

// The command line and environment of a zelk process, ready before the fork
// (the child only calls async-signal-safe functions).
class Command {
 public:
  // `env`: "NAME=value" entries that replace or add to this process's environment.
  Command(const std::vector<std::string>& args, const std::vector<std::string>& env,
          const char* program = ZELK_BINARY) {
    strings_.push_back(program);
    strings_.insert(strings_.end(), args.begin(), args.end());
    std::size_t argc = strings_.size();
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      bool replaced = false;
      for (const std::string& o : env)
        replaced = replaced || o.substr(0, o.find('=')) == entry.substr(0, entry.find('='));
      if (!replaced) strings_.push_back(entry);
    }
    strings_.insert(strings_.end(), env.begin(), env.end());
    for (std::size_t i = 0; i < strings_.size(); ++i) {
      if (i == argc) argv_.push_back(nullptr);
      argv_.push_back(strings_[i].data());
    }
    argv_.push_back(nullptr);
    envp_ = argv_.data() + argc + 1;
  }
  [[noreturn]] void exec() {
    execve(argv_[0], argv_.data(), envp_);
    _exit(127);
  }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> argv_;
  char** envp_ = nullptr;
};

// Runs zelk (or another program) with the arguments, feeding `input` on
// standard input.
inline Result runZelk(const std::vector<std::string>& args, const std::string& input,
                      const std::vector<std::string>& env = {}, const char* program = ZELK_BINARY) {
  Command command(args, env, program);
  int in[2], out[2], err[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    command.exec();
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  Result r;
  std::size_t written = 0;
  bool inOpen = true, outOpen = true, errOpen = true;
  if (input.empty()) {
    close(in[1]);
    inOpen = false;
  }
  while (outOpen || errOpen) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    if (!outOpen) fds[0].fd = -1;
    if (!errOpen) fds[1].fd = -1;
    poll(fds, inOpen ? 3 : 2, 10000);
    char buf[4096];
    if (outOpen && fds[0].revents) {
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n > 0) {
        r.out.append(buf, static_cast<std::size_t>(n));
      } else {
        outOpen = false;
        close(out[0]);
      }
    }
    if (errOpen && fds[1].revents) {
      ssize_t n = read(err[0], buf, sizeof buf);
      if (n > 0) {
        r.err.append(buf, static_cast<std::size_t>(n));
      } else {
        errOpen = false;
        close(err[0]);
      }
    }
    if (inOpen && fds[2].revents) {
      ssize_t n = write(in[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n <= 0 || written == input.size()) {
        close(in[1]);
        inOpen = false;
      }
    }
  }
  if (inOpen) close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

// zelk on a pseudo-terminal (its standard error apart, on a pipe): what it
// printed so far, and its exit.
class Terminal {
 public:
  explicit Terminal(const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
    Command command(args, env);
    int err[2];
    if (pipe(err) != 0) return;
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      dup2(err[1], 2);
      close(err[0]);
      close(err[1]);
      command.exec();
    }
    close(err[1]);
    err_ = err[0];
  }
  ~Terminal() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    if (err_ >= 0) close(err_);
  }
  bool started() const { return pid_ > 0; }
  // Reads until `text` shows up or the time is over.
  bool waitFor(const std::string& text, std::chrono::milliseconds span) {
    auto end = std::chrono::steady_clock::now() + span;
    while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < end)
      readSome(20);
    return seen.find(text) != std::string::npos;
  }
  void type(char c) { ASSERT_EQ(write(master_, &c, 1), 1); }
  // The exit status, or -1 when zelk is still running after `span`. After
  // the exit, `seen` and `err` hold everything zelk wrote.
  int exitWithin(std::chrono::milliseconds span) {
    auto end = std::chrono::steady_clock::now() + span;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        while (readSome(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      readSome(20);
    }
    return -1;
  }
  std::string seen;  // the terminal's output
  std::string err;   // standard error

 private:
  // False when nothing came within `ms` milliseconds.
  bool readSome(int ms) {
    pollfd p[2] = {{master_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(p, 2, ms) <= 0) return false;
    bool got = false;
    char buf[1024];
    for (int i = 0; i < 2; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(p[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? seen : err).append(buf, static_cast<std::size_t>(n));
        got = true;
      } else if (i == 1 && n == 0) {
        close(err_);  // zelk has gone
        err_ = -1;
      }
    }
    return got;
  }
  int master_ = -1;
  int err_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
};

}  // namespace zelktest
