#include "update/d2mem.h"

#include <curl/curl.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/flags.h"
#include "base/output.h"
#include "platform/text.h"

namespace zelk {

namespace {

constexpr long CONNECT_TIMEOUT_MS = 2000;
constexpr int CONNECT_RETRIES = 1;
// A server that accepts and then goes silent would hold the update thread
// forever; a receive time-out like the desktop's own ends such a transfer.
constexpr long RECEIVE_TIMEOUT_S = 30;
std::atomic<long> receiveTimeoutS{RECEIVE_TIMEOUT_S};
constexpr std::size_t LOCATION_UNITS = 2048;
constexpr std::size_t ERROR_TEXT_UNITS = 1024;

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool debugOn() { return on(F_DEBUG); }

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (a != b) return false;
  }
  return true;
}

struct Transfer {
  CURL* curl = nullptr;
  const std::u16string* url = nullptr;
  uint8_t* buffer = nullptr;
  uint32_t capacity = 0;
  uint32_t length = 0;
  long status = 0;
  bool headersDone = false;
  bool stopped = false;  // the transfer was ended on purpose
  std::string location;

  void reset() {
    length = 0;
    status = 0;
    headersDone = stopped = false;
    location.clear();
  }
};

// Headers arrive line by line; the empty line ends them, and the status
// decides whether the body is read at all.
size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t len = size * count;
  std::string_view line(data, len);
  if (startsWithNoCase(line, "http/")) {  // a new header block (after a 1xx)
    t->location.clear();
  } else if (line == "\r\n" || line == "\n") {
    long code = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 100 && code < 200) return len;
    t->status = code;
    t->headersDone = true;
    if (code == 200) {
      if (debugOn()) LogPrint(u"HTTP_STATUS_OK[%s]\r\n", *t->url);
      return len;
    }
    t->stopped = true;  // redirects and failures read no body
    return 0;
  } else if (startsWithNoCase(line, "location:")) {
    std::string_view value = line.substr(9);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
      value.remove_suffix(1);
    try {
      t->location.assign(value);
    } catch (...) {
      return 0;  // nothing may leave a callback; the transfer ends as a write error
    }
  }
  return len;
}

// Copies each chunk behind the previous one and ends the transfer once the
// buffer holds capacity - 8 bytes: the rest of the body is never read.
size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t len = size * count;
  if (!t->headersDone || t->status != 200) {
    t->stopped = true;
    return 0;
  }
  const uint32_t limit = t->capacity - 8;
  if (t->length + len >= limit) {
    std::memcpy(t->buffer + t->length, data, limit - t->length);
    t->length = limit;
    t->stopped = true;
    return 0;
  }
  std::memcpy(t->buffer + t->length, data, len);
  t->length += static_cast<uint32_t>(len);
  return len;
}

// Server, port and object path of url, as a plain HTTP URL.
CURLUcode plainHttpUrl(const std::u16string& url, std::string& out) {
  CURLU* u = curl_url();
  if (!u) return CURLUE_OUT_OF_MEMORY;
  CURLUcode rc = curl_url_set(u, CURLUPART_URL, utf16ToUtf8(url).c_str(),
                              CURLU_NON_SUPPORT_SCHEME | CURLU_DEFAULT_SCHEME);
  char* host = nullptr;
  char* port = nullptr;
  char* path = nullptr;
  char* query = nullptr;
  if (rc == CURLUE_OK) rc = curl_url_get(u, CURLUPART_HOST, &host, 0);
  if (rc == CURLUE_OK) rc = curl_url_get(u, CURLUPART_PATH, &path, 0);
  if (rc == CURLUE_OK) {
    if (curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) != CURLUE_OK) port = nullptr;
    if (curl_url_get(u, CURLUPART_QUERY, &query, 0) != CURLUE_OK) query = nullptr;
    out = std::string("http://") + host + ":" + (port ? port : "80") + (path ? path : "/");
    if (query) out += std::string("?") + query;
  }
  curl_free(host);
  curl_free(port);
  curl_free(path);
  curl_free(query);
  curl_url_cleanup(u);
  return rc;
}

std::u16string cut(std::u16string text, std::size_t units) {
  if (text.size() >= units) text.resize(units - 1);
  return text;
}

void logLibraryError(int code, const char* text) {
  if (debugOn())
    LogPrint(u"d2mem catch CInternetException %d[%s]\r\n", code,
             cut(utf8ToUtf16(text), ERROR_TEXT_UNITS));
}

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

int fetch(CURL* curl, const std::u16string& url, uint8_t* buffer, uint32_t& length) {
  const uint32_t capacity = length;
  std::string target;
  if (CURLUcode uc = plainHttpUrl(url, target); uc != CURLUE_OK) {
    logLibraryError(CURLE_URL_MALFORMAT, curl_url_strerror(uc));
    return 0;
  }

  Transfer t;
  t.curl = curl;
  t.url = &url;
  t.buffer = buffer;
  t.capacity = capacity;
  char errorText[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, ListCleanup> headers;
  for (const char* line : {"Cache-Control: no-cache", "Pragma: no-cache", "Accept:"}) {
    curl_slist* longer = curl_slist_append(headers.get(), line);
    if (!longer) return 0;
    headers.release();
    headers.reset(longer);
  }

  curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "ZelkSolver");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, CONNECT_TIMEOUT_MS);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, receiveTimeoutS.load(std::memory_order_relaxed));
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(D2MEM_CHUNK));
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);

  CURLcode rc = CURLE_OK;
  for (int attempt = 0; attempt <= CONNECT_RETRIES; ++attempt) {
    t.reset();
    errorText[0] = 0;
    rc = curl_easy_perform(curl);
    // Only the connection is retried. A server that took the connection and
    // then fell silent has had its whole receive time-out already; asking it
    // again would hold the update thread twice as long for nothing.
    curl_off_t connectTime = 0;
    if (rc == CURLE_OPERATION_TIMEDOUT &&
        curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connectTime) != CURLE_OK)
      connectTime = 0;
    const bool connectFailed =
        rc == CURLE_COULDNT_CONNECT || (rc == CURLE_OPERATION_TIMEDOUT && connectTime == 0);
    if (!connectFailed) break;
  }

  int ok = 0;
  if (rc == CURLE_OK || (t.stopped && rc == CURLE_WRITE_ERROR)) {
    if (t.status == 200) {
      std::memset(buffer + t.length, 0, 6);
      length = t.length;
      ok = 1;
    } else if (t.status == 301 || t.status == 302 || t.status == 303) {
      if (debugOn()) {
        LogPrint(u"d2mem跳转[%s]\r\n", url);
        LogPrint(u"d2mem结果[%s]\r\n", cut(utf8ToUtf16(t.location), LOCATION_UNITS));
      }
      length = 0;
      ok = 1;
    } else if (debugOn()) {
      LogPrint(u"d2mem failed[dwStateCode %d]\r\n", static_cast<int>(t.status));
    }
  } else {
    logLibraryError(static_cast<int>(rc), errorText[0] ? errorText : curl_easy_strerror(rc));
  }
  return ok;
}

}  // namespace

void setD2memReceiveTimeout(long seconds) {
  receiveTimeoutS.store(seconds > 0 ? seconds : RECEIVE_TIMEOUT_S, std::memory_order_relaxed);
}

int d2mem(const std::u16string& url, uint8_t* buffer, uint32_t& length) {
  if (length <= 8) return 0;
  globalInit();
  std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) return 0;
  try {
    if (debugOn()) LogPrint(u"d..\r\n");
    return fetch(curl.get(), url, buffer, length);
  } catch (...) {
    if (debugOn()) LogPrint(u"d2mem catch\r\n");
    return 0;
  }
}

}  // namespace zelk
