#include "app/myrichedit.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

namespace {

CMyRichEditCtrl::OpenHook& openHook() {
  static CMyRichEditCtrl::OpenHook hook;
  return hook;
}

void openWith(const QString& how, const QString& url) {
  if (openHook()) {
    openHook()(how, url);
    return;
  }
  if (how == QLatin1String("default")) {
    QDesktopServices::openUrl(QUrl(url));
    return;
  }
  // The system browser, where one is installed; the URL is one argument,
  // never a shell command line.
  const QString browser = QStandardPaths::findExecutable(QStringLiteral("x-www-browser"));
  if (!browser.isEmpty()) QProcess::startDetached(browser, {url});
}

// What becomes a link: web addresses, mailto addresses and bare e-mail
// addresses (the contact line of the start-up text is one).
const QRegularExpression& linkPattern() {
  static const QRegularExpression re(
      QStringLiteral(R"((https?://[^\s<>"'\x{3000}-\x{303F}\x{FF00}-\x{FFEF}]+))"
                     R"(|(mailto:[^\s<>"'\x{3000}-\x{303F}\x{FF00}-\x{FFEF}]+))"
                     R"(|([A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(?:\.[A-Za-z0-9-]+)+))"));
  return re;
}

QString normaliseLineEnds(const std::u16string& text) {
  QString s = QString::fromStdU16String(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

}  // namespace

CMyRichEditCtrl::CMyRichEditCtrl(QWidget* parent) : QTextEdit(parent) {
  setAcceptRichText(false);
  setLineWrapMode(QTextEdit::WidgetWidth);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setMouseTracking(true);
}

void CMyRichEditCtrl::setOpenHook(OpenHook hook) { openHook() = std::move(hook); }

void CMyRichEditCtrl::setBackgroundColor(const QColor& colour) {
  QPalette p = palette();
  p.setColor(QPalette::Base, colour);
  p.setColor(QPalette::Window, colour);
  setPalette(p);
}

// --- The drain's interface ---------------------------------------------------

long CMyRichEditCtrl::textLength() { return document()->characterCount() - 1; }

void CMyRichEditCtrl::setSelection(long start, long end) {
  QTextCursor c(document());
  const long n = textLength();
  if (start < 0) {
    c.movePosition(QTextCursor::End);
  } else {
    const long s = std::min(start, n);
    const long e = end < 0 ? n : std::min(end, n);
    c.setPosition(static_cast<int>(s));
    c.setPosition(static_cast<int>(e), QTextCursor::KeepAnchor);
  }
  setTextCursor(c);
}

void CMyRichEditCtrl::replaceSelection(const std::u16string& text) {
  const int from = textCursor().selectionStart();
  const QString s = normaliseLineEnds(text);
  replaceWithoutUndo(s);
  markLinks(from, s);
}

void CMyRichEditCtrl::scrollToBottom() {
  // Posted, so that the layout of the text just appended is done first.
  QPointer<CMyRichEditCtrl> self(this);
  QTimer::singleShot(0, this, [self] {
    if (self) self->verticalScrollBar()->setValue(self->verticalScrollBar()->maximum());
  });
}

void CMyRichEditCtrl::replaceWithoutUndo(const QString& text) {
  // The document cannot leave one edit out of its history, so the history is
  // switched off around the edit (which also empties it).
  QTextDocument* doc = document();
  const bool undo = doc->isUndoRedoEnabled();
  doc->setUndoRedoEnabled(false);
  QTextCursor c = textCursor();
  // A plain format, so text after a link does not continue the link.
  c.insertText(text, QTextCharFormat());
  setTextCursor(c);
  doc->setUndoRedoEnabled(undo);
}

// text was inserted at from; each of its "\n" took one position, like any character.
void CMyRichEditCtrl::markLinks(int from, const QString& text) {
  if (text.isEmpty()) return;
  QTextDocument* doc = document();
  const bool undo = doc->isUndoRedoEnabled();
  doc->setUndoRedoEnabled(false);
  for (auto it = linkPattern().globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    QString link = m.captured(0);
    // Sentence punctuation behind an address is not part of it.
    while (!link.isEmpty() && QStringLiteral(".,;:!?)]}").contains(link.back())) link.chop(1);
    if (link.isEmpty()) continue;
    const QString href = m.capturedLength(3) > 0 ? QStringLiteral("mailto:") + link : link;
    QTextCharFormat f;
    f.setAnchor(true);
    f.setAnchorHref(href);
    f.setFontUnderline(true);
    f.setForeground(QColor(0, 0, 238));
    QTextCursor lc(document());
    lc.setPosition(from + static_cast<int>(m.capturedStart(0)));
    lc.setPosition(from + static_cast<int>(m.capturedStart(0) + link.size()),
                   QTextCursor::KeepAnchor);
    lc.mergeCharFormat(f);
  }
  doc->setUndoRedoEnabled(undo);
}

// --- Context menu ------------------------------------------------------------

QMenu* CMyRichEditCtrl::buildContextMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  QAction* items[8] = {};
  auto add = [&](int id, const char16_t* text) {
    QAction* a = menu->addAction(QString::fromUtf16(text));
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { onCommand(id); });
    items[id - ID_UNDO] = a;
  };
  add(ID_UNDO, u"撤销(&U)");
  menu->addSeparator();
  add(ID_CUT, u"剪切(&T)");
  add(ID_COPY, u"复制(&C) ");
  add(ID_PASTE, u"粘帖(&P) ");
  add(ID_DELETE, u"删除(&D) ");
  menu->addSeparator();
  add(ID_SELECT_ALL, u"全选(&A) ");
  add(ID_CLEAR, u"清除屏幕(&Q)");
  auto gray = [&](int id) { items[id - ID_UNDO]->setEnabled(false); };

  if (!textCursor().hasSelection()) {
    gray(ID_COPY);
    gray(ID_CUT);
    gray(ID_DELETE);
  }
  if (m_bReadOnly) {
    gray(ID_PASTE);
    gray(ID_CUT);
    gray(ID_UNDO);
    gray(ID_DELETE);
  }
  if (!document()->isUndoAvailable()) gray(ID_UNDO);
  return menu;
}

void CMyRichEditCtrl::showMenuAt(const QPoint& globalPos) {
  QMenu* menu = buildContextMenu(this);
  menu->exec(globalPos);
  delete menu;
}

void CMyRichEditCtrl::onCommand(int id) {
  switch (id) {
    case ID_UNDO: undo(); break;
    case ID_CUT: cut(); break;
    case ID_COPY: copy(); break;
    case ID_PASTE: paste(); break;
    case ID_DELETE: replaceWithoutUndo(QString()); break;
    case ID_SELECT_ALL: setSelection(0, -1); break;
    case ID_CLEAR:
      setSelection(0, -1);
      replaceWithoutUndo(QString());
      break;
    default: break;
  }
}

void CMyRichEditCtrl::contextMenuEvent(QContextMenuEvent* event) {
  // The right button shows the menu on its press; the menu key gets the same menu.
  if (event->reason() == QContextMenuEvent::Keyboard) {
    setFocus();
    showMenuAt(viewport()->mapToGlobal(cursorRect().bottomLeft()));
  }
  event->accept();
}

// --- Mouse: menu and links -----------------------------------------------------

void CMyRichEditCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    setFocus();
    showMenuAt(viewport()->mapToGlobal(event->position().toPoint()));
    event->accept();
    return;
  }
  pressedAnchor_ =
      event->button() == Qt::LeftButton ? anchorAt(event->position().toPoint()) : QString();
  QTextEdit::mousePressEvent(event);
}

void CMyRichEditCtrl::mouseReleaseEvent(QMouseEvent* event) {
  QTextEdit::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const QString anchor = anchorAt(event->position().toPoint());
  const QString pressed = pressedAnchor_;
  pressedAnchor_.clear();
  // A drag that selects text across a link is a selection, not a click.
  if (anchor.isEmpty() || anchor != pressed || textCursor().hasSelection()) return;
  openLink(anchor);
}

void CMyRichEditCtrl::mouseMoveEvent(QMouseEvent* event) {
  QTextEdit::mouseMoveEvent(event);
  const bool overLink = !anchorAt(event->position().toPoint()).isEmpty();
  viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
}

void CMyRichEditCtrl::openLink(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid()) return;
  if (scheme == QLatin1String("mailto")) {
    openWith(QStringLiteral("default"), text);
    return;
  }
  // Addresses from the log may come from a document fetched over plain HTTP:
  // only web addresses reach the desktop and the browser, never a file or a command.
  if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return;
  openWith(QStringLiteral("default"), text);
  QTimer::singleShot(500, this, [text] { openWith(QStringLiteral("browser"), text); });
}
