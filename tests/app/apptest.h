// Helpers shared by the dialog's Qt tests.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <mutex>
#include <string>

#include "app/guibridge.h"
#include "base/output.h"
#include "update/updatecheck.h"

namespace apptest {

// The dialog starts the update check with the servers of the build, which a
// test must never reach: every test program forgets them before it starts.
// A test that wants a check points it at its own server on 127.0.0.1.
inline void forgetUpdateServers() { zelk::setUpdateServers("", "", ""); }

// Points the per-user settings at a fresh temporary folder.
class TempSettings {
 public:
  TempSettings() { QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path()); }
  QString path() const { return dir_.path(); }
  QString iniFile() const { return dir_.path() + QStringLiteral("/ZelkSolver/ZelkSolver.ini"); }

 private:
  QTemporaryDir dir_;
};

// Records every message box instead of showing it, with the thread it ran on.
class BoxRecorder {
 public:
  BoxRecorder() {
    GuiBridge::setBoxHook(
        [this](const std::u16string& text, const std::u16string& caption, bool withCancel) {
          std::lock_guard<std::mutex> lock(mutex_);
          texts_ << QString::fromStdU16String(text);
          captions_ << QString::fromStdU16String(caption);
          onGuiThread_ = QThread::currentThread() == QCoreApplication::instance()->thread();
          (void)withCancel;
          return answer_;
        });
  }
  ~BoxRecorder() { GuiBridge::setBoxHook(nullptr); }
  QStringList texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  QStringList captions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return captions_;
  }
  bool lastOnGuiThread() {
    std::lock_guard<std::mutex> lock(mutex_);
    return onGuiThread_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.clear();
    captions_.clear();
  }
  void setAnswer(bool ok) { answer_ = ok; }

 private:
  std::mutex mutex_;
  QStringList texts_, captions_;
  bool onGuiThread_ = false;
  bool answer_ = true;
};

// Moves every queued text into the published log view now.
inline void drainLog() {
  while (zelk::logView() && zelk::mStrSeq.size() > 0) zelk::DrainLogQueue();
}

// Takes every queued text off the queue without a view (for tests without a dialog).
inline QString takeQueued() {
  QString all;
  while (auto t = zelk::mStrSeq.take()) all += QString::fromStdU16String(*t);
  return all;
}

}  // namespace apptest

// QTEST_MAIN, with the update servers forgotten first.
#define ZELK_APP_TEST_MAIN(TestObject)       \
  int main(int argc, char** argv) {          \
    apptest::forgetUpdateServers();          \
    QApplication app(argc, argv);            \
    app.setAttribute(Qt::AA_Use96Dpi, true); \
    TestObject tc;                           \
    QTEST_SET_MAIN_SOURCE_PATH               \
    return QTest::qExec(&tc, argc, argv);    \
  }
