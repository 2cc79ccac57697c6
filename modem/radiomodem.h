// CRadioModem: the driver of one WIT2410 radio modem on one port of the port
// table. It holds the link state (found, in command mode, configured), the
// settings that the bring-up applies (channel, base role), the serial number
// read from the modem's sign-on and the text of the last reply.
//
// The command dialogue: a command line ended by a line feed, a reply collected
// byte by byte under two time-outs (ticks of 10 ms) and an end rule, every
// wait abortable through the port's progress callback. The bring-up resets
// the modem by DTR, searches the line speed, enters command mode, applies the
// settings and moves modem and port to 115,200 bit/s. The data path leaves
// command mode and writes raw data or addressed packets.
//
// Modem result: 0 or more success (a read gives the reply length), -1 failure
// (no reply or a wrong one, a port that cannot be opened, no carrier), -27
// aborted (Escape, a closed window, the progress callback refusing, or a
// command line that cannot be written during the bring-up). Every failed
// exchange clears the link state (Invalidate), so the next command starts
// again with a full bring-up.
#pragma once

#include "wintypes.h"

class CCommPort;

#define MODEM_OK 0
#define MODEM_FAIL (-1)
#define MODEM_ABORT (-27)

#define MODEM_REPLY_SIZE 256  // reply buffer; at most MODEM_REPLY_MAX characters
#define MODEM_REPLY_MAX 254
#define MODEM_NO_CHANNEL 255  // stored channel before any SetChannel

// The time source of the driver's waits: the platform's millisecond tick
// count and plain sleep by default. Tests substitute a clock they drive.
class CModemClock {
 public:
  virtual ~CModemClock() {}
  virtual DWORD TickCount();           // milliseconds, wrapping at 2^32
  virtual void Sleep(DWORD dwMillis);  // pause the full time
};

class CRadioModem {
 public:
  CRadioModem();
  virtual int Initialise();  // full bring-up unless configured and found
  virtual ~CRadioModem();

  // Port attachment.
  bool AttachPort(CCommPort* pPort);
  int SelectPort(int iPortIndex);
  int OpenPort();
  int Close();
  void Invalidate();
  bool HasCarrier();
  CCommPort* GetPort() const { return m_pPort; }

  // Waits and the command exchange. Delay pauses the full iTicks x 10 ms in
  // steps of 20 ms, with Progress(0, &step ticks) before each step; false
  // (at once) when a progress check says stop. ReadReply's polling steps
  // end early when a byte arrives on the port (WaitInput).
  bool Delay(int iTicks);
  int ReadReply(int iFirstTimeout, int iNextTimeout, int iEndChar);
  const char* GetReply() const { return m_szReply; }
  int GetReplyLength() const { return m_iReplyLen; }
  int Send(const char* psz);
  int SendAndRead(const char* psz, int iFirstTimeout, int iNextTimeout, int iEndChar);
  int SendCommand(const char* psz);
  int Command(const char* psz, int iFirstTimeout, int iNextTimeout, int iEndChar);
  static int ParseHex(const char* psz);

  // Settings and state for the application.
  // Brought up, on a line still open: a line that was lost (or closed)
  // took the modem's state with it.
  bool IsReady();
  BYTE GetChannel() const { return m_byChannel; }
  void SetChannel(int iChannel);
  void SetBaseMode(bool bBase);
  bool IsFound() const { return m_bFound; }
  bool IsCommandMode() const { return m_bCommandMode; }
  bool IsBaseSet() const { return m_bBaseSet; }
  DWORD GetSerial() const { return m_dwSerial; }
  // Bytes the replies took since the last search for the modem began: a
  // search that heard bytes but no modem had another device or noise.
  DWORD GetBytesHeard() const { return m_dwHeard; }

  // Bring-up steps. Each returns a modem result; what a failure leaves is
  // said with each.
  //
  // SetPortMode: opens the port if need be, purges it and applies speed and
  // mode flags (PORT_MODE_DTROFF holds the modem in reset and first clears
  // found, command mode and configured). The OpenPort result when the port
  // cannot be opened (the port's speed and flags unchanged); -1 when the
  // port refuses the mode.
  int SetPortMode(int iBaud, int iFlags);
  // ReadSignOn: reads the sign-on; a modem that signs on is found, its base
  // role and serial number are taken (a serial number other than 0 is also
  // stored in the registry). -27 aborted; otherwise the first line's read
  // result when no line came at all (-1), else 0, also for a line that is
  // no sign-on: then found, base role and serial number stay as they were.
  int ReadSignOn(int iFirstTimeout, int iNextTimeout);
  // EnterCommandMode: 0 at once when found and in command mode; else sends
  // ":wit2410" and waits for the prompt. -27 aborted (or the line could not
  // be written), -1 no prompt: found and command mode stay as they were.
  int EnterCommandMode();
  // ResetModem: with PORT_MODE_DTROFF, the reset (step "Reset Modem", DTR
  // low for 500 ms, then high) and the sign-on; without it only the port's
  // speed and flags change. -27 aborted (the port may be left with DTR low),
  // -1 when the port could not be opened or set.
  int ResetModem(int iBaud, int iFlags);
  // FindModem: resets the modem and searches the speeds until it answers in
  // command mode; 0 then. -27 aborted (link state as far as the search got);
  // -1 when CTS is off after the reset under PORT_MODE_CTS or no speed
  // answers, with the link state cleared; OpenPort's result when the port
  // cannot be opened.
  int FindModem(int iFlags);
  // SendBaseMode, SendChannel: "wb1"/"wb0", "wnNN". 0 when the modem took
  // it, and the base role or channel is then stored; on failure (-1 short
  // reply, -27 aborted) the link state is cleared and the stored setting
  // stays as it was.
  int SendBaseMode(bool bOn);
  int SendChannel(int iChannel);
  // SetBaudRate: moves the modem ("sdNN") and then the port to iBaud and
  // checks the prompt at the new speed. -1 at once for a speed the modem
  // cannot divide from 230,400 (nothing sent, nothing changed). When the
  // modem does not acknowledge (-1, -27) the link state is cleared and the
  // port keeps its speed; when the port cannot follow, SetPortMode's result
  // with the link state as it was; when no prompt comes at the new speed,
  // -1 or -27 with the link state cleared and the port at the new speed.
  int SetBaudRate(int iBaud);

  // Data path.
  int GetSignalStrength();
  int FinishSetup();
  int LeaveCommandMode();
  int SendData(const void* pData, int iLen);
  bool SendPacket(int iAddress, int iLen, const void* pData);

  // The clock of the waits; null restores the platform clock.
  void SetClock(CModemClock* pClock);

 protected:
  CCommPort* m_pPort;
  bool m_bFound;
  bool m_bCommandMode;
  bool m_bConfigured;
  bool m_bBaseWanted;
  bool m_bBaseSet;
  BYTE m_byChannel;
  DWORD m_dwSerial;
  int m_iReplyLen;
  char m_szReply[MODEM_REPLY_SIZE];
  DWORD m_dwHeard;

  CModemClock* m_pClock;

 private:
  CRadioModem(const CRadioModem&) = delete;
  CRadioModem& operator=(const CRadioModem&) = delete;

  bool EndRuleHolds(int iEndChar) const;
  bool LineOpen();
  int Accept(int iResult, int iAtMost);
  int WaitStep(int iTicks, bool bPlain);
  CModemClock* Clock() const;
};
