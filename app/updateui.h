// The update notice's side of the dialog: the web panel in its place
// (control 1004) with its three events, the page opener of the desktop, the
// navigation on ID_UPDATE_INFO and the start of the update thread.
//
// Everything here runs on the user-interface thread.
#pragma once

#include <QObject>

class CWebBrowser2;
class QWidget;

namespace updateui {

// Before the QApplication exists: what Qt WebEngine needs (a shared OpenGL
// context; as root, Chromium's sandbox off, as it refuses to start otherwise).
void prepareApplication();

// Opens pages through QDesktopServices, then the system browser where one is
// installed; OpenPage may be called from any thread.
void installPageOpener();

// The browser in the panel's place, or null before the first navigation.
CWebBrowser2* webPanel(QWidget* place);

// Puts the browser into the panel's place and handles its events:
//  - a navigation error navigates to n_adpage again while fewer than 10
//    errors were counted in navigateErrors, and counts one more;
//  - before a navigation: nothing;
//  - a new window: cancelled; the link's "href" goes to OpenPage.
CWebBrowser2* installWebPanel(QWidget* place, int& navigateErrors);

// ID_UPDATE_INFO: the panel shows n_adpage when it has 6 characters or more.
// The browser is made on this first navigation: until then the place stays
// blank, and a run without an ad page never starts the browser engine.
void navigateAdPage(QWidget* place, int& navigateErrors);

// sm.hwnd and the update thread, once per run.
void startUpdateThread(QWidget* dialog);

}  // namespace updateui
