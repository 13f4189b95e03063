// The dialog's rule switches, debug switches and debug dump.
//
// Each switch is a process-wide flag that the rules, the solver and the
// output hub read at the moment they need it. The rule switches are stored
// under their flag names on every click; the debug switches start off in
// every run and are never stored.
#include <QCheckBox>
#include <thread>

#include "app/controlids.h"
#include "app/identity.h"
#include "app/settings.h"
#include "app/zelksdlg.h"
#include "base/output.h"
#include "rules/types.h"
#include "run/solverun.h"
#include "solver/release.h"

using zelk::LogPrint;

void CZelkSDlg::loadRuleSwitches() {
  for (const zelk::RuleSwitch& rule : zelk::RULE_SWITCHES) {
    const int current = rule.flag->load(std::memory_order_relaxed);
    zelk::setFlag(*rule.flag, settings::readInt(rule.name, current));
  }
  m_fastEngine = settings::readInt(settings::FAST_ENGINE, 0) != 0;
  m_practice = settings::readInt(settings::PRACTICE, 0) != 0;
}

void CZelkSDlg::showRuleSwitches() {
  for (int s = 0; s < zelk::RULE_SWITCH_COUNT; ++s) {
    if (auto* box = qobject_cast<QCheckBox*>(control(ids::RULE_SWITCH_BOXES[s]))) {
      box->setChecked(zelk::on(*zelk::RULE_SWITCHES[s].flag));
    }
  }
  if (auto* box = qobject_cast<QCheckBox*>(control(ids::FAST_ENGINE))) {
    box->setChecked(m_fastEngine);
  }
  if (auto* box = qobject_cast<QCheckBox*>(control(ids::PRACTICE))) box->setChecked(m_practice);
}

void CZelkSDlg::OnFastEngine(QCheckBox* box) {
  const int value = box->checkState() == Qt::Checked ? 1 : 0;
  m_fastEngine = value != 0;
  LogPrint(u"F_FAST     = %d \r\n", value);
  settings::writeInt(settings::FAST_ENGINE, value);
}

void CZelkSDlg::OnPractice(QCheckBox* box) {
  const int value = box->checkState() == Qt::Checked ? 1 : 0;
  m_practice = value != 0;
  LogPrint(u"F_PRACTICE = %d \r\n", value);
  settings::writeInt(settings::PRACTICE, value);
}

void CZelkSDlg::OnRuleSwitch(const zelk::RuleSwitch& rule, QCheckBox* box) {
  // Anything but a plain check, the third state included, switches the rule off.
  const int value = box->checkState() == Qt::Checked ? 1 : 0;
  zelk::setFlag(*rule.flag, value);
  LogPrint(rule.message, value);
  settings::writeInt(rule.name, value);
}

void CZelkSDlg::OnDebugSwitch(zelk::Flag& flag, const char16_t* message, QCheckBox* box) {
  const int value = box->checkState() == Qt::Checked ? 1 : 0;
  zelk::setFlag(flag, value);
  LogPrint(message, value);
}

void CZelkSDlg::OnDebugDump() {
  // 1. Each click shows or hides the debug boxes.
  m_dumpVisible = m_dumpVisible == 0 ? 1 : 0;
  for (int id : ids::DEBUG_BOXES) control(id)->setVisible(m_dumpVisible == 1);

  // 2-3. The queues and the console window.
  const uint64_t waitingTrees = zelk::qZelk2Free.size();
  const uint64_t waitingTexts = zelk::mStrSeq.size();
  LogPrint(u"qZelk2Free:size:%I64u\r\n", waitingTrees);
  LogPrint(u"mStrSeq:size:%I64u\r\n", waitingTexts);
  LogPrint(u"CmdHwnd:%p \r\n", CmdHwnd);

  // 4. The flags.
  auto value = [](const zelk::Flag& f) { return f.load(std::memory_order_relaxed); };
  LogPrint(u"F_LOG      = %d \r\n", value(zelk::F_LOG));
  LogPrint(u"F_DEBUG    = %d \r\n", value(zelk::F_DEBUG));
  LogPrint(u"F_U1F      = %d \r\n", value(zelk::F_U1F));
  for (const zelk::Flag* f :
       {&zelk::F_TYPE_D, &zelk::F_TYPE_3, &zelk::F_TYPE_31, &zelk::F_TYPE_32, &zelk::F_TYPE_411,
        &zelk::F_TYPE_422, &zelk::F_TYPE_F, &zelk::F_TYPE_F11, &zelk::F_TYPE_F22, &zelk::F_TYPE_SZ,
        &zelk::F_TYPE_LD, &zelk::F_TYPE_ZD, &zelk::F_TYPE_WZ}) {
    for (const zelk::RuleSwitch& rule : zelk::RULE_SWITCHES) {
      if (rule.flag == f) LogPrint(rule.message, value(*f));
    }
  }

  // 5-6. The fixed limit and the identity record.
  LogPrint(u"MAXPN      = %d \r\n", zelk::MAXPN);
  const IdentityTexts id = identityTexts();
  LogPrint(u"sm.name       = %s \r\n", id.name);
  LogPrint(u"sm.n_ver      = %s \r\n", id.n_ver);
  LogPrint(u"sm.n_message  = %s \r\n", id.n_message);
  LogPrint(u"sm.n_softpage = %s \r\n", id.n_softpage);
  LogPrint(u"sm.n_adpage   = %s \r\n", id.n_adpage);
  LogPrint(u"sm.n_homepage = %s \r\n", id.n_homepage);
  LogPrint(u"sm.n_email    = %s \r\n", id.n_email);
}
