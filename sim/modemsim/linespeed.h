// The host's line speed as the pty master sees it: the slave's termios,
// including speeds set through termios2 (BOTHER) such as 28800.
#pragma once

// The output speed in bit/s of the line behind iMasterFd; 0 when unknown.
int HostLineSpeed(int iMasterFd);
// Sets the slave's line raw (no echo, no translations) at iBaud; false on
// failure. Used once when a modem's pty is created.
bool MakeLineRaw(int iSlaveFd, int iBaud);
