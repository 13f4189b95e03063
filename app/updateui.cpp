#include "app/updateui.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLayout>
#include <QThread>
#include <QUrl>
#include <cstdlib>
#include <string_view>

#include "app/webbrowser2.h"
#include "base/output.h"
#include "update/openpage.h"
#include "update/updatecheck.h"

namespace updateui {

namespace {

constexpr int MAX_NAVIGATE_RETRIES = 10;
constexpr std::size_t AD_PAGE_MIN = 6;

class DesktopPageOpener : public zelk::PageOpener {
 public:
  void openDefault(const std::u16string& url) override {
    const QUrl target(QString::fromStdU16String(url));
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread() == app->thread()) {
      QDesktopServices::openUrl(target);
    } else {
      QMetaObject::invokeMethod(
          app, [target] { QDesktopServices::openUrl(target); }, Qt::QueuedConnection);
    }
  }
  bool openBrowser(const std::u16string& url) override {
    return zelk::defaultPageOpener().openBrowser(url);
  }
};

}  // namespace

void prepareApplication() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // As root, Chromium refuses to start with its sandbox on, and the web panel
  // would stay empty.
  if (geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) {
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    zelk::LogPrint(u"CWebBrowser2:以root身份运行，网页面板关闭沙箱\r\n");
  }
}

void installPageOpener() {
  static DesktopPageOpener* opener = new DesktopPageOpener;
  zelk::setPageOpener(opener);
}

CWebBrowser2* installWebPanel(QWidget* place, int& navigateErrors) {
  auto* panel = new CWebBrowser2(place);
  if (place->layout()) place->layout()->addWidget(panel);
  int* errors = &navigateErrors;
  QObject::connect(panel, &CWebBrowser2::NavigateError, panel, [panel, errors] {
    if (*errors < MAX_NAVIGATE_RETRIES) panel->Navigate(zelk::sm.n_adpage);
    ++*errors;
  });
  QObject::connect(panel, &CWebBrowser2::NewWindow2, panel, [](bool readOk, const QString& href) {
    if (readOk) zelk::OpenPage(href.toStdU16String());
  });
  return panel;
}

CWebBrowser2* webPanel(QWidget* place) {
  return place ? place->findChild<CWebBrowser2*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void navigateAdPage(QWidget* place, int& navigateErrors) {
  if (!place || std::u16string_view(zelk::sm.n_adpage).size() < AD_PAGE_MIN) return;
  CWebBrowser2* panel = webPanel(place);
  if (!panel) panel = installWebPanel(place, navigateErrors);
  panel->Navigate(zelk::sm.n_adpage);
}

void startUpdateThread(QWidget* dialog) {
  static bool started = false;
  if (started) return;
  started = true;
  zelk::sm.hwnd = dialog;
  zelk::startUpdateCheck().close();
}

}  // namespace updateui
