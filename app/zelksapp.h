// The application object: its one task is to run the main dialog.
#pragma once

#include <QApplication>

class CZelkSApp : public QApplication {
  Q_OBJECT

 public:
  CZelkSApp(int& argc, char** argv);

  // Shows the dialog and runs the event loop until the dialog closes.
  // Returns false: once the dialog has closed there is nothing left to run.
  bool InitInstance();
};
