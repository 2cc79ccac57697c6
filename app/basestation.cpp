// Base station mode ("6. Act As Base"): the modem in the base role, its byte
// stream cut into addressed packets, each remote's test message frames
// reassembled and answered with a rotating letter, silent remotes forgotten
// after 30 seconds, until Escape.
#include <cstdio>

#include "app/remotetable.h"
#include "app/testmodem.h"
#include "comm/porttable.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "modem/packetreader.h"
#include "platform/clock.h"

namespace {

void ShowTimeout(int iAddress) { GuiPrintf("Timeout %d\n", iAddress); }

void AnswerFrame(RemoteEntry* pEntry) {
  pEntry->MarkAnswer();
  if (pEntry->iLength <= MODEM_PACKET_MAX) g_Modem.SendPacket(pEntry->byAddress, pEntry->iLength, pEntry->szFrame);
  GuiPrintf("%d=%s\n", pEntry->byAddress, FrameText(pEntry->szFrame, g_Modem.m_szFrame));
  pEntry->iLength = 0;
}

void OnPacket(CRemoteTable& table, const CPacketReader& reader) {
  int iAddress = reader.GetAddress();
  switch (reader.GetKind()) {
    case PACKET_KIND_DATA: {
      DWORD dwNow = PlatTickCount();
      // An entry that cannot be allocated: the packet that needed it is dropped.
      RemoteEntry* pEntry = table.FindOrAdd(iAddress, dwNow);
      if (pEntry &&
          pEntry->AddChunk(reinterpret_cast<const char*>(reader.GetData()), reader.GetLength(), dwNow))
        AnswerFrame(pEntry);
      break;
    }
    case PACKET_KIND_CONNECT:
      GuiPrintf("Connect %d\n", iAddress);
      break;
    case PACKET_KIND_DISCONNECT: {
      int i = table.Find(iAddress);
      if (i >= 0) table.RemoveSlot(i);
      GuiPrintf("Disconnect %d\n", iAddress);
      break;
    }
    default:
      break;
  }
}

// The idle pause between scans: up to 100 ms, ended early by a byte on the
// line. A line that reports input but gives no byte (hung up, or no line at
// all) gets the plain pause, so the loop never spins.
void IdlePause(bool* pbWokeEmpty) {
  if (*pbWokeEmpty) {
    PlatSleep(100);
    *pbWokeEmpty = false;
    return;
  }
  DWORD dwStart = PlatTickCount();
  if (PortWaitInput(100)) {
    *pbWokeEmpty = true;  // cleared as soon as a byte is read
    return;
  }
  DWORD dwSpent = PlatTickCount() - dwStart;
  if (dwSpent < 100) PlatSleep(100 - dwSpent);
}

}  // namespace

bool CmdActAsBase() {
  GuiClear();
  if (!PrepareModem(true)) {
    PortSetCallback(nullptr);
    return false;
  }
  PortSetCallback(InitStageCallback);
  if (g_Modem.LeaveCommandMode() < 0) {
    PortSetCallback(nullptr);
    return false;
  }
  PortSetCallback(nullptr);
  GuiPrintf("Monitor Channel %d...\n", g_Modem.GetChannel());
  GuiUpdate();

  CRemoteTable table;
  CPacketReader reader;
  reader.Reset();
  if (KbdEscapePressed()) return true;
  bool bWokeEmpty = false;
  do {
    int c = PortReadByte();
    if (c < 0 && LineLost()) {
      if (!RecoverLine(true)) break;
      reader.Reset();
      continue;
    }
    if (c < 0) {
      table.ScanTimeouts(PlatTickCount(), ShowTimeout);
      IdlePause(&bWokeEmpty);
    } else {
      bWokeEmpty = false;
      if (reader.Feed(c)) OnPacket(table, reader);
    }
  } while (!KbdEscapePressed());
  return true;
}
