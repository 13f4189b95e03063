#include "app/zelksapp.h"

#include <QSettings>

#include "app/settings.h"
#include "app/zelksdlg.h"

CZelkSApp::CZelkSApp(int& argc, char** argv) : QApplication(argc, argv) {}

bool CZelkSApp::InitInstance() {
  // The settings key: organisation and application "ZelkSolver", INI form.
  setOrganizationName(QString::fromLatin1(settings::ORGANISATION));
  setApplicationName(QString::fromLatin1(settings::APPLICATION));
  QSettings::setDefaultFormat(QSettings::IniFormat);
  setWindowIcon(QIcon(QStringLiteral(":/icon/128")));

  // Shown without a modal loop of its own: a modal dialog would block the
  // input of every other window of the program, the replay console among
  // them, which has no parent. The program ends with the dialog, even while
  // the console window (which refuses to close) is still open: exit(), not
  // quit(), which asks every window first.
  CZelkSDlg dlg;
  connect(
      &dlg, &QDialog::finished, this, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  setQuitOnLastWindowClosed(false);
  dlg.show();
  exec();
  return false;
}
