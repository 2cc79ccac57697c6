// CRfc2217Port: a COM line on another machine, reached over the network
// through an RFC 2217 server (such as ser2net), behind the same port
// interface as a local line. The line TAVRIX_COMn=rfc2217://HOST:PORT is
// served by this port.
//
// Open connects (at most CONNECT_MS, Escape ends the wait through the
// progress check), agrees COM-PORT-OPTION with the server, asks for modem
// state notifications and applies speed, framing, flow control, DTR and
// RTS; later mode changes, DTR pulses and purges become SET-* and
// PURGE-DATA commands. Reads never wait; received bytes are decoded into a
// small buffer. The modem status is what the server last notified (CTS, DSR
// and DCD on until then). A connection that ends or fails loses the line,
// as an unplugged adapter does; the next Open connects again.
#pragma once

#include "comm/commport.h"
#include "comm/rfc2217.h"
#include "platform/socket.h"

class CRfc2217Port : public CCommPort {
 public:
  // iIndex as for a serial port; pszAddress "rfc2217://HOST:PORT".
  CRfc2217Port(int iIndex, const char* pszAddress);
  ~CRfc2217Port() override;

  bool IsOpen() override;
  bool Open(int iBaud, int iFlags) override;
  int Close() override;
  int Read(void* pBuf, int iLen) override;
  int Write(const void* pData, int iLen) override;
  int GetTxPending() override;
  int GetTxFree() override;
  bool Purge(int iFlags) override;
  int GetBaudRate() override;
  bool WaitInput(int iMillis) override;
  bool Reopen() override;

  bool SetMode(int iBaud, int iFlags) override;
  int GetModemStatus() override;
  bool EscapeFunction(int iFunc) override;

  const CRfc2217Codec& GetCodec() const { return m_codec; }

  static const int CONNECT_MS = 5000;
  static const int STEP_MS = 20;     // the connect wait's step between progress checks
  static const int WRITE_MS = 1000;  // time limit of one write to the server
  static const int RX_SIZE = 4096;   // decoded bytes waiting to be read

 private:
  // Reads what the server sent, decodes it and sends the codec's answers;
  // false when the connection is gone (the line is then lost).
  bool Pump();
  bool Flush();
  void Lose(const char* pszWhy);
  void Fail(const char* pszWhy);
  bool Connect();

  bool m_bAddressOk;
  char m_szHost[256];
  int m_iTcpPort;
  PLATSOCKET m_hConn;
  CRfc2217Codec m_codec;
  int m_iBaud;
  BYTE m_abRx[RX_SIZE];
  int m_iRxHead;  // next byte to read
  int m_iRxLen;   // bytes waiting from m_iRxHead on
};
