// The update check: once per run, a background thread fetches the update
// document from the first of three servers that answers, keeps what it says
// in the identity record `sm`, logs its message, offers the download page
// when the published version is newer, and asks the dialog to refresh.
//
// A failed check is silent apart from the fetch's debug lines. With no
// server configured it fails at once and sends nothing, not even a lookup.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/thread.h"

namespace zelk {

class XmlDoc;

inline constexpr std::size_t SM_VERSION_UNITS = 128;
inline constexpr std::size_t SM_TEXT_UNITS = 1024;
inline constexpr uint32_t UPDATE_RECV_BYTES = 204800;  // recvBuf
inline constexpr std::size_t UPDATE_TEXT_UNITS =
    102400;  // the decoded document with its terminator

// The program's identity and what the update document said. Only the update
// thread writes `state` and the n_ fields; the dialog reads them after
// ID_UPDATE_INFO reaches it. Each text is zero-terminated.
struct IdentityRecord {
  std::atomic<int32_t> state;  // 0 not checked yet, 1 document read, -1 check failed
  void* hwnd;                  // the main window, kept for the front end's own use
  char16_t ver[SM_VERSION_UNITS];
  char16_t name[SM_TEXT_UNITS];
  char16_t email[SM_TEXT_UNITS];
  char16_t homepage[SM_TEXT_UNITS];
  char16_t credit[SM_TEXT_UNITS];
  char16_t n_ver[SM_VERSION_UNITS];
  char16_t n_message[SM_TEXT_UNITS];
  char16_t n_softpage[SM_TEXT_UNITS];
  char16_t n_adpage[SM_TEXT_UNITS];
  char16_t n_homepage[SM_TEXT_UNITS];
  char16_t n_email[SM_TEXT_UNITS];
};

extern IdentityRecord sm;

// Puts every field back to its default (tests).
void resetIdentityRecord();

// The three update servers as "host[:port]", empty for none. The build's
// configuration gives them; tests point them at 127.0.0.1.
void setUpdateServers(const std::string& first, const std::string& second,
                      const std::string& third);
std::string updateServer(int index);
// "http://SERVER/sm/zelks/CONFIG.xml"
std::u16string updateUrl(const std::string& server);

// Text order of versions: the first differing code unit decides, and a
// proper prefix is older. Equal versions are not newer.
bool isNewerVersion(std::u16string_view candidate, std::u16string_view running);

// True when url gave a non-empty UTF-8 document that loaded well-formed into doc.
bool LoadXmlFromUrl(const std::u16string& url, XmlDoc& doc);
// Reads the update document into the n_ fields; true when one with a ROOT
// element was read.
bool GetUpdateInfo();
// Shows the new-version prompt and waits for the answer; OK opens n_softpage.
void ShowUpdatePrompt();

// The update thread's body: one check about a second after it starts, then
// idle until stopUpdateCheck() or the end of the process.
void ThreadUpdateCheck();
ThreadHandle startUpdateCheck();
void stopUpdateCheck();

}  // namespace zelk
