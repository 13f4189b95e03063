// The answers keep the input order whatever the speed of each endgame: a
// finished answer waits until every earlier line has been written. The
// reader stays at most a window of lines ahead of the writer, so neither the
// queue of work nor the waiting answers grow with the input, and a long
// input is solved while it streams in.
//
// Every endgame starts on an emptied table, with the rules of its own line
// handed to the engine rather than set process-wide (the workers run under
// different rules at once). An answer is then the one `zelk --json --engine
// fast` prints, whichever worker took the line and however many there are,
// as long as each worker's table has the size of the single run's (the
// positions counts change once a table is full).
#include "cli/batch.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/output.h"
#include "cli/report.h"
#include "cli/session.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "rules/switches.h"
#include "rules/types.h"
#include "run/handinput.h"
#include "run/solverun.h"
#include "solver/analysis.h"
#include "solver/engine.h"
#include "solver/fastengine.h"
#include "solver/position.h"

namespace zelk::cli {

namespace {

// Longer lines are answered with an error; no hand needs a fraction of it.
constexpr std::size_t MAX_LINE = 4096;
// All the workers' tables together, unless --table-mib sets each one. The
// tables grow by doubling, so a growing one briefly holds one and a half
// times its size: the total stays well under 2 GiB.
constexpr std::size_t BATCH_TABLE_BYTES = std::size_t(1) << 30;

const char* const SOLVE_FAILED = "the solve failed (see the log with --log)";

struct Job {
  uint64_t seq = 0;  // place among the answers
  long line = 0;     // 1-based line number in the input
  std::u16string player1, player2;
  Position position;  // the whole position, the hands as cards
  StartFields start;  // what the answer echoes of it
  fast::Rules rules = 0;
  std::string error;  // a bad line: the answer's message
};

// The work queue, the answers waiting for their turn, and the stop.
class Pipeline {
 public:
  Pipeline(std::size_t window, int wakeFd) : window_(window), wakeFd_(wakeFd) {}

  // Reader: blocks while the window is full; false once halted.
  bool waitForRoom() {
    std::unique_lock<std::mutex> l(m_);
    room_.wait(l, [&] { return halted_ || read_ - written_ < window_; });
    return !halted_;
  }
  void push(Job job) {
    std::lock_guard<std::mutex> g(m_);
    job.seq = read_++;
    jobs_.push_back(std::move(job));
    work_.notify_one();
  }
  void endInput() {
    std::lock_guard<std::mutex> g(m_);
    inputEnded_ = true;
    work_.notify_all();
  }

  // Worker: the next line; false when there is none left or all stop.
  bool take(Job& job) {
    std::unique_lock<std::mutex> l(m_);
    work_.wait(l, [&] { return halted_ || inputEnded_ || !jobs_.empty(); });
    if (halted_ || jobs_.empty()) return false;
    job = std::move(jobs_.front());
    jobs_.pop_front();
    return true;
  }

  // Worker: the answer to job seq; writes every answer whose turn has come.
  // One writer at a time, and never under m_, so a slow reader of our
  // output holds up the answers but not a stop.
  void deliver(uint64_t seq, std::string text) {
    {
      std::lock_guard<std::mutex> g(m_);
      finished_.emplace(seq, std::move(text));
    }
    std::lock_guard<std::mutex> w(writeMutex_);
    for (;;) {
      std::string next;
      {
        std::lock_guard<std::mutex> g(m_);
        auto it = finished_.find(written_);
        if (halted_ || it == finished_.end()) return;
        next = std::move(it->second);
        finished_.erase(it);
      }
      const int error = writeOut(next);
      {
        std::lock_guard<std::mutex> g(m_);
        ++written_;
        room_.notify_all();
      }
      if (error) {
        outputError_.store(error);
        halt();
        return;
      }
    }
  }

  // Any thread, the signal watcher too: every worker's search and the reader stop.
  void halt() {
    setStop(1);
    {
      std::lock_guard<std::mutex> g(m_);
      halted_ = true;
    }
    room_.notify_all();
    work_.notify_all();
    const char byte = 0;
    while (::write(wakeFd_, &byte, 1) < 0 && errno == EINTR) {
    }
  }
  void interrupt() {
    interrupted_.store(true);
    halt();
  }

  bool interrupted() const { return interrupted_.load(); }
  int outputError() const { return outputError_.load(); }  // 0 while every answer was written
  std::atomic<bool> anyBad{false};
  std::atomic<bool> anyFailed{false};

 private:
  const std::size_t window_;
  const int wakeFd_;
  std::mutex m_;
  std::condition_variable room_;  // the reader waits here
  std::condition_variable work_;  // the workers wait here
  std::deque<Job> jobs_;
  std::map<uint64_t, std::string> finished_;
  uint64_t read_ = 0;     // jobs handed out
  uint64_t written_ = 0;  // answers written
  bool inputEnded_ = false;
  bool halted_ = false;
  std::mutex writeMutex_;
  std::atomic<bool> interrupted_{false};
  std::atomic<int> outputError_{0};
};

// Lines of a file descriptor, read as they come; a byte on wakeFd ends the
// wait for more.
class LineReader {
 public:
  LineReader(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}

  enum class Got { Line, TooLong, End };
  // Why the input ended early (an errno value); 0 at its true end.
  int error() const { return error_; }

  // The next line without its line end. TooLong: a line past MAX_LINE bytes,
  // skipped up to its end. End: the end of input, a read error or a wake.
  Got next(std::string& line) {
    bool tooLong = false;
    for (;;) {
      std::size_t newline = buffer_.find('\n', start_);
      if (newline != std::string::npos) {
        line.assign(buffer_, start_, newline - start_);
        start_ = newline + 1;
        return tooLong || line.size() > MAX_LINE ? Got::TooLong : Got::Line;
      }
      if (buffer_.size() - start_ > MAX_LINE) {
        tooLong = true;
        start_ = buffer_.size();
      }
      if (ended_) {
        if (start_ == buffer_.size()) return tooLong ? Got::TooLong : Got::End;
        line.assign(buffer_, start_);
        start_ = buffer_.size();
        return tooLong ? Got::TooLong : Got::Line;
      }
      if (!fill()) return Got::End;
    }
  }

 private:
  // Appends what the descriptor has; false when woken.
  bool fill() {
    buffer_.erase(0, start_);
    start_ = 0;
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        ended_ = true;
        return true;
      }
      if (fds[1].revents) return false;
      if (!fds[0].revents) continue;
      char chunk[65536];
      ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n < 0) error_ = errno;  // a read error is no end of input: it is reported
      if (n <= 0) {
        ended_ = true;
      } else {
        buffer_.append(chunk, static_cast<std::size_t>(n));
      }
      return true;
    }
  }

  const int fd_, wakeFd_;
  int error_ = 0;
  std::string buffer_;
  std::size_t start_ = 0;
  bool ended_ = false;
};

// What the lines may say about the rules.
struct LineRules {
  fast::Rules fallback = fast::R_ALL;                 // the command line's --off
  std::array<fast::Rules, RULE_SWITCH_COUNT> bits{};  // each switch's bit, in RULE_SWITCHES order
};

// Each switch's bit is found the way the engine reads the switches: turned
// off alone. Runs before any worker, then restores the switches.
LineRules lineRules() {
  LineRules rules;
  rules.fallback = fast::currentRules();
  for (int i = 0; i < RULE_SWITCH_COUNT; ++i) {
    fast::applyRules(fast::R_ALL);
    setFlag(*RULE_SWITCHES[i].flag, 0);
    rules.bits[static_cast<std::size_t>(i)] = fast::R_ALL & ~fast::currentRules();
  }
  fast::applyRules(rules.fallback);
  return rules;
}

std::vector<std::string> blankSeparated(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) fields.push_back(text.substr(start, i - start));
  }
  return fields;
}

// The position fields of a line (mover=1|2 beat=CARDS type=NAME), which
// follow the others: into mover, beat and type. False with a message.
bool positionFields(std::vector<std::string>& fields, std::string& mover, std::string& beat,
                    std::string& type, std::string& error) {
  std::size_t first = 0;
  while (first < fields.size() && fields[first].find('=') == std::string::npos) ++first;
  for (std::size_t i = first; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    const std::size_t eq = f.find('=');
    const std::string key = eq == std::string::npos ? f : f.substr(0, eq);
    std::string* value = key == "mover"  ? &mover
                         : key == "beat" ? &beat
                         : key == "type" ? &type
                                         : nullptr;
    if (eq == std::string::npos) {
      error =
          std::string("'") + f + "' after a key=value field: PLAYER1 PLAYER2 [OFFLIST] come first";
    } else if (!value) {
      error = std::string("unknown field '") + key + "' (known: mover, beat, type)";
    } else if (!value->empty()) {
      error = std::string("field '") + key + "' given twice";
    } else if (eq + 1 == f.size()) {
      error = std::string("field '") + key + "' needs a value";
    } else {
      *value = f.substr(eq + 1);
    }
    if (!error.empty()) return false;
  }
  fields.resize(first);
  if (!mover.empty() && mover != "1" && mover != "2") {
    error = "mover is 1 (player1) or 2 (player2)";
    return false;
  }
  return true;
}

// The job of one input line; false for a line without an endgame (blank or
// a comment). A bad line gets its message in job.error, checked in the
// order of the single run: the switches, then the hands, then the position.
bool jobFromLine(std::string text, bool tooLong, const LineRules& rules, Job& job) {
  if (tooLong) {
    job.error = "line longer than " + std::to_string(MAX_LINE) + " bytes";
    return true;
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
  std::vector<std::string> fields = blankSeparated(text);
  if (fields.empty() || fields[0][0] == '#') return false;
  std::string mover, beat, type;
  if (!positionFields(fields, mover, beat, type, job.error)) return true;
  if (fields.size() > 3 || fields.size() < 2) {
    job.error = "a line holds PLAYER1 PLAYER2 [OFFLIST], found " + std::to_string(fields.size()) +
                (fields.size() == 1 ? " field" : " fields");
    return true;
  }
  job.rules = rules.fallback;
  if (fields.size() == 3) {
    std::vector<std::string> off;
    if (!parseOffList(fields[2], off, job.error)) return true;
    job.rules = fast::R_ALL;
    for (const std::string& name : off)
      for (int i = 0; i < RULE_SWITCH_COUNT; ++i)
        if (name == RULE_SWITCHES[i].suffix) job.rules &= ~rules.bits[static_cast<std::size_t>(i)];
  }
  std::u16string a = utf8ToUtf16(fields[0]), b = utf8ToUtf16(fields[1]), box;
  if (!acceptHands(a, b, box)) {
    job.error = utf16ToUtf8(box);
    return true;
  }
  if (!makePosition(narrow(a), narrow(b), mover.empty() ? RESULT_U2 : mover[0], beat, type,
                    job.rules, job.position, job.error))
    return true;
  job.start = StartFields{job.position.turn, job.position.lastPlay, job.position.playType};
  job.player1 = std::move(a);
  job.player2 = std::move(b);
  return true;
}

enum class Outcome { Solved, Failed, Stopped };

// Every play of the position judged, as `zelk --analyse --json` answers.
Outcome analyseEndgame(Engine& engine, const Job& job, std::string& answer) {
  Analysis* analysis = engine.analysis();
  std::vector<Analysis::JudgedPlay> plays;
  const uint32_t t0 = tickCount();
  const Analysis::Outcome o = analysis->analyse(job.position, plays);
  const uint32_t t1 = tickCount();
  if (o.winner == RESULT_STOPPED) return Outcome::Stopped;
  if (o.winner != RESULT_U1 && o.winner != RESULT_U2) {
    answer = errorJson(job.line, SOLVE_FAILED);
    return Outcome::Failed;
  }
  RunReport r;
  r.winner = o.winner;
  r.movesToWin = o.movesToWin;
  for (const Analysis::JudgedPlay& p : plays)
    r.plays.push_back(AnalysedPlay{p.cards, p.type, p.after.winner, p.after.movesToWin});
  r.positions = std::max<int64_t>(analysis->positionsSearched(), 1);
  r.elapsedMs = std::max<uint32_t>(t1 - t0, 1);
  r.engine = engine.name();
  answer = analysisJson(r, job.player1, job.player2, job.start, job.line);
  return Outcome::Solved;
}

// Decides one endgame as the solving run does with the fast engine: the
// verdict and the mover's first winning play, whose search the counts and
// the time include.
Outcome solveEndgame(Engine& engine, const Job& job, bool analyse, std::string& answer) {
  const Position& position = job.position;
  try {
    engine.reset(job.rules);
    if (analyse) return analyseEndgame(engine, job, answer);
    const uint32_t t0 = tickCount();
    const Verdict verdict = engine.decide(position);
    const uint32_t t1 = tickCount();
    if (verdict.result == RESULT_STOPPED) return Outcome::Stopped;
    if (verdict.result != RESULT_U1 && verdict.result != RESULT_U2) {
      answer = errorJson(job.line, SOLVE_FAILED);
      return Outcome::Failed;
    }
    const bool opening = position.turn == RESULT_U2 && position.lastPlay.empty();
    const int64_t openingPlays = opening ? openingPlayCount(position.u2Cards.c_str(), job.rules)
                                         : moverPlayCount(position, job.rules);
    answer = reportJson(reportOf(engine, verdict, openingPlays, t1 - t0), job.player1, job.player2,
                        job.line, job.start);
    return Outcome::Solved;
  } catch (const CMemoryException& e) {
    answer = errorJson(job.line, std::string("the solve failed: ") + e.what());
  } catch (const std::bad_alloc& e) {
    answer = errorJson(job.line, std::string("the solve failed: ") + e.what());
  }
  return Outcome::Failed;
}

void work(Pipeline& pipeline, Engine& engine, bool analyse) {
  Job job;
  while (pipeline.take(job)) {
    std::string answer;
    if (!job.error.empty()) {
      answer = errorJson(job.line, job.error);
      pipeline.anyBad.store(true);
    } else {
      Outcome outcome = solveEndgame(engine, job, analyse, answer);
      if (outcome == Outcome::Stopped) return;
      if (outcome == Outcome::Failed) pipeline.anyFailed.store(true);
    }
    pipeline.deliver(job.seq, std::move(answer));
  }
}

}  // namespace

int runBatch(const Options& options) {
  // The engines log only anomalies; nobody shows the queued texts.
  LogQueueDiscarder discarder;
  const LineRules rules = lineRules();

  unsigned jobs = options.jobs > 0 ? static_cast<unsigned>(options.jobs)
                                   : std::max(1u, std::thread::hardware_concurrency());
  const std::size_t tableBytes =
      options.tableMib > 0 ? options.tableMib << 20
                           : std::min(FastEngine::DEFAULT_TABLE_BYTES, BATCH_TABLE_BYTES / jobs);
  EngineSettings settings;
  settings.kind = EngineKind::Fast;
  settings.rules = rules.fallback;
  settings.tableBytes = tableBytes;
  settings.progress = false;
  std::vector<std::unique_ptr<Engine>> engines;
  try {
    for (unsigned i = 0; i < jobs; ++i) engines.push_back(makeEngine(settings));
  } catch (const CMemoryException& e) {
    std::fprintf(stderr, "zelk: %s\n", e.what());
    return 1;
  } catch (const std::bad_alloc& e) {
    std::fprintf(stderr, "zelk: %s\n", e.what());
    return 1;
  }

  int wake[2];
  if (::pipe(wake) != 0) {
    std::perror("zelk: pipe");
    return 1;
  }
  // The signal watcher lives until the process ends and may call in at any
  // time, so the pipeline is never destroyed.
  static Pipeline* const pipeline = new Pipeline(std::max<std::size_t>(16, 4 * jobs), wake[1]);
  watchStopSignals([] { pipeline->interrupt(); });

  std::vector<std::thread> workers;
  int refused = 0;  // a worker the system would not start
  for (unsigned i = 0; i < jobs && !refused; ++i) {
    try {
      workers.emplace_back(work, std::ref(*pipeline), std::ref(*engines[i]), options.analyse);
    } catch (const std::system_error& e) {
      refused = e.code().value();
    }
  }
  // Fewer workers only take longer; none would leave every line unanswered.
  if (workers.empty()) return failWith("cannot start a worker thread", refused);

  LineReader reader(STDIN_FILENO, wake[0]);
  long lineNumber = 0;
  while (pipeline->waitForRoom()) {
    std::string text;
    LineReader::Got got = reader.next(text);
    if (got == LineReader::Got::End) break;
    ++lineNumber;
    Job job;
    if (!jobFromLine(std::move(text), got == LineReader::Got::TooLong, rules, job)) continue;
    job.line = lineNumber;
    pipeline->push(std::move(job));
  }
  pipeline->endInput();
  for (std::thread& t : workers) t.join();

  if (pipeline->interrupted()) {
    std::fputs("zelk: stopped\n", stderr);
    return 130;
  }
  warnIfTheLogFails(options);
  if (pipeline->outputError()) return failWith("cannot write the answers", pipeline->outputError());
  if (reader.error()) return failWith("cannot read standard input", reader.error());
  if (pipeline->anyFailed.load()) return 1;
  return pipeline->anyBad.load() ? 2 : 0;
}

}  // namespace zelk::cli
