// The `zelk` command end to end: the real binary with piped input, and a
// pseudo-terminal for Ctrl-C.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs zelk with the arguments, feeding `input` on standard input.
Result runZelk(const std::vector<std::string>& args, const std::string& input) {
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

std::string maskTiming(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(speed \d+/s sec \d+\.\d{3}s)"),
                            "speed S/s sec T.TTTs");
}

TEST(Zelk, JsonOnTheDefaultEndgame) {
  Result r = runZelk({"--json"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  std::regex expected(
      R"(^\{"player1":"AA9","player2":"2QQJJ77553","winner":1,"first_play":null,)"
      R"("first_play_type":null,"positions":3823,"tree_positions":3083,"opening_plays":10,)"
      R"("elapsed_ms":\d+,"engine":"exhaustive"\}\n$)");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
}

TEST(Zelk, JsonNamesTheFirstPlayWhenPlayer2Wins) {
  // KK loses (the ace takes the last single), KKK wins: the first win in
  // canonical order is the three.
  Result r = runZelk({"--json", "--player1", "a", "--player2", "k k k 5"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("player1":"A","player2":"KKK5","winner":2,"first_play":"KKK",)"
                       R"("first_play_type":"三个")"),
            std::string::npos)
      << r.out;
}

TEST(Zelk, BadHandsAndOptionsExitWithStatus2) {
  struct Row {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"--player1", "10JQKA"}, "玩家1的牌不合法!\r\n因为[输入范围之外的字符(1)]!请重新输入!!!\r\n"},
      {{"--player1", "33333", "--player2", "XX"},
       "玩家1的牌不合法!\r\n因为[3超过了4张]!请重新输入!!!\r\n"},
      {{"--player2", "XX"},
       "玩家2的牌不合法!\r\n因为[输入了2张小王，最多只能1张小王]!请重新输入!!!\r\n"},
      {{"--player1", ""}, "每个玩家的牌太少!!!\r\n请重新输入!!![0][10]\r\n"},
      {{"--player2", "33334444555566667777AAA"},
       "每个玩家的牌不能超过22张!!!\r\n请重新输入!!![3][23]\r\n"},
  };
  for (const Row& row : rows) {
    Result r = runZelk(row.args, "");
    EXPECT_EQ(r.status, 2) << row.err;
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.out, "");
  }
  Result unknown = runZelk({"--frobnicate"}, "");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown option --frobnicate"), std::string::npos);
  Result badSwitch = runZelk({"--off", "ZD,QQ"}, "");
  EXPECT_EQ(badSwitch.status, 2);
  EXPECT_NE(badSwitch.err.find("unknown rule switch 'QQ'"), std::string::npos);
  Result help = runZelk({"--help"}, "");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--player1 HAND"), std::string::npos);
}

TEST(Zelk, AFullGameFromPipedInputEndsAtTheEndOfInput) {
  Result r = runZelk({"--player1", "2", "--player2", "34"}, "5\n\n4\n\n3\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(maskTiming(r.out),
            "player1牌:2\r\n"
            "player2牌:43  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player1 \r\n"
            "推演牌局总数 5 牌局树牌局数 5(100.00%) N1=2 speed S/s sec T.TTTs \r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:5\n"
            "player2出牌不合法\n"
            "player2:player2过牌\n"
            "player2出牌不合法\n"
            "player2:player2出牌:4\n"
            "player1出牌:2\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:3\n"
            "player1出牌:2\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n");
}

TEST(Zelk, MachineAsPlayer2) {
  Result r = runZelk({"--player1", "3", "--player2", "45"}, "\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(maskTiming(r.out).find(
                "\r\n现在开始游戏...机器扮演player2...玩家扮演player1...\r\n"
                "牌局【player1 3 player2 45】轮到player2出牌(回车表示过牌)..\n"
                "player2出牌:4\n"
                "牌局【player1 3 player2 5】轮到player1出牌(回车表示过牌)..\n"
                "player1:player1过牌\n"
                "player2出牌:5\n"
                "player2赢\r\n"
                "按回车键重玩此局...\r\n"),
            std::string::npos)
      << r.out;
}

TEST(Zelk, SwitchesAndNoReplay) {
  // With every kind but singles off, player2 has one opening play per rank.
  Result r = runZelk({"--no-replay", "--off", "D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("N1=6 "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("现在开始游戏"), std::string::npos);
}

TEST(Zelk, ListingMode) {
  Result r = runZelk({"--u1f", "--player1", "3", "--player2", "45"}, "hi\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("C:[45][][3]--while--个子\r\nfindcU1C:List of U1\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("input:e-cho:hi\r\ninput:"), std::string::npos) << r.out;
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

// Ctrl-C on a terminal stops a long search (the full solve would take minutes;
// the bound is loose because sanitizer builds run several times slower).
TEST(Zelk, CtrlCStopsALongSearch) {
  Terminal t({"--player1", "2AKQJ09876543", "--player2", "2AKQJ09876543"});
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("开始暴力求解", std::chrono::seconds(10))) << t.seen;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(t.seen.find("最终获胜方") == std::string::npos) << "the search ended too soon";
  t.type(3);
  EXPECT_EQ(t.exitWithin(std::chrono::seconds(10)), 130);
}

// Ctrl-C while the replay waits for the user's line.
TEST(Zelk, CtrlCStopsAWaitingReplay) {
  Terminal t({});
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("player2:", std::chrono::seconds(10))) << t.seen;
  t.type(3);
  EXPECT_EQ(t.exitWithin(std::chrono::seconds(5)), 130);
}

}  // namespace
