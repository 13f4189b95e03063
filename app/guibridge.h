// How other threads reach the dialog: message boxes and posted commands.
//
// A box asked for on the GUI thread is shown at once; one asked for by any
// other thread is shown on the GUI thread while the asking thread waits for
// it to close, as a modal box would make it wait. Commands are queued onto the
// owner and handled by its event loop, in the order they were posted.
//
// The bridge lives for the whole process, so a worker that holds it never
// outlives it; once the owner has gone, boxes answer "Cancel" at once and
// commands are dropped.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <mutex>
#include <string>

#include "base/output.h"

class GuiBridge final : public zelk::MessageBoxes, public zelk::CommandTarget {
 public:
  static GuiBridge& instance();

  // owner: the window that owns the boxes and receives the commands; call on
  // the GUI thread. onCommand runs on the GUI thread for each posted id.
  void attach(QWidget* owner, std::function<void(int)> onCommand);
  void detach(QWidget* owner);

  void information(const std::u16string& text, const std::u16string& caption) override;
  bool okCancel(const std::u16string& text, const std::u16string& caption) override;
  void postCommand(int id) override;

  // Tests: called on the GUI thread in place of showing a box; its result is
  // the answer (OK when true).
  using BoxHook = std::function<bool(const std::u16string& text, const std::u16string& caption,
                                     bool withCancel)>;
  static void setBoxHook(BoxHook hook);

 private:
  GuiBridge() = default;
  bool ask(const std::u16string& text, const std::u16string& caption, bool withCancel);
  bool showNow(const std::u16string& text, const std::u16string& caption, bool withCancel);

  std::mutex mutex_;
  QWidget* owner_ = nullptr;  // the GUI thread clears it before the owner goes
  std::function<void(int)> onCommand_;
};
