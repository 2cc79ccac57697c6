// Reply latency of the modem driver: how far the round trip of a test
// message frame, as the caller of ReadReply sees it, lies above the true
// round trip that the simulator records (from the frame's last byte reaching
// the remote modem to the answer's last byte leaving it toward the host),
// with a set air latency. Prints the median and the worst excess.
//
//   modem_replylatency [--frames N] [--latency MS] [--poll-sleep]
//
// --poll-sleep runs the same with a port that cannot wait for input, so that
// every polling step sleeps its full 20 ms: the figure to compare against.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../tests/support/testenv.h"
#include "comm/porttable.h"
#include "modem/radiomodem.h"
#include "../benchutil.h"
#include "simsupport.h"

namespace {

struct PreloadSelf {
  PreloadSelf() { simsupport::PreloadShim(); }
} g_preloadSelf;

bool GoOn(int, const void*) {
  return true;
}

// A port that forwards everything to the serial port but cannot wait for
// input: the driver then paces its polling with plain 20 ms sleeps.
class CNoWaitPort : public CCommPort {
 public:
  explicit CNoWaitPort(CCommPort* pInner) : CCommPort(-1), m_pInner(pInner) {}
  bool Progress(int iCode, const void* pv) override { return m_pInner->Progress(iCode, pv); }
  bool IsOpen() override { return m_pInner->IsOpen(); }
  bool Open(int iBaud, int iFlags) override { return m_pInner->Open(iBaud, iFlags); }
  int Close() override { return m_pInner->Close(); }
  int Read(void* pBuf, int iLen) override { return m_pInner->Read(pBuf, iLen); }
  int Write(const void* pData, int iLen) override { return m_pInner->Write(pData, iLen); }
  int GetTxPending() override { return m_pInner->GetTxPending(); }
  int GetTxFree() override { return m_pInner->GetTxFree(); }
  bool Purge(int iFlags) override { return m_pInner->Purge(iFlags); }
  int GetBaudRate() override { return m_pInner->GetBaudRate(); }
  bool WaitInput(int) override { return false; }
  bool SetMode(int iBaud, int iFlags) override { return m_pInner->SetMode(iBaud, iFlags); }
  int GetModemStatus() override { return m_pInner->GetModemStatus(); }
  bool EscapeFunction(int iFunc) override { return m_pInner->EscapeFunction(iFunc); }

 private:
  CCommPort* m_pInner;
};

std::string Frame(int iNumber) {
  char sz[64];
  snprintf(sz, sizeof sz, "%cBM 045 %2.2d latency probe\r\n%c", 2, iNumber % 100, 3);
  return sz;
}

}  // namespace

int main(int argc, char** argv) {
  int iFrames = 100;
  int iLatency = 20;
  bool bPollSleep = false;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--frames") && i + 1 < argc)
      iFrames = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--latency") && i + 1 < argc)
      iLatency = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--poll-sleep"))
      bPollSleep = true;
    else {
      fprintf(stderr, "usage: %s [--frames N] [--latency MS] [--poll-sleep]\n", argv[0]);
      return 2;
    }
  }
  testenv::Isolate();  // no user settings, logs or devices are touched

  simsupport::CModemSim sim;
  std::string strDir = testenv::MakeDir("bench");
  if (!sim.Start(
          {"--modem", "name=com2,link=" + strDir + "/com2,baud=115200,latency=" + std::to_string(iLatency),
           "--sim-base", "12"},
          strDir)) {
    fprintf(stderr, "modemsim did not start:\n%s\n", sim.Output().c_str());
    return 1;
  }
  sim.UseLinesInThisProcess();
  setenv("TAVRIX_COM2", (strDir + "/com2").c_str(), 1);

  PortSelect(1, 0, 0);
  CCommPort* pSerial = PortGet(1);
  pSerial->SetCallback(GoOn);
  CNoWaitPort portNoWait(pSerial);
  CRadioModem modem;
  if (bPollSleep)
    modem.AttachPort(&portNoWait);
  else
    modem.SelectPort(1);
  pSerial->SetCallback(GoOn);
  modem.SetChannel(12);
  if (modem.Initialise() != 0 || modem.FinishSetup() != 0) {
    fprintf(stderr, "bring-up failed\n");
    return 1;
  }
  if (!testenv::WaitFor([&] { return modem.HasCarrier(); }, 5000)) {
    fprintf(stderr, "no carrier from the simulated base\n");
    return 1;
  }

  std::vector<double> vecSeen;
  for (int i = 0; i < iFrames; i++) {
    std::string strFrame = Frame(i);
    if (modem.SendData(strFrame.data(), (int)strFrame.size()) != (int)strFrame.size()) {
      fprintf(stderr, "frame %d not sent\n", i);
      return 1;
    }
    auto t0 = std::chrono::steady_clock::now();
    int iResult = modem.ReadReply(600, 100, 3);
    auto t1 = std::chrono::steady_clock::now();
    if (iResult != (int)strFrame.size()) {
      fprintf(stderr, "frame %d: no answer (%d)\n", i, iResult);
      return 1;
    }
    vecSeen.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }

  std::vector<double> vecTrue = bench::TrueRoundTrips(sim, strDir + "/stats.txt");
  if (vecTrue.size() != vecSeen.size()) {
    fprintf(stderr, "simulator recorded %zu round trips for %zu frames\n", vecTrue.size(), vecSeen.size());
    return 1;
  }
  std::vector<double> vecExcess;
  for (size_t i = 0; i < vecSeen.size(); i++) vecExcess.push_back(vecSeen[i] - vecTrue[i]);

  printf("modem reply latency: %d frames, air latency %d ms, %s\n", iFrames, iLatency,
         bPollSleep ? "plain 20 ms polling" : "polling wakes on input");
  printf("  true round trip  median %8.0f us  worst %8.0f us\n", bench::Percentile(vecTrue, 0.5),
         bench::Percentile(vecTrue, 1.0));
  printf("  seen by caller   median %8.0f us  worst %8.0f us\n", bench::Percentile(vecSeen, 0.5),
         bench::Percentile(vecSeen, 1.0));
  printf("  excess           median %8.0f us  worst %8.0f us\n", bench::Percentile(vecExcess, 0.5),
         bench::Percentile(vecExcess, 1.0));
  PortSetCallback(nullptr);
  modem.Close();
  sim.Stop();
  return 0;
}
