// The web panel: retries after navigation errors, refuses addresses that are
// not web pages, and hands links that ask for a new window to OpenPage.
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <mutex>
#include <string>
#include <vector>

#include "app/updateui.h"
#include "app/webbrowser2.h"
#include "apptest.h"
#include "base/output.h"
#include "platform/text.h"
#include "testserver.h"
#include "update/openpage.h"
#include "update/updatecheck.h"

namespace {

class RecordingOpener : public zelk::PageOpener {
 public:
  void openDefault(const std::u16string& url) override {
    std::lock_guard<std::mutex> g(mutex_);
    urls_ << QString::fromStdU16String(url);
  }
  bool openBrowser(const std::u16string&) override { return false; }
  QStringList urls() {
    std::lock_guard<std::mutex> g(mutex_);
    return urls_;
  }

 private:
  std::mutex mutex_;
  QStringList urls_;
};

QStringList takeLog() {
  QStringList lines;
  while (auto text = zelk::mStrSeq.take()) lines << QString::fromStdU16String(*text);
  return lines;
}

void setAdPage(const std::string& url) {
  std::u16string u = zelk::utf8ToUtf16(url);
  std::copy(u.begin(), u.end(), zelk::sm.n_adpage);
  zelk::sm.n_adpage[u.size()] = 0;
}

}  // namespace

class TestWebPanel : public QObject {
  Q_OBJECT

  // Serves `html` as the ad page and shows it in the panel; false unless it
  // loaded.
  bool showAdPage(zelk::test::TestServer& server, const char* html) {
    server.set("/ad", 200, html, "Content-Type: text/html\r\n");
    setAdPage(server.url("/ad"));
    QSignalSpy loaded(panel, &QWebEngineView::loadFinished);
    updateui::navigateAdPage(place, errors);
    return loaded.wait(20000) && loaded.at(0).at(0).toBool();
  }
  void clickElement(const QString& id) {
    panel->page()->runJavaScript(
        QStringLiteral("var e=document.getElementById('%1');e.focus();e.click();").arg(id));
  }

 private slots:
  void init() {
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    unsetenv("all_proxy");
    unsetenv("ALL_PROXY");
    zelk::resetIdentityRecord();
    zelk::setPageOpener(&opener);
    takeLog();
    place = new QWidget;
    place->setLayout(new QVBoxLayout);
    place->resize(400, 300);
    errors = 0;
    panel = updateui::installWebPanel(place, errors);
    place->show();
  }
  void cleanup() {
    delete place;
    zelk::setPageOpener(nullptr);
    zelk::resetIdentityRecord();
  }

  void retriesTenTimesThenOnlyCounts() {
    zelk::test::RefusingPort refusing;
    setAdPage("http://" + refusing.hostPort() + "/ad");
    QSignalSpy spy(panel, &CWebBrowser2::NavigateError);
    panel->Navigate(zelk::sm.n_adpage);
    QTRY_COMPARE_WITH_TIMEOUT(errors, 11, 30000);
    QTest::qWait(500);
    QCOMPARE(errors, 11);
    QCOMPARE(spy.count(), 11);
  }

  void showsAPageWithoutErrors() {
    zelk::test::TestServer server;
    QVERIFY(showAdPage(server, "<html><body><p id=x>ad</p></body></html>"));
    QCOMPARE(errors, 0);
    QCOMPARE(server.requestCount(), 1);
  }

  void shortAdPageIsNotShown() {
    QWidget blank;
    int blankErrors = 0;
    setAdPage("http:");
    updateui::navigateAdPage(&blank, blankErrors);
    QVERIFY(!updateui::webPanel(&blank));  // no browser was ever made
    setAdPage("http:/");
    updateui::navigateAdPage(&blank, blankErrors);
    QVERIFY(updateui::webPanel(&blank));
    QSignalSpy before(panel, &CWebBrowser2::BeforeNavigate2);
    setAdPage("http:");
    updateui::navigateAdPage(place, errors);
    QTest::qWait(300);
    QCOMPARE(before.count(), 0);
  }

  void refusesAddressesThatAreNotWebPages() {
    QSignalSpy before(panel, &CWebBrowser2::BeforeNavigate2);
    panel->Navigate(u"file:///etc/passwd");
    QTest::qWait(300);
    QCOMPARE(before.count(), 0);
    QCOMPARE(
        takeLog(),
        QStringList{QStringLiteral("CWebBrowser2:不是网页地址，拒绝打开[file:///etc/passwd]\r\n")});
  }

  void pageCannotLeaveTheWeb() {
    zelk::test::TestServer server;
    QVERIFY(
        showAdPage(server, "<html><body><a id=l href='file:///etc/passwd'>x</a></body></html>"));
    const QString adUrl = QString::fromStdString(server.url("/ad"));
    takeLog();
    QSignalSpy before(panel, &CWebBrowser2::BeforeNavigate2);
    // Chromium itself keeps a web page away from file: URLs.
    panel->page()->runJavaScript(QStringLiteral("location.href='file:///etc/passwd';"));
    QTest::qWait(1000);
    QCOMPARE(panel->url().toString(), adUrl);
    QCOMPARE(before.count(), 0);
    // A data: URL set on the page itself is one Chromium would show: the
    // panel's own check refuses it.
    const QString data = QStringLiteral("data:text/html,<p>not a web page</p>");
    panel->page()->setUrl(QUrl(data));
    QTRY_COMPARE_WITH_TIMEOUT(before.count(), 1, 10000);
    QCOMPARE(before.at(0).at(0).toUrl(), QUrl(data));
    QTest::qWait(500);
    QCOMPARE(panel->url().toString(), adUrl);
    QCOMPARE(takeLog(), QStringList{QStringLiteral("CWebBrowser2:不是网页地址，拒绝打开[") +
                                    QUrl(data).toString() + QStringLiteral("]\r\n")});
  }

  // A page can make the active element unreadable; the window it asks for
  // still never opens, and nothing is handed to OpenPage.
  void newWindowWithUnreadableLinkOpensNothing() {
    zelk::test::TestServer server;
    QVERIFY(showAdPage(server,
                       "<html><body><a id=l href='/soft' target='_blank'>new</a><script>"
                       "Element.prototype.getAttribute=function(){throw new Error('no');};"
                       "</script></body></html>"));
    takeLog();
    QSignalSpy windows(panel, &CWebBrowser2::NewWindow2);
    QSignalSpy before(panel, &CWebBrowser2::BeforeNavigate2);
    clickElement(QStringLiteral("l"));
    QVERIFY(windows.wait(10000));
    QCOMPARE(windows.at(0).at(0).toBool(), false);
    QTest::qWait(500);
    QVERIFY(opener.urls().isEmpty());
    QVERIFY(takeLog().isEmpty());
    QCOMPARE(before.count(), 0);
    QCOMPARE(panel->url().toString(), QString::fromStdString(server.url("/ad")));
    for (const std::string& head : server.requests())
      QVERIFY2(head.rfind("GET /soft", 0) != 0, head.c_str());
  }

  void newWindowLinkGoesToOpenPage() {
    zelk::test::TestServer server;
    QVERIFY(showAdPage(server,
                       "<html><body><a id=l href='/soft?v=2' target='_blank'>new</a>"
                       "<button id=b onclick=\"window.open('/x')\">b</button></body></html>"));
    QSignalSpy windows(panel, &CWebBrowser2::NewWindow2);
    clickElement(QStringLiteral("l"));
    QVERIFY(windows.wait(10000));
    QCOMPARE(windows.at(0).at(0).toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(opener.urls(),
                              QStringList{QString::fromStdString(server.url("/soft?v=2"))}, 5000);
    // A window asked for by a script: the active element has no link, and
    // the empty address is refused.
    takeLog();
    clickElement(QStringLiteral("b"));
    QVERIFY(windows.wait(10000));
    QCOMPARE(windows.at(1).at(1).toString(), QString());
    QCOMPARE(takeLog(), QStringList{QStringLiteral("OpenPage:不是网页地址，拒绝打开[]\r\n")});
    QCOMPARE(opener.urls().size(), 1);
    // Neither link was loaded in a window of the panel's own.
    for (const std::string& head : server.requests()) {
      QVERIFY2(head.rfind("GET /soft", 0) != 0 && head.rfind("GET /x ", 0) != 0, head.c_str());
    }
  }

 private:
  RecordingOpener opener;
  QWidget* place = nullptr;
  CWebBrowser2* panel = nullptr;
  int errors = 0;
};

int main(int argc, char** argv) {
  apptest::forgetUpdateServers();
  updateui::prepareApplication();
  QApplication app(argc, argv);
  TestWebPanel test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_webpanel.moc"
