// What the simulated modem sends: a reader of the sign-on lines, and the
// test message frame that a remote unit sends.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace replycheck {

struct SignOn {
  bool bFirstOk = false;
  bool bSecondOk = false;
  bool bBase = false;
  uint32_t uSerial = 0;
};

// The two sign-on lines (each ending in a carriage return).
inline SignOn CheckSignOn(const std::string& strFirst, const std::string& strSecond) {
  SignOn r;
  r.bFirstOk = !strFirst.empty() && strFirst[0] == 'W' &&
               strFirst.find("Digital Wireless") != std::string::npos && strFirst.back() == '\r' &&
               strFirst.size() <= 42;
  r.bSecondOk = strSecond.size() >= 16 && strSecond[0] == ':' && strSecond.back() == '\r';
  r.bBase = strSecond.size() > 1 && strSecond[1] == 'B';
  size_t i = strSecond.find('[');
  if (i != std::string::npos && i + 9 <= strSecond.size()) {
    auto hex = [&](size_t at) {
      return static_cast<uint32_t>(strtoul(strSecond.substr(at, 2).c_str(), nullptr, 16));
    };
    r.uSerial = (hex(i + 1) << 16) | (hex(i + 4) << 8) | hex(i + 7);
  } else {
    r.bSecondOk = false;
  }
  return r;
}

// A test message frame as the remote unit builds it.
inline std::string Frame(const std::string& strId, unsigned uSignal, int iNumber,
                         const std::string& strText) {
  char sz[300];
  snprintf(sz, sizeof sz, "%c%-2.2s %3.3u %2.2d %s\r\n%c", 2, strId.c_str(), uSignal, iNumber,
           strText.c_str(), 3);
  return sz;
}

}  // namespace replycheck
