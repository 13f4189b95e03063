#include "base/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/namedmutex.h"
#include "platform/paths.h"

namespace zelk {

// Made on first use and never destroyed: a text printed from another file's
// static initialiser finds the queue built, and a background thread still
// printing while the process exits never meets a destroyed queue; what is
// left queued at exit goes with the process.
CQueue<std::u16string>& strSeqQueue() {
  static auto* q = new CQueue<std::u16string>;
  return *q;
}
CQueue<std::u16string>& mStrSeq = strSeqQueue();

namespace {
std::atomic<LogView*> theLogView{nullptr};
std::atomic<MessageBoxes*> theBoxes{nullptr};
std::atomic<CommandTarget*> theTarget{nullptr};

std::mutex consoleMutex;
std::shared_ptr<Console>& consoleSlot() {
  static auto* slot = new std::shared_ptr<Console>;
  return *slot;
}

std::mutex logPathMutex;
std::string& logPathSlot() {
  static auto* p = new std::string;
  return *p;
}
}  // namespace

std::shared_ptr<Console> currentConsole() {
  std::lock_guard<std::mutex> g(consoleMutex);
  return consoleSlot();
}

void setConsole(std::shared_ptr<Console> console) {
  std::lock_guard<std::mutex> g(consoleMutex);
  consoleSlot() = std::move(console);
}

void setLogView(LogView* view) { theLogView.store(view); }
LogView* logView() { return theLogView.load(); }
void setMessageBoxes(MessageBoxes* boxes) { theBoxes.store(boxes); }
MessageBoxes* messageBoxes() { return theBoxes.load(); }
void setCommandTarget(CommandTarget* target) { theTarget.store(target); }
CommandTarget* commandTarget() { return theTarget.load(); }
void postCommand(int id) {
  if (CommandTarget* t = theTarget.load()) t->postCommand(id);
}

std::string logFilePath() {
  std::lock_guard<std::mutex> g(logPathMutex);
  if (logPathSlot().empty()) return stateDir() + "/ZelkSolver.log";
  return logPathSlot();
}

void setLogFilePath(const std::string& path) {
  std::lock_guard<std::mutex> g(logPathMutex);
  logPathSlot() = path;
}

std::u16string limitLogPrintText(std::u16string text) {
  if (text.size() > LOGPRINT_LIMIT) {
    text.resize(LOGPRINT_LIMIT - 2);
    text += u"\r\n";
  }
  return text;
}

void QueueLogText(const std::u16string& text) {
  if (on(F_LOG)) AppendLogFile(text);
  strSeqQueue().push(text);
}

namespace {

// Opens the log file for appending, making it when it is missing. Never
// truncates: an existing log that cannot be opened for a moment (no free
// descriptor, say) keeps its records, and this one is dropped. Only regular
// files are written; O_NONBLOCK keeps a FIFO of that name from hanging us.
int openLogFile(const std::string& path, bool& needsMark) {
  constexpr int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK;
  needsMark = false;
  int fd = ::open(path.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    ensureParentDir(path);
    fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      needsMark = true;
    } else if (errno == EEXIST) {
      fd = ::open(path.c_str(), flags);  // another process made it just now
    }
  }
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  // An empty file (its maker died before the mark) gets the mark too.
  if (st.st_size == 0) needsMark = true;
  return fd;
}

// The record is dropped; the first error is kept for a front end to tell.
std::atomic<int> firstLogFileError{0};
void noteLogFileError(int error) {
  int none = 0;
  firstLogFileError.compare_exchange_strong(none, error);
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void AppendLogFile(const std::u16string& text) {
  // Made on the first append and kept until the process ends; named after
  // the local time of that first append.
  static NamedMutex* logFileMutex =
      new NamedMutex(formatLocalTime("logF--%Y-%m-%d %H:%M:%S") + u"ZelkSolver.log");
  logFileMutex->lock();
  bool needsMark = false;
  int fd = openLogFile(logFilePath(), needsMark);
  if (fd >= 0) {
    LocalTime t = localTimeNow();
    std::u16string record = formatText(u"[%04d.%02d.%02d-%02d:%02d:%02d]:", t.year, t.month, t.day,
                                       t.hour, t.minute, t.second);
    record += text;
    std::string bytes;
    bytes.reserve(2 + record.size() * 2);
    if (needsMark) bytes.append("\xFF\xFE", 2);
    for (char16_t c : record) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    // One write of the whole record: with O_APPEND it lands at the end in one
    // piece, even beside another process appending to the same file.
    if (!writeAll(fd, bytes.data(), bytes.size())) noteLogFileError(errno ? errno : EIO);
    ::close(fd);
  } else {
    noteLogFileError(errno);
  }
  logFileMutex->unlock();
}

int logFileError() { return firstLogFileError.load(); }

int consoleWrite(const std::u16string& text, unsigned delayMs) {
  if (text.empty()) return 0;
  std::shared_ptr<Console> console = currentConsole();
  for (char16_t c : text) {
    if (delayMs) sleepMs(delayMs);
    if (!console || !console->writeChar(c)) {
      setStop(1);
      LogPrint(u"WriteConsole:eno %d\r\n", console ? console->error() : NO_CONSOLE_ERROR);
      return 1;
    }
  }
  return 0;
}

void boxShow(const std::u16string& text) {
  if (MessageBoxes* boxes = theBoxes.load()) boxes->information(text, u"BOX_PRINT");
}

void DrainLogQueue() {
  for (int i = 0; i < 10; ++i) {
    LogView* view = theLogView.load();
    if (!view) return;
    std::optional<std::u16string> text = strSeqQueue().take();
    if (!text) return;
    try {
      long n = view->textLength();
      if (n + 1000 > 32767) {
        view->setSelection(0, n / 32);
        view->replaceSelection(u"");
      }
      view->setSelection(-1, -1);
      view->replaceSelection(*text);
      view->setSelection(-1, -1);
      view->scrollToBottom();
    } catch (...) {
      // A failing view must not stop the drain; the next text goes on.
    }
  }
}

std::size_t discardLogQueue() {
  std::size_t n = 0;
  while (strSeqQueue().take()) ++n;
  return n;
}

struct LogQueueDiscarder::State {
  std::mutex m;
  std::condition_variable cv;
  bool stop = false;
  std::thread thread;
};

LogQueueDiscarder::LogQueueDiscarder() : state_(std::make_unique<State>()) {
  State* st = state_.get();
  try {
    st->thread = std::thread([st] {
      std::unique_lock<std::mutex> l(st->m);
      while (!st->stop) {
        l.unlock();
        discardLogQueue();
        l.lock();
        st->cv.wait_for(l, std::chrono::milliseconds(100), [st] { return st->stop; });
      }
    });
  } catch (const std::system_error&) {
    // No thread to spare: the texts wait in the queue until the destructor.
  }
}

LogQueueDiscarder::~LogQueueDiscarder() {
  {
    std::lock_guard<std::mutex> g(state_->m);
    state_->stop = true;
  }
  state_->cv.notify_all();
  if (state_->thread.joinable()) state_->thread.join();
  discardLogQueue();
}

}  // namespace zelk
