// The dialog's font. The desktop dialog asks for 宋体 (SimSun); Linux seldom
// has it, so the same request falls back to a CJK font that is installed
// (WenQuanYi Micro Hei comes with the setup script), else Chinese text would
// show as empty boxes.
#pragma once

#include <QFont>
#include <QStringList>

inline QFont uiFont(int pointSize) {
  QFont f;
  f.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                 QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                 QStringLiteral("Noto Sans SC"), QStringLiteral("Droid Sans Fallback")});
  f.setPointSize(pointSize);
  return f;
}
