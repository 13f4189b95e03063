#include "app/guibridge.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>
#include <future>
#include <memory>

namespace {
GuiBridge::BoxHook& boxHook() {
  static GuiBridge::BoxHook hook;
  return hook;
}

bool onGuiThread() {
  return QCoreApplication::instance() &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}
}  // namespace

GuiBridge& GuiBridge::instance() {
  // Never destroyed: worker threads may still hold it while the process ends.
  static GuiBridge* bridge = new GuiBridge;
  return *bridge;
}

void GuiBridge::setBoxHook(BoxHook hook) { boxHook() = std::move(hook); }

void GuiBridge::attach(QWidget* owner, std::function<void(int)> onCommand) {
  std::lock_guard<std::mutex> lock(mutex_);
  owner_ = owner;
  onCommand_ = std::move(onCommand);
}

void GuiBridge::detach(QWidget* owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (owner_ != owner) return;
  owner_ = nullptr;
  onCommand_ = nullptr;
}

void GuiBridge::information(const std::u16string& text, const std::u16string& caption) {
  ask(text, caption, false);
}

bool GuiBridge::okCancel(const std::u16string& text, const std::u16string& caption) {
  return ask(text, caption, true);
}

void GuiBridge::postCommand(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!owner_ || !onCommand_) return;
  // Posted while the owner is known to exist; the event goes with the owner.
  QMetaObject::invokeMethod(
      owner_, [handler = onCommand_, id] { handler(id); }, Qt::QueuedConnection);
}

bool GuiBridge::ask(const std::u16string& text, const std::u16string& caption, bool withCancel) {
  if (onGuiThread()) return showNow(text, caption, withCancel);
  auto answer = std::make_shared<std::promise<bool>>();
  std::future<bool> reply = answer->get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!owner_) return false;
    // The queued call holds the only reference to the promise.
    QMetaObject::invokeMethod(
        owner_,
        [this, answer = std::move(answer), text, caption, withCancel] {
          answer->set_value(showNow(text, caption, withCancel));
        },
        Qt::QueuedConnection);
  }
  // When the owner goes before the box was shown, the queued call is dropped
  // with it, the promise breaks and the caller is answered "Cancel".
  try {
    return reply.get();
  } catch (const std::future_error&) {
    return false;
  }
}

bool GuiBridge::showNow(const std::u16string& text, const std::u16string& caption,
                        bool withCancel) {
  if (boxHook()) return boxHook()(text, caption, withCancel);
  QWidget* parent;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    parent = owner_;
  }
  QString shown = QString::fromStdU16String(text);
  shown.remove(QLatin1Char('\r'));
  QMessageBox box(QMessageBox::Information, QString::fromStdU16String(caption), shown,
                  withCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok, parent);
  return box.exec() == QMessageBox::Ok;
}
