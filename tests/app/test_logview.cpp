// The log view: its edit menu, the drain's operations, and links.
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "app/myrichedit.h"
#include "apptest.h"

namespace {

struct MenuState {
  QList<int> enabled;  // ids of the enabled items
};

QList<int> enabledIds(QMenu* menu) {
  QList<int> ids;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator() && a->isEnabled()) ids << a->data().toInt();
  }
  return ids;
}

// Appends as the output hub's drain does.
void append(CMyRichEditCtrl& view, const std::u16string& text) {
  view.setSelection(-1, -1);
  view.replaceSelection(text);
  view.setSelection(-1, -1);
}

}  // namespace

class TestLogView : public QObject {
  Q_OBJECT

 private slots:
  void menuItemsAndOrder();
  void menuGraying_data();
  void menuGraying();
  void rightClickShowsTheMenu();
  void clearScreenEmptiesAReadOnlyView();
  void selectAllThenCopyCopiesTheWholeLog();
  void deleteRemovesOnlyTheSelection();
  void lineEndsCountOnce();
  void drainTrimsTheOldestThirtySecond();
  void linksAreDetected_data();
  void linksAreDetected();
  void textAfterALinkIsPlain();
  void clickOpensWebLinkThenBrowser();
  void clickOpensMailOnce();
  void onlyWebAndMailAreOpened();
  void moveAndPressDoNothing();
};

void TestLogView::menuItemsAndOrder() {
  CMyRichEditCtrl view;
  std::unique_ptr<QMenu> menu(view.buildContextMenu(nullptr));
  QStringList seen;
  for (QAction* a : menu->actions()) {
    seen << (a->isSeparator() ? QStringLiteral("-")
                              : QString::number(a->data().toInt()) + QLatin1Char('=') + a->text());
  }
  const QStringList expected = {QString::fromUtf16(u"101=撤销(&U)"),
                                QStringLiteral("-"),
                                QString::fromUtf16(u"102=剪切(&T)"),
                                QString::fromUtf16(u"103=复制(&C) "),
                                QString::fromUtf16(u"104=粘帖(&P) "),
                                QString::fromUtf16(u"105=删除(&D) "),
                                QStringLiteral("-"),
                                QString::fromUtf16(u"106=全选(&A) "),
                                QString::fromUtf16(u"107=清除屏幕(&Q)")};
  QCOMPARE(seen, expected);
}

void TestLogView::menuGraying_data() {
  QTest::addColumn<bool>("readOnly");
  QTest::addColumn<bool>("select");
  QTest::addColumn<bool>("edited");  // something to undo
  QTest::addColumn<QList<int>>("enabled");
  QTest::newRow("read-only, no selection") << true << false << false << QList<int>{106, 107};
  QTest::newRow("read-only, selection") << true << true << false << QList<int>{103, 106, 107};
  QTest::newRow("read-only after appends") << true << true << true << QList<int>{103, 106, 107};
  QTest::newRow("editable, nothing to undo")
      << false << false << false << QList<int>{104, 106, 107};
  QTest::newRow("editable, selection")
      << false << true << false << QList<int>{102, 103, 104, 105, 106, 107};
  QTest::newRow("editable, typed, no selection")
      << false << false << true << QList<int>{101, 104, 106, 107};
}

void TestLogView::menuGraying() {
  QFETCH(bool, readOnly);
  QFETCH(bool, select);
  QFETCH(bool, edited);
  QFETCH(QList<int>, enabled);
  CMyRichEditCtrl view;
  append(view, u"first line\r\n");
  if (edited) {
    if (readOnly) {
      append(view, u"second line\r\n");  // the drain's appends leave nothing to undo
    } else {
      view.show();
      view.setFocus();
      view.moveCursor(QTextCursor::End);
      QTest::keyClicks(&view, QStringLiteral("typed"));
    }
  }
  if (readOnly) {
    view.setReadOnly(true);
    view.m_bReadOnly = 1;
  }
  if (select) {
    view.setSelection(0, 5);
  } else {
    view.setSelection(-1, -1);
  }
  std::unique_ptr<QMenu> menu(view.buildContextMenu(nullptr));
  QCOMPARE(enabledIds(menu.get()), enabled);
}

void TestLogView::rightClickShowsTheMenu() {
  CMyRichEditCtrl view;
  view.setReadOnly(true);
  view.m_bReadOnly = 1;
  append(view, u"some log text\r\n");
  view.resize(300, 200);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  QList<int> shown;
  bool menuSeen = false;
  QTimer::singleShot(200, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      menuSeen = true;
      shown = enabledIds(menu);
      menu->close();
    }
  });
  QTest::mouseClick(view.viewport(), Qt::RightButton, {}, QPoint(20, 10));
  QTRY_VERIFY(menuSeen);
  QCOMPARE(shown, (QList<int>{106, 107}));
  QVERIFY(view.hasFocus());
}

void TestLogView::clearScreenEmptiesAReadOnlyView() {
  CMyRichEditCtrl view;
  view.setReadOnly(true);
  view.m_bReadOnly = 1;
  append(view, u"line one\r\nline two\r\n");
  view.onCommand(CMyRichEditCtrl::ID_CLEAR);
  QCOMPARE(view.textLength(), 0L);
  QVERIFY(view.toPlainText().isEmpty());
}

void TestLogView::selectAllThenCopyCopiesTheWholeLog() {
  CMyRichEditCtrl view;
  view.setReadOnly(true);
  view.m_bReadOnly = 1;
  append(view, u"玩家1:AA9[3]\r\n玩家2:2QQJJ77553[10]\r\n");
  QApplication::clipboard()->clear();
  view.onCommand(CMyRichEditCtrl::ID_SELECT_ALL);
  view.onCommand(CMyRichEditCtrl::ID_COPY);
  QCOMPARE(QApplication::clipboard()->text(),
           QString::fromUtf16(u"玩家1:AA9[3]\n玩家2:2QQJJ77553[10]\n"));
}

void TestLogView::deleteRemovesOnlyTheSelection() {
  CMyRichEditCtrl view;
  append(view, u"abcdef");
  view.setSelection(1, 3);
  view.onCommand(CMyRichEditCtrl::ID_DELETE);
  QCOMPARE(view.toPlainText(), QStringLiteral("adef"));
  QVERIFY(!view.document()->isUndoAvailable());  // no undo record
}

void TestLogView::lineEndsCountOnce() {
  CMyRichEditCtrl view;
  append(view, u"ab\r\ncd\n");
  QCOMPARE(view.textLength(), 6L);
  QCOMPARE(view.toPlainText(), QStringLiteral("ab\ncd\n"));
  view.setSelection(3, 5);
  QCOMPARE(view.textCursor().selectedText(), QStringLiteral("cd"));
}

void TestLogView::drainTrimsTheOldestThirtySecond() {
  CMyRichEditCtrl view;
  zelk::setLogView(&view);
  apptest::takeQueued();
  const std::u16string line(99, u'x');
  for (int i = 0; i < 318; ++i) zelk::QueueLogText(line + u"\r\n");  // 31800 characters
  apptest::drainLog();
  QCOMPARE(view.textLength(), 31800L);
  zelk::QueueLogText(u"tail\r\n");
  zelk::DrainLogQueue();
  // 31800 + 1000 > 32767: the first 31800 / 32 characters went, then the text was added.
  QCOMPARE(view.textLength(), 31800L - 31800 / 32 + 5);  // "tail\r\n" is 5 characters
  QVERIFY(view.toPlainText().endsWith(QStringLiteral("tail\n")));
  zelk::setLogView(nullptr);
}

void TestLogView::linksAreDetected_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QStringList>("links");
  QTest::newRow("start-up line")
      << QStringLiteral("ZelkSolver  1.16  Credit  https://example.invalid/zelk \r\n")
      << QStringList{QStringLiteral("https://example.invalid/zelk")};
  QTest::newRow("e-mail line") << QStringLiteral("someone@example.invalid\r\n")
                               << QStringList{QStringLiteral("mailto:someone@example.invalid")};
  QTest::newRow("mailto and http")
      << QStringLiteral("mailto:a@b.cn or http://b.cn/x.")
      << QStringList{QStringLiteral("mailto:a@b.cn"), QStringLiteral("http://b.cn/x")};
  QTest::newRow("chinese around") << QString::fromUtf16(u"主页：https://a.cn/p，欢迎")
                                  << QStringList{QStringLiteral("https://a.cn/p")};
  QTest::newRow("no scheme") << QStringLiteral("www.example.invalid file:///etc/passwd")
                             << QStringList{};
}

void TestLogView::linksAreDetected() {
  QFETCH(QString, text);
  QFETCH(QStringList, links);
  CMyRichEditCtrl view;
  append(view, u"before\r\n");
  append(view, text.toStdU16String());
  QStringList found;
  for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next()) {
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment f = it.fragment();
      if (f.charFormat().isAnchor()) found << f.charFormat().anchorHref();
    }
  }
  QCOMPARE(found, links);
}

void TestLogView::textAfterALinkIsPlain() {
  CMyRichEditCtrl view;
  append(view, u"see https://a.cn");
  append(view, u"plain");
  QTextCursor c(view.document());
  c.movePosition(QTextCursor::End);
  QVERIFY(!c.charFormat().isAnchor());
}

namespace {
struct OpenRecorder {
  QStringList calls;
  OpenRecorder() {
    CMyRichEditCtrl::setOpenHook(
        [this](const QString& how, const QString& url) { calls << how + QLatin1Char(' ') + url; });
  }
  ~OpenRecorder() { CMyRichEditCtrl::setOpenHook(nullptr); }
};

// The centre of the first character of the link with this href.
QPoint linkPoint(CMyRichEditCtrl& view, const QString& shown) {
  const int at = view.toPlainText().indexOf(shown);
  QTextCursor c(view.document());
  c.setPosition(at + 1);
  return view.cursorRect(c).center();
}
}  // namespace

void TestLogView::clickOpensWebLinkThenBrowser() {
  OpenRecorder rec;
  CMyRichEditCtrl view;
  view.setReadOnly(true);
  append(view, u"home https://example.invalid/zelk \r\n");
  view.resize(400, 200);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                    linkPoint(view, QStringLiteral("https://")));
  QCOMPARE(rec.calls, QStringList{QStringLiteral("default https://example.invalid/zelk")});
  QTRY_COMPARE(rec.calls.size(), 2);
  QCOMPARE(rec.calls[1], QStringLiteral("browser https://example.invalid/zelk"));
}

void TestLogView::clickOpensMailOnce() {
  OpenRecorder rec;
  CMyRichEditCtrl view;
  view.setReadOnly(true);
  append(view, u"zelk@example.invalid\r\n");
  view.resize(400, 200);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, linkPoint(view, QStringLiteral("zelk@")));
  QTest::qWait(700);
  QCOMPARE(rec.calls, QStringList{QStringLiteral("default mailto:zelk@example.invalid")});
}

void TestLogView::onlyWebAndMailAreOpened() {
  OpenRecorder rec;
  CMyRichEditCtrl view;
  for (const char* bad : {"file:///etc/passwd", "javascript:alert(1)", "/usr/bin/xterm",
                          "www.example.invalid", "ftp://example.invalid/"}) {
    view.openLink(QString::fromLatin1(bad));
  }
  QTest::qWait(700);
  QCOMPARE(rec.calls, QStringList{});
}

void TestLogView::moveAndPressDoNothing() {
  OpenRecorder rec;
  CMyRichEditCtrl view;
  view.setReadOnly(true);
  append(view, u"home https://example.invalid/zelk \r\n");
  view.resize(400, 200);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  const QPoint p = linkPoint(view, QStringLiteral("https://"));
  QTest::mouseClick(view.viewport(), Qt::MiddleButton, {}, p);
  QTest::mouseMove(view.viewport(), p);
  QTest::mousePress(view.viewport(), Qt::LeftButton, {}, p);
  QTest::qWait(50);
  QCOMPARE(rec.calls, QStringList{});
  QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, p);  // the release is the click
  QCOMPARE(rec.calls.size(), 1);
}

ZELK_APP_TEST_MAIN(TestLogView)
#include "test_logview.moc"
