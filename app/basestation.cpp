// Base station mode ("6. Act As Base"): the modem in the base role, its byte
// stream cut into addressed packets, each remote's test message frames
// reassembled and answered with a rotating letter, silent remotes forgotten
// after 30 seconds, until Escape. Each remote's traffic is counted; when the
// mode ends a summary page shows the counts and a CSV file keeps them.
#include <cstdint>
#include <cstdio>

#include "app/remotetable.h"
#include "app/runrecord.h"
#include "app/testmodem.h"
#include "comm/porttable.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "modem/packetreader.h"
#include "platform/clock.h"

namespace {

void ShowTimeout(int iAddress) {
  GuiPrintf("Timeout %d\n", iAddress);
}

void AnswerFrame(RemoteEntry* pEntry) {
  pEntry->MarkAnswer();
  RemoteCounts* pCounts = pEntry->pCounts;
  if (pCounts) pCounts->ullLastFrame = PlatSystemTimeFileTime();
  if (pEntry->iLength > PACKET_DATA_MAX) {
    if (pCounts) pCounts->dwRefused += 1;
  } else if (g_Modem.SendPacket(pEntry->byAddress, pEntry->iLength, pEntry->szFrame) && pCounts) {
    pCounts->dwAnswered += 1;
  }
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
      table.Counts(iAddress).dwConnects += 1;
      GuiPrintf("Connect %d\n", iAddress);
      break;
    case PACKET_KIND_DISCONNECT:
      table.Disconnect(iAddress);
      GuiPrintf("Disconnect %d\n", iAddress);
      break;
    default:
      break;
  }
}

// The idle wait between scans, in ticks of 10 ms: until the oldest remote's
// silence passes 30 seconds, so that its time-out is shown when it falls due;
// with no remote, a minute (the wait ends on anything that needs the loop).
int IdleTicks(const CRemoteTable& table, DWORD dwNow) {
  DWORD dwWait = 60000;
  for (int i = 0; i < table.GetCount(); ++i) {
    DWORD dwSilent = dwNow - table.GetEntry(i)->dwLastHeard;
    DWORD dwLeft = dwSilent > REMOTE_SILENCE_MS ? 0 : REMOTE_SILENCE_MS - dwSilent + 1;
    if (dwLeft < dwWait) dwWait = dwLeft;
  }
  return int((dwWait + 9) / 10);
}

// The wait for the rest of a packet whose iBytes are still to come: their
// time on the line at the port's speed (10 bits a byte), and 20 ms more, in
// ticks of 10 ms.
int RestTicks(int iBytes) {
  CCommPort* pPort = PortCurrent();
  int iBaud = pPort ? pPort->GetBaudRate() : 0;
  if (iBaud < 300) iBaud = 300;
  int iMillis = int(int64_t(iBytes) * 10000 / iBaud) + 20;
  return (iMillis + 9) / 10;
}

// The idle pause between scans: one wait of iTicks that ends when a byte
// (or, with an input threshold, the rest of a packet) arrives on the line,
// a key is pressed or a signal comes, and meanwhile keeps the screen
// painted. True when it ran its full time. A wait that ended early without a
// key, after which no byte could be read (hung up, or bytes on another line),
// is followed by the plain 100 ms pause, so the loop never spins.
bool IdlePause(int iTicks, bool* pbWokeEmpty) {
  if (*pbWokeEmpty) {
    PlatSleep(100);
    *pbWokeEmpty = false;
    return false;
  }
  DWORD dwStart = PlatTickCount();
  if (KbdWaitInput(iTicks)) return false;  // a key: the loop's keyboard check takes it
  if (PlatTickCount() - dwStart >= DWORD(iTicks) * 10u) return true;
  *pbWokeEmpty = true;  // cleared by the next byte
  return false;
}

// The end of the mode: one line per remote seen on a page of its own, the
// same as CSV in the runs folder, then a key.
void ShowSummary(const CRemoteTable& table, uint64_t ullStart) {
  CRunRecord record;
  record.Open("base", ullStart, REMOTE_CSV_HEADER);
  GuiClear();
  bool bAny = false;
  char szLine[REMOTE_LINE_SIZE];
  for (int i = 0; i < REMOTE_ADDRESSES; ++i) {
    const RemoteCounts& counts = table.GetCounts(i);
    if (!counts.bSeen) continue;
    if (!bAny) GuiPrintf("%s\n", REMOTE_SUMMARY_HEADER);
    bAny = true;
    GuiPrintf("%s\n", FormatRemoteLine(szLine, i, counts));
    record.WriteLine(FormatRemoteCsv(szLine, i, counts));
  }
  if (!bAny) GuiPrintf("No remote was heard\n");
  record.Close();
  ShowRecordLine(record);
  GuiPressAnyKey();
}

}  // namespace

bool CmdActAsBase() {
  GuiClear();
  if (!PrepareModem(true)) {
    PortSetCallback(nullptr);
    return false;
  }
  PortSetCallback(InitStageCallback);
  int iResult = g_Modem.LeaveCommandMode();
  if (iResult < 0) {
    ReasonBox(1, "Modem Not Working", FailureReason(iResult, "z>", "z>"));  // the one report of this failure
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
  uint64_t ullStart = PlatSystemTimeFileTime();
  bool bWokeEmpty = false;
  // Inside a packet the wait holds out for the rest of it, so that a frame
  // that reaches the line in pieces wakes the loop once. When the rest is
  // late (the wait ran its full time) every byte wakes it again until the
  // packet ends.
  int iThreshold = 1;
  bool bRestOverdue = false;
  // The line is read in chunks. A chunk that comes back short took all the
  // line had, so the loop goes on to wait rather than read once more for
  // nothing: the wait ends at once for bytes that came meanwhile.
  BYTE abIn[256];
  do {
    int n = PortRead(abIn, int(sizeof abIn));
    for (int i = 0; i < n; ++i) {
      if (reader.Feed(abIn[i])) OnPacket(table, reader);
      if (reader.GetBytesToCome() == 0) bRestOverdue = false;
    }
    if (n > 0) bWokeEmpty = false;
    bool bDrained = n < int(sizeof abIn);
    // A line lost meanwhile (an answer's write may have found it) is no
    // longer among those the wait watches: it is taken up again at once.
    if (bDrained && LineLost()) {
      if (!RecoverLine(true)) break;
      reader.Reset();
      iThreshold = 1;  // a line opened again wakes on every byte
      bRestOverdue = false;
      bWokeEmpty = false;  // the wake was the loss's: the new line is waited on at once
      continue;
    }
    if (bDrained) {
      table.ScanTimeouts(PlatTickCount(), ShowTimeout);
      int iToCome = bRestOverdue ? 1 : reader.GetBytesToCome();
      int iWant = iToCome < 1 ? 1 : iToCome > 255 ? 255 : iToCome;
      if (iWant != iThreshold && PortSetInputThreshold(iWant)) iThreshold = iWant;
      int iTicks = iThreshold > 1 ? RestTicks(iThreshold) : IdleTicks(table, PlatTickCount());
      if (IdlePause(iTicks, &bWokeEmpty) && iThreshold > 1) bRestOverdue = true;
    }
  } while (!KbdEscapePressed());
  if (iThreshold != 1) PortSetInputThreshold(1);
  ShowSummary(table, ullStart);
  return true;
}
