// Solving from the dialog: start, a game typed into the console window, the
// busy test, and stops during the search and while the replay waits.
#include <QAbstractButton>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <memory>
#include <thread>

#include "app/consolewindow.h"
#include "app/controlids.h"
#include "app/myrichedit.h"
#include "app/zelksdlg.h"
#include "apptest.h"
#include "rules/switches.h"
#include "run/solverun.h"
#include "run/threadctl.h"

namespace {

constexpr int SOLVE_TIMEOUT_MS = 60000;

QLineEdit* edit(CZelkSDlg& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.control(id)); }

// The log view's text, with every queued text moved in.
QString logOf(CZelkSDlg& dlg) {
  apptest::drainLog();
  return dlg.logViewControl()->toPlainText();
}

void type(ConsoleWindow* w, const QString& line) {
  QTest::keyClicks(w->input(), line);
  QTest::keyClick(w->input(), Qt::Key_Return);
}

// The start button, both hands, the rule switches and the engine box.
bool inputsEnabled(CZelkSDlg& dlg, bool enabled) {
  for (int id : ids::INPUTS) {
    if (dlg.control(id)->isEnabled() != enabled) return false;
  }
  return dlg.control(ids::FAST_ENGINE)->isEnabled() == enabled &&
         dlg.control(ids::PRACTICE)->isEnabled() == enabled;
}

const QRegularExpression DESTROY_OK(
    QString::fromUtf16(u"DestroyOk:成功停止\\(\\d+\\.\\d+\\)\\(\\d+\\)\\n"));

}  // namespace

class TestSolve : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void validStartOpensTheConsoleAndDisablesTheInputs();
  void twentyTwoCardsAreAccepted();
  void aFullGameTypedIntoTheConsole();
  void startWhileASolveRunsIsRefused();
  void stopDuringTheSearch();
  void closingTheDialogEndsTheRun();
  void theFastEngineDecidesAndReplays();
  void theFastEngineUsesASecondCore();
  void practiceInTheConsoleWindow();

 private:
  // Starts a solve of the two typed hands; the console window must open.
  ConsoleWindow* start(CZelkSDlg& dlg, const QString& a, const QString& b);
  // Presses stop and waits for the dialog to come back to rest.
  void stopAndWaitForIdle(CZelkSDlg& dlg);

  std::unique_ptr<apptest::TempSettings> settings_;
  std::unique_ptr<apptest::BoxRecorder> boxes_;
};

void TestSolve::initTestCase() {
  QCursor::setPos(5, 590);
  // A busy lock of this process alone: another test program that made its
  // lock in the same second must not see these solves.
  zelk::createSolveMutex(false);
}

void TestSolve::init() {
  settings_ = std::make_unique<apptest::TempSettings>();
  boxes_ = std::make_unique<apptest::BoxRecorder>();
  zelk::resetRuleSwitches();
  apptest::takeQueued();
}

void TestSolve::cleanup() {
  boxes_.reset();
  settings_.reset();
}

ConsoleWindow* TestSolve::start(CZelkSDlg& dlg, const QString& a, const QString& b) {
  edit(dlg, 1001)->setText(a);
  edit(dlg, 1002)->setText(b);
  QTest::mouseClick(dlg.control(1000), Qt::LeftButton);
  return dlg.consoleWindow();
}

void TestSolve::stopAndWaitForIdle(CZelkSDlg& dlg) {
  auto completions = [&] {
    int n = 0;
    for (auto it = DESTROY_OK.globalMatch(logOf(dlg)); it.hasNext(); it.next()) ++n;
    return n;
  };
  const int before = completions();
  QTest::mouseClick(dlg.control(1035), Qt::LeftButton);
  QVERIFY(!dlg.control(1035)->isEnabled());  // at once: the stop is under way
  QTRY_COMPARE_WITH_TIMEOUT(completions(), before + 1, SOLVE_TIMEOUT_MS);
  QVERIFY(inputsEnabled(dlg, true));
  QVERIFY(!dlg.control(1035)->isEnabled());
  QTRY_VERIFY(dlg.consoleWindow() == nullptr);
}

void TestSolve::validStartOpensTheConsoleAndDisablesTheInputs() {
  CZelkSDlg dlg;
  dlg.show();
  ConsoleWindow* console = start(dlg, QStringLiteral("9 a a"), QStringLiteral("3 4"));
  QVERIFY(console != nullptr);
  QVERIFY(boxes_->texts().isEmpty());
  QVERIFY(console->isVisible());
  QCOMPARE(console->windowTitle(), QString::fromUtf16(u"ZelkSolver-机器与玩家对局互动窗口:"));
  QVERIFY(dlg.hasConsoleWindow());
  QVERIFY(inputsEnabled(dlg, false));
  QVERIFY(dlg.control(1035)->isEnabled());
  // Upper case, without blanks, from the highest card down: shown, logged, stored.
  QCOMPARE(edit(dlg, 1001)->text(), QStringLiteral("AA9"));
  QCOMPARE(edit(dlg, 1002)->text(), QStringLiteral("43"));
  QVERIFY(logOf(dlg).contains(QString::fromUtf16(u"玩家1:AA9[3]\n玩家2:43[2]\n")));
  QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ZelkSolver"),
              QStringLiteral("ZelkSolver"));
  QCOMPARE(s.value(QStringLiteral("section/testinputA")).toString(), QStringLiteral("AA9"));
  QCOMPARE(s.value(QStringLiteral("section/testinputB")).toString(), QStringLiteral("43"));
  // Against the right edge, its bottom 80 pixels above the panel.
  const QRect avail = console->screen()->availableGeometry();
  QCOMPARE(console->frameGeometry().right(), avail.right());
  QCOMPARE(console->frameGeometry().bottom(), avail.bottom() - 80);
  QTRY_VERIFY_WITH_TIMEOUT(console->outputText().contains(QStringLiteral("player1:")) ||
                               console->outputText().contains(QStringLiteral("player2:")),
                           SOLVE_TIMEOUT_MS);
  stopAndWaitForIdle(dlg);
}

void TestSolve::twentyTwoCardsAreAccepted() {
  CZelkSDlg dlg;
  // The most one side may hold: every rank from 3 to 2, then 3 to J again.
  ConsoleWindow* console = start(dlg, QStringLiteral("3 4 5 6 7 8 9 0 J Q K A 2 3 4 5 6 7 8 9 0 J"),
                                 QStringLiteral("22"));
  QVERIFY(console != nullptr);
  QVERIFY(console->isVisible());
  QVERIFY(boxes_->texts().isEmpty());
  QVERIFY(inputsEnabled(dlg, false));
  const QString sorted = QStringLiteral("2AKQJJ0099887766554433");
  QCOMPARE(edit(dlg, 1001)->text(), sorted);
  QVERIFY(logOf(dlg).contains(QString::fromUtf16(u"玩家1:%1[22]\n").arg(sorted)));
  // The solver got the whole hand.
  QTRY_VERIFY_WITH_TIMEOUT(
      console->outputText().startsWith(QString::fromUtf16(u"player1牌:%1\n").arg(sorted)),
      SOLVE_TIMEOUT_MS);
  stopAndWaitForIdle(dlg);
}

void TestSolve::aFullGameTypedIntoTheConsole() {
  CZelkSDlg dlg;
  dlg.show();
  // player2 leads 3 or 4; player1 beats it with a 2 and wins with the other.
  QPointer<ConsoleWindow> console = start(dlg, QStringLiteral("22"), QStringLiteral("43"));
  QVERIFY(console);
  auto shown = [&](const QString& text) {
    return console ? console->outputText().count(text) : -1;
  };
  const QString prompt = QStringLiteral("player2:");
  QTRY_COMPARE_WITH_TIMEOUT(shown(prompt), 1, SOLVE_TIMEOUT_MS);
  QString out = console->outputText();
  QVERIFY(
      out.startsWith(QString::fromUtf16(u"player1牌:22\nplayer2牌:43  ---先出牌者\n哪方赢?\n")));
  QVERIFY(out.contains(QString::fromUtf16(u"最终获胜方是 player1 \n")));
  QVERIFY(out.contains(QString::fromUtf16(u"现在开始游戏...机器扮演player1...玩家扮演player2...")));

  type(console, QStringLiteral("5"));  // not in the hand
  QTRY_COMPARE(shown(QString::fromUtf16(u"player2出牌不合法\n")), 1);
  type(console, QString());  // player2 leads: no pass
  QTRY_COMPARE(shown(QString::fromUtf16(u"player2出牌不合法\n")), 2);
  type(console, QStringLiteral("3"));
  QTRY_COMPARE(shown(QString::fromUtf16(u"player1出牌:2\n")), 1);
  QVERIFY(console->outputText().contains(QString::fromUtf16(u"player2:3\nplayer2出牌:3\n")));
  QTRY_COMPARE(shown(prompt), 4);
  type(console, QString());  // nothing beats a 2: pass
  QTRY_COMPARE(shown(QString::fromUtf16(u"player1赢\n")), 1);
  QTRY_COMPARE(shown(QString::fromUtf16(u"按回车键重玩此局...\n")), 1);
  QVERIFY(console->outputText().contains(QString::fromUtf16(u"player2过牌\n")));

  // Enter replays the same game from its first position.
  type(console, QString());
  QTRY_COMPARE(shown(QString::fromUtf16(u"现在开始游戏...机器扮演player1...")), 2);
  QTRY_COMPARE(shown(prompt), 5);
  // The replay is the log's record too.
  QVERIFY(logOf(dlg).contains(QString::fromUtf16(u"player1赢\n")));

  // Stop while the replay waits for the user's line.
  stopAndWaitForIdle(dlg);
  const QString log = logOf(dlg);
  const qsizetype destroy = log.indexOf(QStringLiteral("Destroy:\n"));
  const qsizetype over = log.indexOf(QStringLiteral("p_thread:over\n"));
  QVERIFY(destroy >= 0);
  QVERIFY(log.indexOf(QStringLiteral("ERRORBREAK!\n"), destroy) > destroy);
  QVERIFY(over > destroy);
  QVERIFY(DESTROY_OK.match(log, over).hasMatch());
  QVERIFY(console.isNull());
  QVERIFY(!dlg.hasConsoleWindow());
}

void TestSolve::startWhileASolveRunsIsRefused() {
  CZelkSDlg dlg;
  ConsoleWindow* console = start(dlg, QStringLiteral("22"), QStringLiteral("43"));
  QVERIFY(console);
  QTRY_VERIFY_WITH_TIMEOUT(console->outputText().contains(QStringLiteral("player2:")),
                           SOLVE_TIMEOUT_MS);
  dlg.OnBnClickedButtonDo();  // the button is disabled; the handler still tests
  QCOMPARE(
      boxes_->texts(),
      QStringList{QString::fromUtf16(u"runingTest:[OnBnClickedButtonDo]:\r\n无法完成操作\r\n")});
  QVERIFY(logOf(dlg).contains(QString::fromUtf16(u"OnBnClickedButtonDo:启动求解线程失败\n")));
  QCOMPARE(dlg.consoleWindow(), console);  // the running solve keeps its console
  stopAndWaitForIdle(dlg);
}

void TestSolve::stopDuringTheSearch() {
  CZelkSDlg dlg;
  // Minutes of search (a thirteen-card straight each): the stop ends it.
  ConsoleWindow* console =
      start(dlg, QStringLiteral("2AKQJ09876543"), QStringLiteral("2AKQJ09876543"));
  QVERIFY(console);
  QTRY_VERIFY_WITH_TIMEOUT(console->outputText().contains(QString::fromUtf16(u"开始暴力求解...")),
                           SOLVE_TIMEOUT_MS);
  QTest::qWait(300);
  stopAndWaitForIdle(dlg);
  const QString log = logOf(dlg);
  const qsizetype reted = log.indexOf(QStringLiteral("zelkmain:ZelkSolver reted!\n"));
  QVERIFY(reted >= 0);
  QVERIFY(log.indexOf(QStringLiteral("ERRORBREAK!\n"), reted) > reted);
  QVERIFY(log.indexOf(QStringLiteral("p_thread:over\n"), reted) > reted);
  QVERIFY(!log.contains(QString::fromUtf16(u"最终获胜方是")));

  // And the next solve starts as usual.
  console = start(dlg, QStringLiteral("22"), QStringLiteral("43"));
  QVERIFY(console);
  QTRY_VERIFY_WITH_TIMEOUT(console->outputText().contains(QStringLiteral("player2:")),
                           SOLVE_TIMEOUT_MS);
  stopAndWaitForIdle(dlg);
}

void TestSolve::closingTheDialogEndsTheRun() {
  auto dlg = std::make_unique<CZelkSDlg>();
  QPointer<ConsoleWindow> console = start(*dlg, QStringLiteral("22"), QStringLiteral("43"));
  QVERIFY(console);
  QTRY_VERIFY_WITH_TIMEOUT(console->outputText().contains(QStringLiteral("player2:")),
                           SOLVE_TIMEOUT_MS);
  apptest::drainLog();
  dlg.reset();  // the replay waits for a line; the console goes with the dialog
  QTRY_VERIFY(console.isNull());
  QString after;
  QTRY_VERIFY_WITH_TIMEOUT(
      (after += apptest::takeQueued()).contains(QStringLiteral("p_thread:over")), SOLVE_TIMEOUT_MS);
  QVERIFY(after.contains(QStringLiteral("ReadConsoleLine:eno ")));

  // A new dialog solves as usual.
  CZelkSDlg again;
  QVERIFY(start(again, QStringLiteral("22"), QStringLiteral("43")));
  stopAndWaitForIdle(again);
}

void TestSolve::theFastEngineDecidesAndReplays() {
  CZelkSDlg dlg;
  qobject_cast<QAbstractButton*>(dlg.control(ids::FAST_ENGINE))->click();
  ConsoleWindow* console = start(dlg, QStringLiteral("22"), QStringLiteral("43"));
  QVERIFY(console);
  QTRY_VERIFY_WITH_TIMEOUT(console->outputText().contains(QStringLiteral("player2:")),
                           SOLVE_TIMEOUT_MS);
  QVERIFY(console->outputText().contains(QString::fromUtf16(u"置换表局面数")));
  QVERIFY(console->outputText().contains(QString::fromUtf16(u"最终获胜方是 player1 \n")));
  type(console, QStringLiteral("4"));
  QTRY_VERIFY(console->outputText().contains(QString::fromUtf16(u"player1出牌:2\n")));
  stopAndWaitForIdle(dlg);
}

// With a second core the dialog's fast engine searches on two threads; the
// verdict and the machine's first play are those of one.
void TestSolve::theFastEngineUsesASecondCore() {
  CZelkSDlg dlg;
  QCOMPARE(dlg.solveRequest(u"2", u"43").engine.threads,
           std::thread::hardware_concurrency() >= 2 ? 2 : 1);
  qobject_cast<QAbstractButton*>(dlg.control(ids::FAST_ENGINE))->click();
  // An endgame whose search outlasts the engine's first quick try.
  ConsoleWindow* console =
      start(dlg, QStringLiteral("X22AA0886633"), QStringLiteral("YAQQJJ0999844"));
  QVERIFY(console);
  QTRY_VERIFY_WITH_TIMEOUT(console->outputText().contains(QString::fromUtf16(u"player2出牌:")),
                           SOLVE_TIMEOUT_MS);
  QVERIFY(console->outputText().contains(QString::fromUtf16(u"最终获胜方是 player2 \n")));
  QVERIFY(console->outputText().contains(QString::fromUtf16(u"player2出牌:8\n")));
  stopAndWaitForIdle(dlg);
}

// Practice: the same prompts in the console window; the user plays the
// winner (player1 here: player2 leads and loses), `?` lists the winning plays.
void TestSolve::practiceInTheConsoleWindow() {
  CZelkSDlg dlg;
  qobject_cast<QAbstractButton*>(dlg.control(ids::PRACTICE))->click();
  ConsoleWindow* console = start(dlg, QStringLiteral("22"), QStringLiteral("43"));
  QVERIFY(console);
  QVERIFY(inputsEnabled(dlg, false));
  QVERIFY(logOf(dlg).contains(QString::fromUtf16(u"残局练习用快速引擎求解\n")));
  QTRY_VERIFY_WITH_TIMEOUT(console->outputText().contains(QStringLiteral("player1:")),
                           SOLVE_TIMEOUT_MS);
  QVERIFY(console->outputText().contains(QString::fromUtf16(u"你改为扮演player1")));
  type(console, QStringLiteral("?"));
  QTRY_VERIFY(
      console->outputText().contains(QString::fromUtf16(u"必胜出法:\n2(个子): player1赢 2步")));
  stopAndWaitForIdle(dlg);
}

ZELK_APP_TEST_MAIN(TestSolve)
#include "test_solve.moc"
