#include "platform/terminalconsole.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <utility>

#include "platform/text.h"

namespace zelk {

namespace {

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A write to a pipe whose reader is gone raises SIGPIPE, which would end the
// process; the console must report a failed write instead. The signal is
// blocked on this thread around the write and a pending one is consumed.
class SigpipeBlock {
 public:
  explicit SigpipeBlock(bool active) : active_(active) {
    if (!active_) return;
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old_);
  }
  ~SigpipeBlock() {
    if (!active_) return;
    if (sawEpipe_ && !wasPending_) {
      sigset_t pipeSet;
      sigemptyset(&pipeSet);
      sigaddset(&pipeSet, SIGPIPE);
      const timespec zero{0, 0};
      while (sigtimedwait(&pipeSet, nullptr, &zero) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  void sawEpipe() { sawEpipe_ = true; }

 private:
  bool active_;
  bool wasPending_ = false;
  bool sawEpipe_ = false;
  sigset_t old_{};
};

}  // namespace

TerminalConsole::TerminalConsole(int inFd, int outFd) : inFd_(inFd), outFd_(outFd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
  struct stat st {};
  if (::fstat(outFd_, &st) == 0) outIsPipe_ = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

TerminalConsole::~TerminalConsole() {
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

bool TerminalConsole::fail(int error) {
  error_.store(error, std::memory_order_relaxed);
  return false;
}

bool TerminalConsole::detach() {
  if (!detached_.exchange(true) && wakeWrite_ >= 0) {
    const char b = 1;
    ssize_t n;
    do {
      n = ::write(wakeWrite_, &b, 1);
    } while (n < 0 && errno == EINTR);
  }
  return true;
}

bool TerminalConsole::readByte(unsigned char& b) {
  if (pushback_ >= 0) {
    b = static_cast<unsigned char>(pushback_);
    pushback_ = -1;
    return true;
  }
  if (inStart_ < inEnd_) {
    b = static_cast<unsigned char>(inBuffer_[inStart_++]);
    return true;
  }
  for (;;) {
    if (detached_.load()) return fail(DETACHED_ERROR);
    pollfd fds[2] = {{inFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    // Without the wake pipe, look at the detach flag ten times a second.
    int n = ::poll(fds, wakeRead_ >= 0 ? 2 : 1, wakeRead_ >= 0 ? -1 : 100);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ioFailure(readError_, errno);
    }
    if (detached_.load() || (wakeRead_ >= 0 && fds[1].revents != 0)) return fail(DETACHED_ERROR);
    if (n == 0) continue;
    if (fds[0].revents & POLLNVAL) return ioFailure(readError_, EBADF);
    // In blocks: a byte per system call makes a long line take seconds.
    ssize_t r = ::read(inFd_, inBuffer_, sizeof inBuffer_);
    if (r > 0) {
      inStart_ = 1;
      inEnd_ = static_cast<std::size_t>(r);
      b = static_cast<unsigned char>(inBuffer_[0]);
      return true;
    }
    if (r == 0) {
      endOfInput_ = true;
      return fail(END_OF_INPUT_ERROR);
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return ioFailure(readError_, errno);
  }
}

bool TerminalConsole::ioFailure(std::atomic<int>& first, int error) {
  int none = 0;
  first.compare_exchange_strong(none, error);
  return fail(error);
}

bool TerminalConsole::readChar(char16_t& c) {
  std::lock_guard<std::mutex> g(readMutex_);
  if (detached_.load()) return fail(DETACHED_ERROR);
  if (pendingLow_) {
    c = std::exchange(pendingLow_, 0);
    return true;
  }
  if (endOfInput_) return fail(END_OF_INPUT_ERROR);
  unsigned char b;
  if (!readByte(b)) return false;
  if (b < 0x80) {
    c = b;
    return true;
  }
  char32_t cp;
  int extra;
  if (!utf8Lead(b, cp, extra)) {
    c = 0xFFFD;
    return true;
  }
  for (int k = 0; k < extra; ++k) {
    if (!readByte(b)) return false;
    if ((b & 0xC0) != 0x80) {
      pushback_ = b;  // the broken sequence ends here; this byte starts the next
      c = 0xFFFD;
      return true;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (!utf8Valid(cp, extra)) {
    c = 0xFFFD;
    return true;
  }
  if (cp >= 0x10000) {
    cp -= 0x10000;
    c = static_cast<char16_t>(0xD800 + (cp >> 10));
    pendingLow_ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return true;
  }
  c = static_cast<char16_t>(cp);
  return true;
}

bool TerminalConsole::writeBytes(const char* data, std::size_t size) {
  SigpipeBlock block(outIsPipe_);
  while (size > 0) {
    if (detached_.load()) return fail(DETACHED_ERROR);
    ssize_t n = ::write(outFd_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd fds[2] = {{outFd_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
      ::poll(fds, wakeRead_ >= 0 ? 2 : 1, wakeRead_ >= 0 ? -1 : 100);
      continue;
    }
    if (n < 0 && errno == EPIPE) block.sawEpipe();
    return ioFailure(writeError_, n < 0 ? errno : EIO);
  }
  return true;
}

bool TerminalConsole::writeChar(char16_t c) {
  std::lock_guard<std::mutex> g(writeMutex_);
  if (detached_.load()) return fail(DETACHED_ERROR);
  std::string bytes;
  if (isHigh(c)) {
    // Held back until its second unit comes; a lone one before it is lost to U+FFFD.
    if (pendingHigh_) appendUtf8(bytes, 0xFFFD);
    pendingHigh_ = c;
    return bytes.empty() || writeBytes(bytes.data(), bytes.size());
  }
  if (isLow(c) && pendingHigh_) {
    appendUtf8(bytes, 0x10000 + ((static_cast<char32_t>(pendingHigh_) - 0xD800) << 10) +
                          (static_cast<char32_t>(c) - 0xDC00));
    pendingHigh_ = 0;
  } else {
    if (pendingHigh_) appendUtf8(bytes, 0xFFFD);
    pendingHigh_ = 0;
    appendUtf8(bytes, isLow(c) ? 0xFFFD : c);
  }
  return writeBytes(bytes.data(), bytes.size());
}

void TerminalConsole::setTitle(const std::u16string& title) {
  if (detached_.load() || !::isatty(outFd_)) return;
  std::u16string clean;
  for (char16_t c : title)
    if (c >= 0x20 && c != 0x7F) clean.push_back(c);
  std::string seq = "\x1b]0;" + utf16ToUtf8(clean) + "\x07";
  std::lock_guard<std::mutex> g(writeMutex_);
  writeBytes(seq.data(), seq.size());
}

}  // namespace zelk
