// zelk: the Zelk endgame solver on the command line.
#include <cstdio>
#include <string>

#include "base/output.h"
#include "buildconfig.h"
#include "cli/batch.h"
#include "cli/options.h"
#include "cli/session.h"
#include "platform/text.h"
#include "run/handinput.h"
#include "run/solverun.h"

int main(int argc, char** argv) {
  using namespace zelk;
  cli::reserveStandardDescriptors();
  cli::blockStopSignals();
  cli::Options options;
  std::string error;
  if (!cli::parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "zelk: %s\nTry 'zelk --help'.\n", error.c_str());
    return 2;
  }
  if (options.help || options.version) {
    const std::string text =
        options.help ? cli::USAGE : "zelk " + utf16ToUtf8(ZELK_VERSION_TEXT) + "\n";
    const int failed = cli::writeOut(text);
    return failed ? cli::failWith("cannot write to standard output", failed) : 0;
  }
  cli::applySwitches(options);
  if (options.batch) return cli::runBatch(options);
  std::u16string a = options.player1, b = options.player2, box;
  if (!acceptHands(a, b, box)) {
    std::string text = utf16ToUtf8(box);
    std::fwrite(text.data(), 1, text.size(), stderr);
    return 2;
  }
  LogPrint(u"玩家1:%s[%d]\r\n", a, static_cast<int>(a.size()));
  LogPrint(u"玩家2:%s[%d]\r\n", b, static_cast<int>(b.size()));
  cli::warnIfTheLogFails(options);  // before the run, which may take long
  SolveRequest request = cli::requestOf(options);
  request.player1 = std::move(a);
  request.player2 = std::move(b);
  if (!cli::positionOf(options, request, error)) {
    std::fprintf(stderr, "zelk: %s\n", error.c_str());
    return 2;
  }
  return cli::runSession(options, std::move(request));
}
