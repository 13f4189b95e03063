// The replay console of the dialog: a window of our own in place of a system
// console.
//
// The solver thread talks to it through the Console interface (console()):
// writes are handed to the GUI thread in order, and a read blocks until the
// user has typed a line and pressed Enter, then delivers the line's
// characters and '\n'. Typed lines are echoed, as a console in line mode does.
// detach() closes the window and makes every pending and later read and
// write fail: that is how a stop wakes a solver thread waiting for a line.
#pragma once

#include <QMargins>
#include <QWidget>
#include <memory>
#include <optional>

#include "platform/console.h"

class QLineEdit;
class QPlainTextEdit;
class GuiConsole;

class ConsoleWindow : public QWidget {
  Q_OBJECT

 public:
  // A top-level window without a close button; it deletes itself once detached.
  ConsoleWindow();
  ~ConsoleWindow() override;

  std::shared_ptr<zelk::Console> console() const;

  // Against the right edge of the screen's available area, its bottom edge
  // bottomMargin pixels above the bottom of that area (above the panel).
  // The window manager adds its frame some time after show(); until the
  // placement settles, the window is placed again whenever the frame it was
  // placed with turns out to be another.
  void placeAtRightEdge(int bottomMargin);

  // The posted "space and Enter" with which a stop wakes a waiting read.
  void postWakeKeys();

  QPlainTextEdit* output() const { return output_; }
  QLineEdit* input() const { return input_; }
  QString outputText() const;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class GuiConsole;
  void submitLine();
  void flushOutput();
  void closeForDetach();
  QMargins currentFrame() const;
  void applyPlacement();

  QPlainTextEdit* output_;
  QLineEdit* input_;
  std::shared_ptr<GuiConsole> console_;
  bool closing_ = false;
  std::optional<int> placeMargin_;  // set while the placement settles
  QMargins placedFrame_;            // the frame the last placement counted with
};
