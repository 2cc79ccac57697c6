// The on-air test message frame and the text helpers that the message test
// and the base station share, plus the repetition run's statistics. Pure
// functions: no I/O, no clock.
//
// Frame: STX, KV3 ID (2, space-padded), space, signal strength (3+ digits),
// space, message number (2+ digits), space, text, CR LF, ETX.
#pragma once

#include "modem/packetreader.h"

#define STX 0x02
#define ETX 0x03
#define FRAME_SIZE 256                    // m_szFrame, reply and text buffers (plus NUL)
#define MAX_MESSAGE_TEXT PACKET_DATA_MAX  // the text goes out in one packet

// Formats a frame into pszFrame (room for FRAME_SIZE bytes); returns its length.
int FormatFrame(char* pszFrame, const char* pszId, unsigned uStrength, int iMessage, const char* pszText);

// Copies the frame's text (after the STX, up to the first ETX, control bytes
// made spaces, trailing white space removed) to pszOut (room for FRAME_SIZE
// bytes); returns pszOut.
char* FrameText(const char* pszFrame, char* pszOut);

// Turns every control byte (below 0x20) of a received text into a space, so
// that the text shows on one line as it came: a bell, backspace, tab, CR or
// LF from the radio would otherwise ring, move the cursor or wipe the page.
void MaskControls(char* psz);

// Removes trailing white space (space, tab, LF, VT, FF, CR) in place.
void TrimRight(char* psz);

// Statistics of one repetition run.
struct TestStats {
  int iTries;
  int iMisses;
  int iMin;
  int iMax;
  float fAverage;
  int iBytes;
  int iElapsed;
};

// The counters wrap as 32-bit unsigned numbers would on endless runs.
void StatsReset(TestStats* pStats);
// A frame that the modem took in full.
void StatsSent(TestStats* pStats);
// A pass whose reply came: round trip iRoundTrip ms for a frame of iFrameLen.
// The pass has already been counted in iTries.
void StatsGoodPass(TestStats* pStats, int iRoundTrip, int iFrameLen);
// A pass without a good reply; returns the round trip to show (the average).
int StatsBadPass(TestStats* pStats);
