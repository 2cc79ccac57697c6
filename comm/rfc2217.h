// CRfc2217Codec: the client side of the telnet COM-PORT option (RFC 2217)
// as a byte codec with no I/O. Bytes for the server are appended to an
// output buffer that the caller sends; bytes from the server go through Feed,
// which hands back the serial data and keeps what the server told us.
//
// Telnet: the client offers COM-PORT-OPTION (44) and BINARY both ways and
// accepts SUPPRESS-GO-AHEAD; every other option the server asks for is
// refused once. IAC (255) in data is doubled going out and undoubled coming
// in, inside subnegotiations too. Commands to the server: SET-BAUDRATE (1),
// SET-DATASIZE (2), SET-PARITY (3), SET-STOPSIZE (4), SET-CONTROL (5: flow
// control, DTR, RTS), SET-MODEMSTATE-MASK (11), PURGE-DATA (12). From the
// server: the replies to those (command + 100), NOTIFY-MODEMSTATE (107),
// whose high nibble is the CTS/DSR/RI/DCD state in the same bits as the
// Win32 modem status (0x10 CTS, 0x20 DSR, 0x40 RING, 0x80 DCD), and
// FLOWCONTROL-SUSPEND/RESUME (108/109). Subnegotiations of the wrong length,
// of unknown commands, of other options, or longer than the buffer are
// counted and dropped; the data stream goes on.
#pragma once

#include "wintypes.h"

#define TELNET_IAC 255
#define TELNET_DONT 254
#define TELNET_DO 253
#define TELNET_WONT 252
#define TELNET_WILL 251
#define TELNET_SB 250
#define TELNET_SE 240
#define TELNET_OPT_BINARY 0
#define TELNET_OPT_SGA 3
#define TELNET_OPT_COMPORT 44

// COM-PORT-OPTION commands, client to server; the server's answers add 100.
#define RFC2217_SET_BAUDRATE 1
#define RFC2217_SET_DATASIZE 2
#define RFC2217_SET_PARITY 3
#define RFC2217_SET_STOPSIZE 4
#define RFC2217_SET_CONTROL 5
#define RFC2217_NOTIFY_LINESTATE 6
#define RFC2217_NOTIFY_MODEMSTATE 7
#define RFC2217_FLOWCONTROL_SUSPEND 8
#define RFC2217_FLOWCONTROL_RESUME 9
#define RFC2217_SET_LINESTATE_MASK 10
#define RFC2217_SET_MODEMSTATE_MASK 11
#define RFC2217_PURGE_DATA 12
#define RFC2217_SERVER 100

// SET-CONTROL values used here.
#define RFC2217_CONTROL_FLOW_NONE 1
#define RFC2217_CONTROL_FLOW_HARDWARE 3
#define RFC2217_CONTROL_DTR_ON 8
#define RFC2217_CONTROL_DTR_OFF 9
#define RFC2217_CONTROL_RTS_ON 11
#define RFC2217_CONTROL_RTS_OFF 12
// SET-PARITY, SET-STOPSIZE and PURGE-DATA values.
#define RFC2217_PARITY_NONE 1
#define RFC2217_PURGE_RX 1
#define RFC2217_PURGE_TX 2
#define RFC2217_PURGE_BOTH 3

class CRfc2217Codec {
 public:
  static const int OUT_SIZE = 2048;  // bytes waiting for the server
  static const int SB_MAX = 32;      // longest subnegotiation kept

  CRfc2217Codec() { Reset(); }
  // Forgets everything: options, states, buffered output.
  void Reset();

  // The opening offer: WILL COM-PORT-OPTION, WILL BINARY, DO BINARY.
  void Start();

  // Serial data for the server, IAC doubled: the count of data bytes taken
  // (fewer when the output buffer is full).
  int PutData(const BYTE* pData, int iLen);
  // Commands; false when the output buffer has no room (nothing queued).
  bool SetBaudRate(DWORD dwBaud);
  bool SetDataSize(int iBits);
  bool SetParity(int iParity);
  bool SetStopSize(int iStopBits);
  bool SetControl(int iValue);
  bool SetModemStateMask(int iMask);
  bool PurgeData(int iWhich);

  // Bytes from the server: serial data goes to pData (room for iLen bytes
  // always suffices: data is never longer than its input); its count.
  // Telnet commands are acted on (answers queued to the output buffer).
  int Feed(const BYTE* pIn, int iLen, BYTE* pData);

  // The output buffer: bytes to send, and how many were sent.
  const BYTE* OutData() const { return m_abOut; }
  int OutLength() const { return m_iOutLen; }
  void OutConsumed(int iCount);

  // The server agreed to COM-PORT-OPTION (DO 44 to our WILL) / refused it.
  bool ComPortAgreed() const { return m_bComPortAgreed; }
  bool ComPortRefused() const { return m_bComPortRefused; }
  // NOTIFY-MODEMSTATE seen at least once, and its last value.
  bool ModemStateKnown() const { return m_bModemStateKnown; }
  int ModemState() const { return m_byModemState; }
  // The server asked us to hold our data (FLOWCONTROL-SUSPEND).
  bool Suspended() const { return m_bSuspended; }
  // The last baud rate the server confirmed (0: none yet).
  DWORD ServerBaudRate() const { return m_dwServerBaud; }
  // Counts, for tests and the diagnostic log: telnet commands and COM-PORT
  // replies understood, malformed or unknown subnegotiations dropped.
  int Replies() const { return m_iReplies; }
  int Malformed() const { return m_iMalformed; }

 private:
  enum State { DATA, IAC, OPTION, SB, SB_IAC };

  bool Queue(const BYTE* p, int iLen);
  bool QueueCommand(int iCommand, const BYTE* pValue, int iLen);
  void Negotiate(int iVerb, int iOption);
  void Subnegotiation();
  int OnCommand(BYTE b, BYTE* pData);

  State m_state;
  int m_iVerb;
  BYTE m_abSb[SB_MAX];
  int m_iSbLen;
  bool m_bSbOverflow;
  // Per option (0 to 255 would be wasteful): the three we may enable.
  bool m_bWillSent[3];  // we offered WILL (BINARY, SGA, COM-PORT)
  bool m_bUsEnabled[3];
  bool m_bHimEnabled[3];
  bool m_bDoSent[3];
  BYTE m_abRefused[32];  // bit per option: refused once already
  bool m_bComPortAgreed;
  bool m_bComPortRefused;
  bool m_bModemStateKnown;
  BYTE m_byModemState;
  bool m_bSuspended;
  DWORD m_dwServerBaud;
  int m_iReplies;
  int m_iMalformed;
  BYTE m_abOut[OUT_SIZE];
  int m_iOutLen;
};

// Splits "rfc2217://HOST:PORT" (HOST a name, an IPv4 address or a bracketed
// IPv6 address) into the host without brackets and the port (1 to 65535).
// False when the text is not such an address.
bool Rfc2217ParseAddress(const char* pszText, char* pszHost, int iHostSize, int* piPort);
