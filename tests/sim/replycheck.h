// The test message frame that a remote unit sends, for tests that talk to
// the simulated modem directly.
#pragma once
#include <cstdio>
#include <string>

namespace replycheck {

// A test message frame as the remote unit builds it.
inline std::string Frame(const std::string& strId, unsigned uSignal, int iNumber,
                         const std::string& strText) {
  char sz[300];
  snprintf(sz, sizeof sz, "%c%-2.2s %3.3u %2.2d %s\r\n%c", 2, strId.c_str(), uSignal, iNumber,
           strText.c_str(), 3);
  return sz;
}

}  // namespace replycheck
