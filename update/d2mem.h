// One HTTP GET into a buffer the caller owns.
//
// The update check fetches a small document and must never be steered
// elsewhere: the fetch follows no redirect (it reports the target on the
// debug log instead), bypasses every cache, and makes a single attempt.
// Its diagnostic lines appear on the log only while F_DEBUG is on.
#pragma once

#include <cstdint>
#include <string>

namespace zelk {

// The body is read in chunks of this size.
inline constexpr uint32_t D2MEM_CHUNK = 10240;

// Fetches url with plain HTTP, whatever its scheme says, to its port or the
// scheme's default one. On entry length is the buffer's capacity; more than 8
// bytes are needed. Returns 1 on a 200 answer: the body, cut to capacity - 8
// bytes, fills the first `length` bytes, and six zero bytes follow it. A 301,
// 302 or 303 answer also returns 1, with length 0 and nothing read. Every
// other outcome returns 0, and the buffer may then hold a partial copy.
int d2mem(const std::u16string& url, uint8_t* buffer, uint32_t& length);

// How many seconds a server that took the connection may send nothing before
// the fetch gives up (30 unless changed; 0 or less restores that). Tests
// shorten it.
void setD2memReceiveTimeout(long seconds);

}  // namespace zelk
