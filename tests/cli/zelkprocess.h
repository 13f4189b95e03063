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

// Runs zelk with the arguments, feeding `input` on standard input.
inline Result runZelk(const std::vector<std::string>& args, const std::string& input) {
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
    std::vector<char*> argv{const_cast<char*>(ZELK_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ZELK_BINARY, argv.data());
    _exit(127);
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

// zelk on a pseudo-terminal: what it printed so far, and its exit.
class Terminal {
 public:
  explicit Terminal(const std::vector<std::string>& args) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      std::vector<char*> argv{const_cast<char*>(ZELK_BINARY)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(ZELK_BINARY, argv.data());
      _exit(127);
    }
  }
  ~Terminal() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool started() const { return pid_ > 0; }
  // Reads until `text` shows up or the time is over.
  bool waitFor(const std::string& text, std::chrono::milliseconds span) {
    auto end = std::chrono::steady_clock::now() + span;
    while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < end)
      readSome();
    return seen.find(text) != std::string::npos;
  }
  void type(char c) { ASSERT_EQ(write(master_, &c, 1), 1); }
  // The exit status, or -1 when zelk is still running after `span`.
  int exitWithin(std::chrono::milliseconds span) {
    auto end = std::chrono::steady_clock::now() + span;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      readSome();
    }
    return -1;
  }
  std::string seen;

 private:
  void readSome() {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      char buf[1024];
      ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) seen.append(buf, static_cast<std::size_t>(n));
    }
  }
  int master_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
};

}  // namespace zelktest
