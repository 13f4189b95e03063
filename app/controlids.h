// The dialog's control ids, the one place they are written.
//
// Every control carries its id as its object name ("idc1000", ...), so the
// dialog's code and its tests address controls by id.
#pragma once

#include "rules/switches.h"

namespace ids {

inline constexpr int OK = 1;  // the template's OK and Cancel, kept hidden
inline constexpr int CANCEL = 2;
inline constexpr int START = 1000;        // image button, bitmap 133
inline constexpr int PLAYER1 = 1001;      // player1's hand (plays second)
inline constexpr int PLAYER2 = 1002;      // player2's hand (leads)
inline constexpr int WEB_PANEL = 1004;    // the update notice's web panel
inline constexpr int LOG_VIEW = 1034;     // the log view
inline constexpr int STOP = 1035;         // image button, bitmap 132
inline constexpr int NOTATION = 1036;     // the card notation, in blue
inline constexpr int NAME = 1037;         // identity texts: name and version,
inline constexpr int CONTACT = 1038;      // contact,
inline constexpr int CREDIT = 1039;       // credit and home page
inline constexpr int DEBUG_BOX = 1041;    // hidden debug switches: F_DEBUG,
inline constexpr int U1F_BOX = 1043;      // F_U1F,
inline constexpr int LOG_BOX = 1055;      // F_LOG
inline constexpr int DUMP = 1044;         // the small debug-dump button
inline constexpr int FAST_ENGINE = 1061;  // the fast engine's box
inline constexpr int PRACTICE = 1062;     // the practice box: the next free id

inline constexpr int DEBUG_BOXES[3] = {DEBUG_BOX, U1F_BOX, LOG_BOX};

// The rule switches' check boxes, in the order of zelk::RULE_SWITCHES.
inline constexpr int RULE_SWITCH_BOXES[zelk::RULE_SWITCH_COUNT] = {
    1012, 1013, 1014, 1016, 1015, 1017, 1019, 1021, 1025, 1020, 1022, 1023, 1024};
// The same boxes in the order the dialog lays them out, three a row.
inline constexpr int RULE_SWITCH_LAYOUT[zelk::RULE_SWITCH_COUNT] = {
    1012, 1013, 1014, 1016, 1020, 1022, 1023, 1024, 1015, 1017, 1019, 1021, 1025};

// The inputs a solve disables and its end enables again, in this order:
// the start button, both hands, the thirteen rule switches.
inline constexpr int INPUTS[16] = {START, PLAYER1, PLAYER2, 1012, 1013, 1014, 1016, 1015,
                                   1017,  1019,    1021,    1025, 1020, 1022, 1023, 1024};

}  // namespace ids
