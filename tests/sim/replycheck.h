// Readers of what the simulated modem sends: the sign-on lines, and a
// cutter for the base modem's addressed packets.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// One addressed packet or report from a base modem.
struct Packet {
  int iKind;  // 1 data, 2 connect, 3 disconnect, 0 the unused kind
  int iAddress;
  std::string strData;  // data, or the report's bytes
};

// Cuts a byte stream into packets; bytes before a start byte are skipped,
// an incomplete packet at the end stays in rstrRest.
inline std::vector<Packet> CutPackets(const std::string& s, std::string* pstrRest = nullptr) {
  std::vector<Packet> v;
  size_t i = 0;
  while (i < s.size()) {
    if (static_cast<uint8_t>(s[i]) != 0xE9) {
      ++i;
      continue;
    }
    if (i + 2 >= s.size()) break;
    uint8_t uHeader = static_cast<uint8_t>(s[i + 1]);
    int iKind = (uHeader >> 6) == 0 ? 1 : (uHeader >> 6) == 1 ? 0 : (uHeader >> 6);
    size_t iLen = iKind == 2 ? 2 : iKind == 3 ? 1 : static_cast<uint8_t>(s[i + 2]);
    size_t iData = (iKind == 2 || iKind == 3) ? i + 2 : i + 3;
    if (iData + iLen > s.size()) break;
    v.push_back(Packet{iKind, uHeader & 0x3F, s.substr(iData, iLen)});
    i = iData + iLen;
  }
  if (pstrRest) *pstrRest = s.substr(i);
  return v;
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
