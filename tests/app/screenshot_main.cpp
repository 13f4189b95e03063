// Shows the dialog, starts a solve, answers the replay once and saves
// pictures of the screen, the dialog and the console window, so that anyone
// can look at how the windows render (Chinese text included).
// Run by tests/screenshot.sh under Xvfb; not part of the test suite.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "app/consolewindow.h"
#include "app/guibridge.h"
#include "app/zelksdlg.h"
#include "apptest.h"
#include "run/threadctl.h"

namespace {
void settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QTest::qWait(20);
}

bool save(const QPixmap& p, const QString& path) {
  const bool ok = !p.isNull() && p.save(path);
  std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
  return ok;
}
}  // namespace

int main(int argc, char** argv) {
  apptest::forgetUpdateServers();
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(out);
  QTemporaryDir home;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
  GuiBridge::setBoxHook([](const std::u16string& text, const std::u16string&, bool) {
    std::printf("box: %s\n", qPrintable(QString::fromStdU16String(text)));
    return true;
  });

  auto* dlg = new CZelkSDlg;
  dlg->show();
  settle(800);
  dlg->OnBnClickedButtonDo();
  settle(1500);
  if (ConsoleWindow* console = dlg->consoleWindow()) {
    // player2 leads in the default endgame when the machine plays player1.
    QTest::keyClicks(console->input(), QStringLiteral("3"));
    QTest::keyClick(console->input(), Qt::Key_Return);
    settle(800);
    save(console->grab(), out + QStringLiteral("/console.png"));
  }
  save(dlg->grab(), out + QStringLiteral("/dialog.png"));
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    save(s->grabWindow(0), out + QStringLiteral("/screen.png"));
  }
  zelk::Destroy();
  settle(800);
  delete dlg;
  return 0;
}
