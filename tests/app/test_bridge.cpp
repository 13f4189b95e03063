// Message boxes and posted commands from other threads.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/guibridge.h"
#include "apptest.h"

namespace {

bool onGuiThread() { return QThread::currentThread() == qApp->thread(); }

struct Owner {
  QWidget widget;
  QList<int> commands;
  bool allOnGuiThread = true;
  Owner() {
    GuiBridge::instance().attach(&widget, [this](int id) {
      commands << id;
      allOnGuiThread = allOnGuiThread && onGuiThread();
    });
    zelk::setMessageBoxes(&GuiBridge::instance());
    zelk::setCommandTarget(&GuiBridge::instance());
  }
  ~Owner() { GuiBridge::instance().detach(&widget); }
};

}  // namespace

class TestBridge : public QObject {
  Q_OBJECT

 private slots:
  void init() { apptest::takeQueued(); }
  void boxFromAWorkerWaitsForTheGuiThread();
  void boxOnTheGuiThreadShowsAtOnce();
  void okCancelAnswers_data();
  void okCancelAnswers();
  void aRealBoxFromAWorker();
  void commandsArriveInOrderOnTheGuiThread();
  void withoutAnOwnerBoxesAnswerCancelAndCommandsDrop();
  void ownerGoneWhileABoxWaits();
};

void TestBridge::boxFromAWorkerWaitsForTheGuiThread() {
  Owner owner;
  apptest::BoxRecorder boxes;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    zelk::BoxPrint(u"p_thread:%d\r\n", 1);
    returned = true;
  });
  // The GUI thread has not run its event loop yet: the worker must still wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  QVERIFY(!returned);
  QVERIFY(boxes.texts().isEmpty());
  QTRY_VERIFY(returned);
  worker.join();
  QCOMPARE(boxes.texts(), QStringList{QStringLiteral("p_thread:1\r\n")});
  QCOMPARE(boxes.captions(), QStringList{QStringLiteral("BOX_PRINT")});
  QVERIFY(boxes.lastOnGuiThread());
  QCOMPARE(apptest::takeQueued(), QStringLiteral("p_thread:1\r\n"));  // logged too
}

void TestBridge::boxOnTheGuiThreadShowsAtOnce() {
  Owner owner;
  apptest::BoxRecorder boxes;
  zelk::BoxPrint(u"每个玩家的牌太少!!!\r\n请重新输入!!![%d][%d]\r\n", 0, 3);
  QCOMPARE(boxes.texts(),
           QStringList{QString::fromUtf16(u"每个玩家的牌太少!!!\r\n请重新输入!!![0][3]\r\n")});
}

void TestBridge::okCancelAnswers_data() {
  QTest::addColumn<bool>("answer");
  QTest::newRow("OK") << true;
  QTest::newRow("Cancel") << false;
}

void TestBridge::okCancelAnswers() {
  QFETCH(bool, answer);
  Owner owner;
  apptest::BoxRecorder boxes;
  boxes.setAnswer(answer);
  std::atomic<int> got{-1};
  std::thread worker(
      [&] { got = zelk::messageBoxes()->okCancel(u"本软件已有新版本!\r\n", u"请升级本软件!!"); });
  QTRY_VERIFY(got.load() != -1);
  worker.join();
  QCOMPARE(got.load(), answer ? 1 : 0);
  QCOMPARE(boxes.captions(), QStringList{QString::fromUtf16(u"请升级本软件!!")});
}

void TestBridge::aRealBoxFromAWorker() {
  Owner owner;
  owner.widget.show();
  QString title, text;
  QTimer closer;
  closer.setInterval(20);
  connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      title = box->windowTitle();
      text = box->text();
      box->button(QMessageBox::Ok)->click();
      closer.stop();
    }
  });
  closer.start();
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    zelk::BoxPrint(u"runingTest:[%s]:\r\n无法完成操作\r\n", u"OnBnClickedButtonDo");
    returned = true;
  });
  QTRY_VERIFY(returned);
  worker.join();
  QCOMPARE(title, QStringLiteral("BOX_PRINT"));
  QCOMPARE(text, QString::fromUtf16(u"runingTest:[OnBnClickedButtonDo]:\n无法完成操作\n"));
}

void TestBridge::commandsArriveInOrderOnTheGuiThread() {
  Owner owner;
  std::thread worker([] {
    zelk::postCommand(9527);
    zelk::postCommand(38523);
    zelk::postCommand(9527);
  });
  worker.join();
  QVERIFY(owner.commands.isEmpty());  // queued, not called on the worker
  QTRY_COMPARE(owner.commands, (QList<int>{9527, 38523, 9527}));
  QVERIFY(owner.allOnGuiThread);
}

void TestBridge::withoutAnOwnerBoxesAnswerCancelAndCommandsDrop() {
  apptest::BoxRecorder boxes;
  zelk::setMessageBoxes(&GuiBridge::instance());
  std::atomic<int> got{-1};
  std::thread([&] { got = zelk::messageBoxes()->okCancel(u"x", u"y") ? 1 : 0; }).join();
  QCOMPARE(got.load(), 0);
  std::thread([] { zelk::postCommand(9527); }).join();
  QTest::qWait(20);
  QVERIFY(boxes.texts().isEmpty());
}

void TestBridge::ownerGoneWhileABoxWaits() {
  apptest::BoxRecorder boxes;
  auto* owner = new Owner;
  std::atomic<int> got{-1};
  std::thread worker([&] { got = zelk::messageBoxes()->okCancel(u"x", u"y") ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the box is queued by now
  delete owner;                                                 // its queued box goes with it
  worker.join();
  QCOMPARE(got.load(), 0);
  QTest::qWait(20);
  QVERIFY(boxes.texts().isEmpty());
}

ZELK_APP_TEST_MAIN(TestBridge)
#include "test_bridge.moc"
