// The identity texts of the dialog and the places where the update notice
// plugs in: its thread's start, and the refresh on ID_UPDATE_INFO.
#include "app/identity.h"

#include <QLabel>

#include "app/controlids.h"
#include "app/updateui.h"
#include "app/zelksdlg.h"
#include "base/format.h"
#include "update/updatecheck.h"

// The n_ fields are written by the update thread before it posts
// ID_UPDATE_INFO; before that they are empty.
IdentityTexts identityTexts() {
  using zelk::sm;
  IdentityTexts id;
  id.name = sm.name;
  id.ver = sm.ver;
  id.email = sm.email;
  id.homepage = sm.homepage;
  id.credit = sm.credit;
  id.n_ver = sm.n_ver;
  id.n_message = sm.n_message;
  id.n_softpage = sm.n_softpage;
  id.n_adpage = sm.n_adpage;
  id.n_homepage = sm.n_homepage;
  id.n_email = sm.n_email;
  return id;
}

namespace {
void setStatic(CZelkSDlg& dlg, int id, const std::u16string& text) {
  if (auto* label = qobject_cast<QLabel*>(dlg.control(id))) {
    label->setText(QString::fromStdU16String(text));
  }
}
}  // namespace

void CZelkSDlg::startUpdateCheck() { updateui::startUpdateThread(this); }

void CZelkSDlg::setIdentityTexts() {
  const IdentityTexts id = identityTexts();
  setStatic(*this, ids::NAME, zelk::formatText(u"%s %s ", id.name, id.ver));
  setStatic(*this, ids::CREDIT, zelk::formatText(u"%s %s ", id.credit, id.homepage));
  setStatic(*this, ids::CONTACT, zelk::formatText(u"%s", id.email));
}

void CZelkSDlg::OnUpdateInfo() {
  const IdentityTexts id = identityTexts();
  const std::u16string title = zelk::formatText(u"%s %s ", id.name, id.n_ver);
  setWindowTitle(QString::fromStdU16String(title));
  setStatic(*this, ids::NAME, title);
  setStatic(*this, ids::CREDIT, zelk::formatText(u"%s %s ", id.credit, id.n_homepage));
  setStatic(*this, ids::CONTACT, zelk::formatText(u"%s", id.n_email));
  updateui::navigateAdPage(m_webPanel, m_navigateErrors);
}
