// The program's identity texts as the dialog shows and dumps them: the
// running version and the maker's contact texts, and what the update check
// read from the published document (the n_ fields, empty until then).
#pragma once

#include <string>

struct IdentityTexts {
  std::u16string name;  // "ZelkSolver " with its trailing blank
  std::u16string ver;
  std::u16string email;
  std::u16string homepage;
  std::u16string credit;
  std::u16string n_ver;
  std::u16string n_message;
  std::u16string n_softpage;
  std::u16string n_adpage;
  std::u16string n_homepage;
  std::u16string n_email;
};

// A copy of the current record.
IdentityTexts identityTexts();
