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

  CZelkSDlg dlg;
  dlg.exec();
  return false;
}
