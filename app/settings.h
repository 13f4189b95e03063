// The per-user settings store: QSettings in INI form under the name
// "ZelkSolver" ($XDG_CONFIG_HOME/ZelkSolver/ZelkSolver.ini), section
// "section". It keeps the last two hands and the thirteen rule switches.
#pragma once

#include <QSettings>
#include <QString>
#include <string>

namespace settings {

inline constexpr char ORGANISATION[] = "ZelkSolver";
inline constexpr char APPLICATION[] = "ZelkSolver";
inline constexpr char SECTION[] = "section";
inline constexpr char INPUT_A[] = "testinputA";
inline constexpr char INPUT_B[] = "testinputB";
inline constexpr char FAST_ENGINE[] = "F_FAST";   // 1: the fast engine decides, default 0
inline constexpr char PRACTICE[] = "F_PRACTICE";  // 1: the user practises the win, default 0
inline constexpr char16_t DEFAULT_INPUT_A[] = u"AA9";
inline constexpr char16_t DEFAULT_INPUT_B[] = u"2QQJJ77553";

// The section, opened afresh for every read and write and written through
// when it goes, so a crash loses nothing and a second instance sees the
// latest values.
class Section : public QSettings {
 public:
  Section()
      : QSettings(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(ORGANISATION),
                  QString::fromLatin1(APPLICATION)) {
    beginGroup(QString::fromLatin1(SECTION));
  }
};

inline std::u16string readString(const char* key, const char16_t* fallback) {
  Section s;
  return s.value(QString::fromLatin1(key), QString::fromUtf16(fallback))
      .toString()
      .toStdU16String();
}

// A value that is not a number counts as missing.
inline int readInt(const char* key, int fallback) {
  Section s;
  bool ok = false;
  const int v = s.value(QString::fromLatin1(key), fallback).toInt(&ok);
  return ok ? v : fallback;
}

inline void writeString(const char* key, const std::u16string& value) {
  Section s;
  s.setValue(QString::fromLatin1(key), QString::fromStdU16String(value));
}

inline void writeInt(const char* key, int value) {
  Section s;
  s.setValue(QString::fromLatin1(key), value);
}

}  // namespace settings
