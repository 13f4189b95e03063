// The log view: a rich-text edit with its own edit menu and clickable links.
//
// The output hub's drain appends to it through the LogView interface; texts
// carry "\r\n" line ends, which the view stores as one line break (as a
// desktop rich edit does), so lengths and positions count a line end once.
// Web and mail addresses in appended text become links; a left click opens
// them, and only http(s) and mailto addresses are ever handed on.
#pragma once

#include <QTextEdit>
#include <functional>

#include "base/output.h"

class QMenu;

class CMyRichEditCtrl : public QTextEdit, public zelk::LogView {
  Q_OBJECT

 public:
  // Context-menu command ids.
  enum Command {
    ID_UNDO = 101,
    ID_CUT = 102,
    ID_COPY = 103,
    ID_PASTE = 104,
    ID_DELETE = 105,
    ID_SELECT_ALL = 106,
    ID_CLEAR = 107,
  };

  explicit CMyRichEditCtrl(QWidget* parent = nullptr);

  // Nonzero once the owner has made the view read-only; the menu consults it.
  int m_bReadOnly = 0;

  // The menu as a right click shows it, with the items grayed for the
  // current state; each action carries its command id as data.
  QMenu* buildContextMenu(QWidget* parent);
  void onCommand(int id);

  // The drain's view of the control.
  long textLength() override;
  void setSelection(long start, long end) override;
  void replaceSelection(const std::u16string& text) override;
  void scrollToBottom() override;

  void setTextLimit(int limit) { textLimit_ = limit; }
  int textLimit() const { return textLimit_; }
  void setBackgroundColor(const QColor& colour);

  // A click on a link (the link's text, e.g. "https://..." or "mailto:...").
  void openLink(const QString& text);

  // How a link is opened: "default" (the desktop's handler) or "browser"
  // (the system browser). Tests record the requests instead of opening.
  using OpenHook = std::function<void(const QString& how, const QString& url)>;
  static void setOpenHook(OpenHook hook);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void showMenuAt(const QPoint& globalPos);
  void replaceWithoutUndo(const QString& text);
  void markLinks(int from, const QString& text);

  int textLimit_ = 32767;
  QString pressedAnchor_;
};
