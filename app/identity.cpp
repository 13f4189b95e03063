// The identity texts of the dialog and the places where the update notice
// plugs in: its thread's start, and the refresh on ID_UPDATE_INFO.
//
// Until the update check keeps a record of its own, the record holds the
// values of this build's configuration and empty n_ fields.
#include "app/identity.h"

#include <QLabel>

#include "app/zelksdlg.h"
#include "buildconfig.h"
#include "platform/text.h"
#include "run/format.h"

IdentityTexts identityTexts() {
  IdentityTexts id;
  id.name = u"ZelkSolver ";
  id.ver = ZELK_VERSION_TEXT;
  id.email = zelk::utf8ToUtf16(ZELK_CONTACT_EMAIL);
  id.homepage = zelk::utf8ToUtf16(ZELK_HOMEPAGE);
  id.credit = zelk::utf8ToUtf16(ZELK_CREDIT);
  return id;
}

namespace {
void setStatic(CZelkSDlg& dlg, int id, const std::u16string& text) {
  if (auto* label = qobject_cast<QLabel*>(dlg.control(id))) {
    label->setText(QString::fromStdU16String(text));
  }
}
}  // namespace

void CZelkSDlg::startUpdateCheck() {}

void CZelkSDlg::setIdentityTexts() {
  const IdentityTexts id = identityTexts();
  setStatic(*this, 1037, zelk::formatText(u"%s %s ", id.name, id.ver));
  setStatic(*this, 1039, zelk::formatText(u"%s %s ", id.credit, id.homepage));
  setStatic(*this, 1038, zelk::formatText(u"%s", id.email));
}

void CZelkSDlg::OnUpdateInfo() {
  const IdentityTexts id = identityTexts();
  const std::u16string title = zelk::formatText(u"%s %s ", id.name, id.n_ver);
  setWindowTitle(QString::fromStdU16String(title));
  setStatic(*this, 1037, title);
  setStatic(*this, 1039, zelk::formatText(u"%s %s ", id.credit, id.n_homepage));
  setStatic(*this, 1038, zelk::formatText(u"%s", id.n_email));
}
