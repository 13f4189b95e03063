// The update notice in the dialog: a test server on 127.0.0.1 publishes a
// newer version with a home page and an ad page; the dialog refreshes its
// identity texts, its web panel shows the ad page, and the prompt appears.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <string>

#include "app/myrichedit.h"
#include "app/updateui.h"
#include "app/webbrowser2.h"
#include "app/zelksdlg.h"
#include "apptest.h"
#include "testserver.h"
#include "update/updatecheck.h"

class TestUpdateNotice : public QObject {
  Q_OBJECT

 private slots:
  void newerVersionRefreshesPromptsAndNavigates() {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(v);
    apptest::TempSettings settings;
    apptest::BoxRecorder boxes;
    boxes.setAnswer(false);  // Cancel: nothing is opened
    zelk::test::TestServer server;
    const std::string soft = server.url("/soft");
    server.set("/sm/zelks/CONFIG.xml", 200,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ROOT><version>1.17</version>"
               "<message>\xE6\x96\xB0\xE7\x89\x88</message><softpage>" +
                   soft + "</softpage><adpage>" + server.url("/ad") + "</adpage><homepage>" +
                   server.url("/home") + "</homepage><email>new@example.invalid</email></ROOT>");
    server.set("/ad", 200, "<html><body>ad</body></html>", "Content-Type: text/html\r\n");
    zelk::setUpdateServers(server.hostPort(), "", "");

    CZelkSDlg dlg;
    dlg.show();
    auto text = [&](int id) { return qobject_cast<QLabel*>(dlg.control(id))->text(); };
    const QString title = QStringLiteral("ZelkSolver  1.17 ");
    QTRY_COMPARE_WITH_TIMEOUT(dlg.windowTitle(), title, 15000);
    QCOMPARE(text(1037), title);
    QCOMPARE(text(1039), QString::fromStdU16String(zelk::sm.credit) + QStringLiteral(" ") +
                             QString::fromStdString(server.url("/home")) + QStringLiteral(" "));
    QCOMPARE(text(1038), QStringLiteral("new@example.invalid"));

    // The web panel shows the ad page.
    QTRY_VERIFY_WITH_TIMEOUT(updateui::webPanel(dlg.webPanel()) != nullptr, 5000);
    auto adRequested = [&] {
      for (const std::string& head : server.requests())
        if (head.rfind("GET /ad ", 0) == 0) return true;
      return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(adRequested(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(updateui::webPanel(dlg.webPanel())->url().toString(),
                              QString::fromStdString(server.url("/ad")), 20000);
    QCOMPARE(dlg.m_navigateErrors, 0);

    // The prompt, shown on the user-interface thread.
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), qsizetype(1), 10000);
    QCOMPARE(boxes.texts().at(0),
             QString::fromUtf16(
                 u"本软件已有新版本!\r\n点击确认将自动打开如下所示的官方下载页面下载最新版软件!\r\n"
                 u"点击取消，则会关闭本次升级提醒。\r\n最新版软件下载地址: \r\n") +
                 QString::fromStdString(soft) + QStringLiteral("\r\n"));
    QCOMPARE(boxes.captions().at(0), QString::fromUtf16(u"请升级本软件!!"));
    QVERIFY(boxes.lastOnGuiThread());
    QCOMPARE(zelk::sm.state.load(), 1);
    apptest::drainLog();
    QVERIFY(dlg.logViewControl()->toPlainText().contains(QString::fromUtf16(u"\n新版\n")));
    for (const std::string& head : server.requests()) QVERIFY(head.rfind("GET /soft", 0) != 0);

    zelk::stopUpdateCheck();
    zelk::setUpdateServers("", "", "");
  }
};

int main(int argc, char** argv) {
  apptest::forgetUpdateServers();
  updateui::prepareApplication();
  QApplication app(argc, argv);
  TestUpdateNotice test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_updatenotice.moc"
