// CWebBrowser2: the dialog's small web panel (control 1004) on Qt WebEngine.
//
// The panel shows pages named by the update document, which arrives over
// plain HTTP: it navigates its main frame only to http:// and https:// URLs
// and refuses anything else. It reports three events to its owner, named
// after the desktop browser control's: a failed navigation, a navigation
// about to start, and a link asking for a new window. A new window is never
// opened here; the owner decides what to do with the link's address.
#pragma once

#include <QString>
#include <QUrl>
#include <QWebEngineView>
#include <string>

class QWebEngineLoadingInfo;

class CWebBrowser2 : public QWebEngineView {
  Q_OBJECT

 public:
  explicit CWebBrowser2(QWidget* parent = nullptr);

  // Navigates to url, passing nothing but the URL; a URL that is not a web
  // address is refused and logged.
  void Navigate(const std::u16string& url);

 signals:
  void NavigateError(const QUrl& url, int code);
  void BeforeNavigate2(const QUrl& url);
  // readOk: the document's active element could be read; href is its "href"
  // attribute, resolved against the page, or empty when it has none.
  void NewWindow2(bool readOk, const QString& href);

 private:
  class Page;
  void onLoading(const QWebEngineLoadingInfo& info);
};
