// Opening a web page for the user.
//
// The pages come from a document fetched over plain HTTP, which anyone on
// the path can change, so only http:// and https:// URLs are opened; any
// other text (a file: URL, a path, a command) is refused and logged. Nothing
// goes through a shell: the default opener starts the desktop's handler and
// the system browser directly with the URL as their one argument.
#pragma once

#include <string>
#include <string_view>

namespace zelk {

class PageOpener {
 public:
  virtual ~PageOpener() = default;
  // Opens url with the desktop's default handler.
  virtual void openDefault(const std::u16string& url) = 0;
  // Opens url in the system browser; false when none is installed.
  virtual bool openBrowser(const std::u16string& url) = 0;
};

// The core's opener: `xdg-open URL`, then `x-www-browser URL` where it exists.
PageOpener& defaultPageOpener();
// The GUI replaces the opener with its own; nullptr restores the default.
void setPageOpener(PageOpener* opener);
PageOpener& pageOpener();

// An http:// or https:// URL with a host and no control characters.
bool isWebUrl(std::u16string_view url);

// Opens url with the default handler and then with the system browser,
// waiting 500 ms after each request; refuses anything but a web URL.
void OpenPage(const std::u16string& url);

}  // namespace zelk
