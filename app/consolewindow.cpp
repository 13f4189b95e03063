#include "app/consolewindow.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "app/uifont.h"

namespace {
constexpr int PLACEMENT_SETTLE_MS = 1500;
}  // namespace

// The solver thread's side of the window. Every access to the window pointer
// and to the buffers is made under mutex_; the window clears the pointer in
// its destructor, so nothing is ever posted to a window that is gone.
class GuiConsole final : public zelk::Console {
 public:
  explicit GuiConsole(ConsoleWindow* window) : window_(window) {}

  bool writeChar(char16_t c) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (detached_ || !window_) {
      error_ = zelk::NO_CONSOLE_ERROR;
      return false;
    }
    const bool first = pendingOutput_.empty();
    pendingOutput_.push_back(c);
    // One posted flush carries everything written until it runs.
    if (first) {
      ConsoleWindow* w = window_;
      QMetaObject::invokeMethod(
          w, [w] { w->flushOutput(); }, Qt::QueuedConnection);
    }
    return true;
  }

  bool readChar(char16_t& c) override {
    std::unique_lock<std::mutex> lock(mutex_);
    inputWanted_.wait(lock, [this] { return detached_ || !input_.empty(); });
    if (detached_) {
      error_ = zelk::NO_CONSOLE_ERROR;
      return false;
    }
    c = input_.front();
    input_.pop_front();
    return true;
  }

  void setTitle(const std::u16string& title) override {
    const QString t = QString::fromStdU16String(title);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!window_ || detached_) return;
    ConsoleWindow* w = window_;
    if (QThread::currentThread() == w->thread()) {
      lock.unlock();
      w->setWindowTitle(t);
    } else {
      QMetaObject::invokeMethod(
          w, [w, t] { w->setWindowTitle(t); }, Qt::QueuedConnection);
    }
  }

  bool detach() override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (detached_) return true;
    detached_ = true;
    input_.clear();
    inputWanted_.notify_all();
    if (ConsoleWindow* w = window_) {
      if (QThread::currentThread() == w->thread()) {
        lock.unlock();
        w->closeForDetach();
      } else {
        QMetaObject::invokeMethod(
            w, [w] { w->closeForDetach(); }, Qt::QueuedConnection);
      }
    }
    return true;
  }

  int error() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

  // GUI thread: a line the user typed, with its line end.
  void typed(const std::u16string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (detached_) return;
    input_.insert(input_.end(), line.begin(), line.end());
    inputWanted_.notify_all();
  }

  bool detached() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return detached_;
  }

  std::u16string takeOutput() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string out;
    out.swap(pendingOutput_);
    return out;
  }

  void windowGone() {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = nullptr;
    detached_ = true;
    inputWanted_.notify_all();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable inputWanted_;
  ConsoleWindow* window_;
  std::deque<char16_t> input_;
  std::u16string pendingOutput_;
  bool detached_ = false;
  int error_ = 0;
};

ConsoleWindow::ConsoleWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint),
      output_(new QPlainTextEdit(this)),
      input_(new QLineEdit(this)),
      console_(std::make_shared<GuiConsole>(this)) {
  setObjectName(QStringLiteral("consoleWindow"));
  setAttribute(Qt::WA_DeleteOnClose);

  QFont font = uiFont(10);
  font.setStyleHint(QFont::TypeWriter);
  font.setFamilies({QStringLiteral("WenQuanYi Micro Hei Mono"), QStringLiteral("NSimSun"),
                    QStringLiteral("新宋体"), QStringLiteral("Noto Sans Mono CJK SC"),
                    QStringLiteral("Monospace")});
  setFont(font);

  QPalette pal = palette();
  pal.setColor(QPalette::Base, Qt::black);
  pal.setColor(QPalette::Text, QColor(204, 204, 204));
  pal.setColor(QPalette::Window, Qt::black);
  output_->setPalette(pal);
  setPalette(pal);
  // The line being typed sits on a slightly lighter band, so one sees where it goes.
  pal.setColor(QPalette::Base, QColor(36, 36, 36));
  input_->setPalette(pal);

  output_->setReadOnly(true);  // mouse selection and copy stay available
  output_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  output_->setMaximumBlockCount(9001);
  output_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  output_->setFrameShape(QFrame::NoFrame);
  output_->installEventFilter(this);
  input_->setFrame(false);
  connect(input_, &QLineEdit::returnPressed, this, &ConsoleWindow::submitLine);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(0);
  layout->addWidget(output_, 1);
  layout->addWidget(input_);
  setFocusProxy(input_);

  // The classic console size: 80 columns, 25 lines.
  const QFontMetrics fm(font);
  resize(fm.horizontalAdvance(QLatin1Char('M')) * 80 + 30, fm.lineSpacing() * 26 + 20);
}

ConsoleWindow::~ConsoleWindow() { console_->windowGone(); }

std::shared_ptr<zelk::Console> ConsoleWindow::console() const { return console_; }

QString ConsoleWindow::outputText() const { return output_->toPlainText(); }

void ConsoleWindow::placeAtRightEdge(int bottomMargin) {
  const bool settling = placeMargin_.has_value();
  placeMargin_ = bottomMargin;
  applyPlacement();
  if (settling) return;
  // Long enough for a window manager to reparent the window and announce its
  // frame; a user who moves the window later keeps it where they put it.
  QTimer::singleShot(PLACEMENT_SETTLE_MS, this, [this] {
    if (currentFrame() != placedFrame_) applyPlacement();
    placeMargin_.reset();
  });
}

QMargins ConsoleWindow::currentFrame() const {
  // The platform window knows the frame before the widget's cached copy does.
  if (const QWindow* w = windowHandle(); w && w->handle()) return w->frameMargins();
  const QRect outer = frameGeometry();
  const QRect inner = geometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

void ConsoleWindow::applyPlacement() {
  QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s || !placeMargin_) return;
  const QRect avail = s->availableGeometry();
  placedFrame_ = currentFrame();
  // The window itself, inside its frame, so no stale frame position can
  // shift it.
  const QPoint inner(avail.x() + avail.width() - placedFrame_.right() - width(),
                     avail.y() + avail.height() - *placeMargin_ - placedFrame_.bottom() - height());
  setGeometry(QRect(inner, size()));
}

void ConsoleWindow::postWakeKeys() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        input_->insert(QStringLiteral(" "));
        submitLine();
      },
      Qt::QueuedConnection);
}

void ConsoleWindow::submitLine() {
  if (console_->detached()) return;
  const QString line = input_->text();
  input_->clear();
  // Echo: what was typed stays on the screen behind the prompt.
  QTextCursor c = output_->textCursor();
  c.movePosition(QTextCursor::End);
  c.insertText(line + QLatin1Char('\n'));
  output_->setTextCursor(c);
  output_->verticalScrollBar()->setValue(output_->verticalScrollBar()->maximum());
  console_->typed(line.toStdU16String() + u'\n');
}

void ConsoleWindow::flushOutput() {
  std::u16string text = console_->takeOutput();
  QString s;
  s.reserve(static_cast<qsizetype>(text.size()));
  for (char16_t ch : text) {
    if (ch != u'\r') s.append(QChar(ch));  // "\r\n" and "\n" both end a line
  }
  if (s.isEmpty()) return;
  QTextCursor c = output_->textCursor();
  c.movePosition(QTextCursor::End);
  c.insertText(s);
  output_->setTextCursor(c);
  output_->verticalScrollBar()->setValue(output_->verticalScrollBar()->maximum());
}

bool ConsoleWindow::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::UpdateRequest:
      if (placeMargin_ && currentFrame() != placedFrame_) applyPlacement();
      break;
    default: break;
  }
  return QWidget::event(event);
}

void ConsoleWindow::closeForDetach() {
  closing_ = true;
  close();
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
  // No close button, and no other way to close it while a solve uses it.
  if (closing_) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
  // Typing while the mouse has put the focus on the text goes to the input line.
  if (watched == output_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool copy = key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll);
    if (!copy && (!key->text().isEmpty() || key->key() == Qt::Key_Return ||
                  key->key() == Qt::Key_Enter || key->key() == Qt::Key_Backspace)) {
      input_->setFocus();
      QKeyEvent forwarded(key->type(), key->key(), key->modifiers(), key->text());
      QCoreApplication::sendEvent(input_, &forwarded);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
