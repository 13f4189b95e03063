#include "app/webbrowser2.h"

#include <QPointer>
#include <QVariant>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>

#include "base/output.h"
#include "update/openpage.h"

namespace {

// The address of the focused element's link, or null when there is no
// document or no active element to read.
const char ACTIVE_HREF_SCRIPT[] =
    "(function(){var e=document.activeElement;if(!e||!e.getAttribute)return null;"
    "var h=e.getAttribute('href');return typeof h==='string'?[h]:[''];})()";

}  // namespace

class CWebBrowser2::Page : public QWebEnginePage {
 public:
  Page(CWebBrowser2* view) : QWebEnginePage(view), view_(view) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    emit view_->BeforeNavigate2(url);
    if (isMainFrame && !zelk::isWebUrl(url.toString().toStdU16String())) {
      zelk::LogPrint(u"CWebBrowser2:不是网页地址，拒绝打开[%s]\r\n",
                     url.toString().toStdU16String());
      return false;
    }
    return true;
  }

  // The link that asked for the window is the document's active element.
  //
  // No window is ever made here, even when that element cannot be read.
  // The page comes from an address the update document names, over plain
  // HTTP, and a window of its own would load whatever it asks for without
  // the web-address check above; declining it is also what a Qt view does
  // with a request nobody handles. A relative "href" is made whole against
  // the page, because OpenPage hands on only complete web addresses.
  QWebEnginePage* createWindow(WebWindowType) override {
    QPointer<CWebBrowser2> view(view_);
    const QUrl base = url();
    runJavaScript(QString::fromLatin1(ACTIVE_HREF_SCRIPT), [view, base](const QVariant& result) {
      if (!view) return;
      if (result.typeId() != QMetaType::QVariantList) {
        emit view->NewWindow2(false, QString());
        return;
      }
      const QString href = result.toList().value(0).toString();
      emit view->NewWindow2(true, href.isEmpty() ? href : base.resolved(QUrl(href)).toString());
    });
    return nullptr;
  }

 private:
  CWebBrowser2* view_;
};

CWebBrowser2::CWebBrowser2(QWidget* parent) : QWebEngineView(parent) {
  auto* page = new Page(this);
  setPage(page);
  connect(page, &QWebEnginePage::loadingChanged, this, &CWebBrowser2::onLoading);
}

void CWebBrowser2::Navigate(const std::u16string& url) {
  if (!zelk::isWebUrl(url)) {
    zelk::LogPrint(u"CWebBrowser2:不是网页地址，拒绝打开[%s]\r\n", url);
    return;
  }
  setUrl(QUrl(QString::fromStdU16String(url)));
}

void CWebBrowser2::onLoading(const QWebEngineLoadingInfo& info) {
  // A load cut short by the next navigation is no error of the page.
  constexpr int ERR_ABORTED = -3;
  if (info.errorDomain() == QWebEngineLoadingInfo::InternalErrorDomain &&
      info.errorCode() == ERR_ABORTED)
    return;
  const bool httpError =
      info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain && info.errorCode() >= 400;
  if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus ||
      (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus && httpError)) {
    emit NavigateError(info.url(), info.errorCode());
  }
}
