// Network connections: a TCP client connection to a named host, for lines
// reached over the network. Connecting runs in steps, so that the caller can
// look at the keyboard between them; reads never wait; waits wake when bytes
// arrive. POSIX uses BSD sockets, Win32 Winsock.
//
// A call on a null connection fails and leaves everything unchanged.
#pragma once

#include "wintypes.h"

typedef struct PlatSocketConn* PLATSOCKET;

// Starts connecting to pszHost (a name, an IPv4 address or an IPv6 address
// without brackets) at TCP port iPort: the name is resolved and the first
// address tried. Null when the name does not resolve or no connection can
// be started; pszWhy then receives the reason.
PLATSOCKET PlatSocketConnect(const char* pszHost, int iPort, char* pszWhy, int iWhySize);

// Waits up to dwMillis for the connection to be made, trying the further
// addresses of the name when one is refused: 1 connected, 0 not yet, -1
// failed for every address (pszWhy then receives the reason).
int PlatSocketWaitConnected(PLATSOCKET hConn, DWORD dwMillis, char* pszWhy, int iWhySize);

// Closes the connection. Null is ignored.
void PlatSocketClose(PLATSOCKET hConn);

// Reads up to iLen bytes that have arrived, without waiting: the count (0
// when nothing is there), -1 when the connection was closed by the other
// end or failed (pszWhy then receives the reason).
int PlatSocketRead(PLATSOCKET hConn, void* pBuf, int iLen, char* pszWhy, int iWhySize);

// Writes all iLen bytes, waiting for room up to dwMillis in all: the count
// written, -1 when the connection failed (pszWhy then receives the reason).
int PlatSocketWrite(PLATSOCKET hConn, const void* pData, int iLen, DWORD dwMillis, char* pszWhy,
                    int iWhySize);

// Waits up to dwMillis until bytes (or the end of the connection) can be
// read; true then.
bool PlatSocketWaitInput(PLATSOCKET hConn, DWORD dwMillis);
