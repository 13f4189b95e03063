// The replay console window: writes from another thread, line input with
// echo, detach waking a blocked read, no close button, placement.
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/consolewindow.h"
#include "apptest.h"

namespace {

// Reads one line the way the solving run does: characters up to '\n'.
bool readLine(zelk::Console& c, std::u16string& line) {
  line.clear();
  char16_t ch;
  while (c.readChar(ch)) {
    if (ch == u'\n') return true;
    line.push_back(ch);
  }
  return false;
}

void type(ConsoleWindow& w, const QString& text) {
  QTest::keyClicks(w.input(), text);
  QTest::keyClick(w.input(), Qt::Key_Return);
}

}  // namespace

class TestConsole : public QObject {
  Q_OBJECT

 private slots:
  void writesFromAnotherThreadArriveInOrder();
  void readWaitsForALineAndEchoesIt();
  void linesTypedAheadAreKept();
  void detachWakesAPendingReadAndClosesTheWindow();
  void everyLaterReadAndWriteFails();
  void detachFromAnotherThread();
  void thereIsNoWayToCloseIt();
  void placedAgainstTheRightEdgeAboveThePanel();
  void placedAgainOnceTheFrameIsKnown();
  void titleFromTheSolverThread();
  void wakeKeysAfterDetachDoNothing();
  void textCanBeSelectedAndCopied();
};

void TestConsole::writesFromAnotherThreadArriveInOrder() {
  auto* w = new ConsoleWindow;
  std::shared_ptr<zelk::Console> c = w->console();
  const std::u16string text = u"player1牌:AA9\r\nplayer2牌:2QQJJ77553  ---先出牌者\r\n哪方赢?\r\n";
  std::atomic<bool> allWritten{true};
  std::thread writer([&] {
    for (int i = 0; i < 50; ++i) {
      for (char16_t ch : text) {
        if (!c->writeChar(ch)) allWritten = false;
      }
    }
  });
  writer.join();
  QVERIFY(allWritten);
  QString expected;
  for (int i = 0; i < 50; ++i)
    expected += QString::fromStdU16String(text).remove(QLatin1Char('\r'));
  QTRY_COMPARE(w->outputText(), expected);
  c->detach();
}

void TestConsole::readWaitsForALineAndEchoesIt() {
  auto* w = new ConsoleWindow;
  w->show();
  std::shared_ptr<zelk::Console> c = w->console();
  std::atomic<bool> done{false};
  std::u16string got;
  bool ok = false;
  std::thread reader([&] {
    for (char16_t ch : std::u16string(u"player2:")) c->writeChar(ch);
    ok = readLine(*c, got);
    done = true;
  });
  QTest::qWait(100);
  QVERIFY(!done);  // nothing typed yet
  type(*w, QStringLiteral("k k k 5"));
  QTRY_VERIFY(done);
  reader.join();
  QVERIFY(ok);
  QCOMPARE(QString::fromStdU16String(got), QStringLiteral("k k k 5"));
  QTRY_COMPARE(w->outputText(), QStringLiteral("player2:k k k 5\n"));
  QVERIFY(w->input()->text().isEmpty());
  c->detach();
}

void TestConsole::linesTypedAheadAreKept() {
  auto* w = new ConsoleWindow;
  std::shared_ptr<zelk::Console> c = w->console();
  type(*w, QStringLiteral("33"));
  type(*w, QString());  // Enter alone: an empty line, a pass
  type(*w, QStringLiteral("KKK5"));
  std::u16string a, b, d;
  QVERIFY(readLine(*c, a));
  QVERIFY(readLine(*c, b));
  QVERIFY(readLine(*c, d));
  QCOMPARE(a, std::u16string(u"33"));
  QCOMPARE(b, std::u16string());
  QCOMPARE(d, std::u16string(u"KKK5"));
  c->detach();
}

void TestConsole::detachWakesAPendingReadAndClosesTheWindow() {
  QPointer<ConsoleWindow> w = new ConsoleWindow;
  w->show();
  std::shared_ptr<zelk::Console> c = w->console();
  std::atomic<int> result{-1};
  std::thread reader([&] {
    char16_t ch;
    result = c->readChar(ch) ? 1 : 0;
  });
  QTest::qWait(50);
  QCOMPARE(result.load(), -1);
  QVERIFY(c->detach());
  reader.join();
  QCOMPARE(result.load(), 0);
  QCOMPARE(c->error(), zelk::NO_CONSOLE_ERROR);
  QTRY_VERIFY(w.isNull());  // closed and gone
  QVERIFY(c->detach());     // again: harmless
}

void TestConsole::everyLaterReadAndWriteFails() {
  auto* w = new ConsoleWindow;
  std::shared_ptr<zelk::Console> c = w->console();
  type(*w, QStringLiteral("typed before the stop"));
  c->detach();
  char16_t ch;
  QVERIFY(!c->readChar(ch));  // even with a line waiting
  QVERIFY(!c->writeChar(u'x'));
  QTest::qWait(20);
}

void TestConsole::detachFromAnotherThread() {
  QPointer<ConsoleWindow> w = new ConsoleWindow;
  w->show();
  std::shared_ptr<zelk::Console> c = w->console();
  std::thread([c] { c->detach(); }).join();
  char16_t ch;
  QVERIFY(!c->readChar(ch));
  QTRY_VERIFY(w.isNull());
}

void TestConsole::thereIsNoWayToCloseIt() {
  QPointer<ConsoleWindow> w = new ConsoleWindow;
  w->show();
  QVERIFY(!(w->windowFlags() & Qt::WindowCloseButtonHint));
  QVERIFY(!w->close());
  QTest::qWait(20);
  QVERIFY(!w.isNull());
  QVERIFY(w->isVisible());
  w->console()->detach();
  QTRY_VERIFY(w.isNull());
}

void TestConsole::placedAgainstTheRightEdgeAboveThePanel() {
  auto* w = new ConsoleWindow;
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w));
  w->placeAtRightEdge(80);
  const QRect avail = w->screen()->availableGeometry();
  const QRect frame = w->frameGeometry();
  QCOMPARE(frame.x() + frame.width(), avail.x() + avail.width());
  QCOMPARE(frame.y() + frame.height(), avail.y() + avail.height() - 80);
  w->console()->detach();
}

void TestConsole::placedAgainOnceTheFrameIsKnown() {
  // Placed while it has no frame yet, as on a desktop where the window
  // manager frames the window only after it is shown.
  auto* w = new ConsoleWindow;
  w->placeAtRightEdge(80);
  QCOMPARE(w->frameGeometry(), w->geometry());
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w));
  QVERIFY(w->frameGeometry() != w->geometry());  // the platform has a frame
  const QRect avail = w->screen()->availableGeometry();
  QTRY_COMPARE(w->frameGeometry().right(), avail.right());
  QTRY_COMPARE(w->frameGeometry().bottom(), avail.bottom() - 80);
  // Once placed with its frame, the window stays where the user moves it.
  w->move(40, 50);
  QTest::qWait(20);
  QCOMPARE(w->pos(), QPoint(40, 50));
  w->console()->detach();
}

void TestConsole::titleFromTheSolverThread() {
  auto* w = new ConsoleWindow;
  std::shared_ptr<zelk::Console> c = w->console();
  std::thread([c] { c->setTitle(u"ZelkSolver-机器与玩家对局互动窗口:"); }).join();
  QTRY_COMPARE(w->windowTitle(), QString::fromUtf16(u"ZelkSolver-机器与玩家对局互动窗口:"));
  c->detach();
}

void TestConsole::wakeKeysAfterDetachDoNothing() {
  // A stop posts a space and Enter, then detaches; the read fails either way.
  auto* w = new ConsoleWindow;
  std::shared_ptr<zelk::Console> c = w->console();
  w->postWakeKeys();
  c->detach();
  QTest::qWait(20);
  char16_t ch;
  QVERIFY(!c->readChar(ch));
}

void TestConsole::textCanBeSelectedAndCopied() {
  auto* w = new ConsoleWindow;
  w->show();
  std::shared_ptr<zelk::Console> c = w->console();
  for (char16_t ch : std::u16string(u"最终获胜方是 player1 \r\n")) c->writeChar(ch);
  QTRY_VERIFY(!w->outputText().isEmpty());
  // Typing while the text has the focus still goes to the input line.
  w->output()->setFocus();
  QTest::keyClicks(w->output(), QStringLiteral("33"));
  QTest::keyClick(w->output(), Qt::Key_Return);
  std::u16string line;
  QVERIFY(readLine(*c, line));
  QCOMPARE(line, std::u16string(u"33"));
  w->output()->selectAll();
  w->output()->copy();
  QCOMPARE(QGuiApplication::clipboard()->text(),
           QString::fromUtf16(u"最终获胜方是 player1 \n33\n"));
  c->detach();
}

ZELK_APP_TEST_MAIN(TestConsole)
#include "test_console.moc"
