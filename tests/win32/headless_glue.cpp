// What the POSIX window-system core needs around it when the Windows unit tests use it as their headless
// screen: there is no terminal to fall back on (a test selects the headless screen first), and no serial
// descriptors to wait on.
#include "platform/posix/screen_backend.h"
#include "platform/posix/serial_fds.h"

namespace {
class CNoTerminal : public CScreenBackend {
 public:
  bool Start(int*, int*) override { return false; }
  void Stop() override {}
  void Flush(const ScreenCell*, int, int, const bool*, const ScreenCaret&) override {}
  bool Wait(DWORD, const int*, int, const int*, int) override { return false; }
  DWORD Ticks() override { return GetTickCount(); }
  uint64_t FileTime() override { return 0; }
  void Bell() override {}
};
CNoTerminal g_noTerminal;
}  // namespace

CScreenBackend* ScreenCursesBackend() {
  return &g_noTerminal;
}

int PosixSerialInputFds(int*, int) {
  return 0;
}

int PosixSocketInputFds(int*, int) {
  return 0;
}

int PosixSerialWatchFds(int*, int) {
  return 0;
}

bool PosixSerialNoteHangUps() {
  return false;
}

bool PosixSerialBuffered() {
  return false;
}
