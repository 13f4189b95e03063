// The main dialog: two hand inputs, start and stop, the rule switches, the
// log view, the identity texts and the web panel.
//
// Every control carries its id as its object name ("idc1000", ...), so the
// thread control and the tests address controls by id. The dialog is the
// only place where widgets are touched: worker threads reach it through the
// log queue, the message-box bridge and posted commands (GuiBridge).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include "rules/switches.h"
#include "run/solverun.h"
#include "run/threadctl.h"

class CMyRichEditCtrl;
class CButtonST;
class ConsoleWindow;
class QCheckBox;
class QLabel;
class QLineEdit;

class CZelkSDlg : public QDialog, public zelk::ControlPanel {
  Q_OBJECT

 public:
  explicit CZelkSDlg(QWidget* parent = nullptr);
  ~CZelkSDlg() override;

  // The control with this id, or null.
  QWidget* control(int id) const;
  CMyRichEditCtrl* logViewControl() const { return m_log; }
  // The replay console of the running solve, or null.
  ConsoleWindow* consoleWindow() const;

  // The solve the dialog's switches describe, for two accepted hands.
  zelk::SolveRequest solveRequest(std::u16string player1, std::u16string player2) const;

  // Handlers, public so that tests can drive them like clicks and commands.
  void OnBnClickedButtonDo();
  void OnCommand(int id);
  void OnDebugDump();

  // The thread control's view of the window.
  void enableInputs(bool enable) override;
  void enableStop(bool enable) override;
  bool hasConsoleWindow() override;
  void wakeConsoleWindow() override;
  void clearConsoleWindow() override;

  // --- Where the update notice plugs in (identity.cpp) ----------------------
  // Start-up step: sm.hwnd and the update thread.
  void startUpdateCheck();
  // Start-up step: the identity texts (ids::NAME, CONTACT, CREDIT) from the defaults.
  void setIdentityTexts();
  // ID_UPDATE_INFO (38523): refresh the identity texts and the web panel.
  void OnUpdateInfo();
  QWidget* webPanel() const { return m_webPanel; }
  int m_navigateErrors = 0;  // the web panel's navigation errors

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void OnInitDialog();
  void writeStartupLines();
  void openConsole();

  // Rule and debug switches (switches.cpp).
  void loadRuleSwitches();
  void showRuleSwitches();
  void OnRuleSwitch(const zelk::RuleSwitch& rule, QCheckBox* box);
  void OnDebugSwitch(zelk::Flag& flag, const char16_t* message, QCheckBox* box);
  void OnFastEngine(QCheckBox* box);
  void OnPractice(QCheckBox* box);

  CMyRichEditCtrl* m_log = nullptr;  // 1034
  CButtonST* m_btnDo = nullptr;      // 1000
  CButtonST* m_btnStop = nullptr;    // 1035
  CButtonST* m_btnDump = nullptr;    // 1044
  QLineEdit* m_editA = nullptr;      // 1001, player1
  QLineEdit* m_editB = nullptr;      // 1002, player2
  bool m_fastEngine = false;         // the fast engine decides (its box, stored as F_FAST)
  bool m_practice = false;           // the user practises the win (its box, F_PRACTICE)
  QWidget* m_webPanel = nullptr;     // 1004
  QTimer m_drainTimer;               // the desktop dialog's timer 2
  QPointer<ConsoleWindow> m_console;
  const void* CmdHwnd = nullptr;  // the console window of the running solve
  int m_dumpVisible = 0;          // 1: the debug boxes are shown
};
