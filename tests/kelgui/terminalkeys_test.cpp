// Key sequences recorded from xterm, rxvt, the linux console and tmux/screen, whole and split at every byte,
// through the key decoder and the keyboard filter; and the decoder's fuzz target replayed over its corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/testenv.h"
#include "kelgui/kelkbd.h"
#include "platform/posix/screen_backend.h"
#include "platform/posix/termkeys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

// Results: a key code queued, a key that goes on to the focus window (the list's Home, End), a mouse report.
const int V = 0x1000;  // V + virtual key: not queued, dispatched
const int M = 0x2000;  // M + button: a mouse report
const int HOME = V + VK_HOME, END = V + VK_END, INS = V + VK_INSERT, F1 = V + VK_F1, F5 = V + VK_F1 + 4,
          F12 = V + VK_F12, UP = 19, DOWN = 11, LEFT = 14, RIGHT = 26, DEL = 127, PGUP = 43, PGDN = 45;

struct Case {
  const char* pszTerm;
  const char* pszKey;
  std::string strBytes;
  std::vector<int> aiExpected;
};

// clang-format off
const Case g_aCases[] = {
    // xterm: cursor keys in normal and application mode, keypad numeric and application.
    {"xterm", "Right", "\x1b[C", {RIGHT}},         {"xterm", "Left", "\x1b[D", {LEFT}},
    {"xterm", "Up (appl.)", "\x1bOA", {UP}},       {"xterm", "Home", "\x1b[H", {HOME}},
    {"xterm", "End", "\x1b[F", {END}},             {"xterm", "Home End (appl.)", "\x1bOH\x1bOF", {HOME, END}},
    {"xterm", "Insert", "\x1b[2~", {INS}},         {"xterm", "Delete", "\x1b[3~", {DEL}},
    {"xterm", "PgUp", "\x1b[5~", {PGUP}},          {"xterm", "PgDn", "\x1b[6~", {PGDN}},
    {"xterm", "F1", "\x1bOP", {F1}},               {"xterm", "F5", "\x1b[15~", {F5}},
    {"xterm", "F12", "\x1b[24~", {F12}},           {"xterm", "Shift+F1", "\x1b[1;2P", {F1}},
    {"xterm", "Shift+Up", "\x1b[1;2A", {UP}},      {"xterm", "Ctrl+Right", "\x1b[1;5C", {RIGHT}},
    {"xterm", "Shift+Del", "\x1b[3;2~", {DEL}},    {"xterm", "Alt+Up", "\x1b[1;3A", {}},
    {"xterm", "Alt+5", "\0335", {}},               {"xterm", "Alt+Backspace", "\x1b\x7f", {}},
    {"xterm", "Shift+Tab", "\x1b[Z", {9}},         {"xterm", "KP Enter (appl.)", "\x1bOM", {13}},
    {"xterm", "KP0 KP2 KP9 (appl.)", "\x1bOp\x1bOr\x1bOy", {'0', '2', '9'}},
    {"xterm", "KP- KP+ KP* KP/ KP.", "\x1bOm\x1bOk\x1bOj\x1bOo\x1bOn", {'-', '+', '*', '/', '.'}},
    {"xterm", "KP5 without NumLock", "\x1b[E", {}}, {"xterm", "Ctrl+S Ctrl+Q", "\x13\x11", {19, 17}},
    {"xterm", "Ctrl+a (modifyOtherKeys)", "\x1b[27;5;97~", {1}},
    {"xterm", "Alt+x (CSI u)", "\x1b[120;3u", {}}, {"xterm", "letters", "aZ5", {'A', 'Z', '5'}},
    {"xterm", "Backspace Enter Tab Ctrl+H Ctrl+J", "\x7f\r\t\x08\n", {8, 13, 9, 8, 13}},
    {"xterm", "e-acute (UTF-8)", "\xc3\xa9", {0xE9}}, {"xterm", "broken UTF-8", "\303a\xa9", {'A'}},
    {"xterm", "euro sign (UTF-8)", "\xe2\x82\xacx", {'X'}},
    {"xterm", "bracketed paste, then a key", "\x1b[200~ab\r\x1b[A\033c\tz\x1b[201~\x1b[B",
     {'A', 'B', 'A', 'C', 'Z', DOWN}},
    {"xterm", "mouse press (SGR)", "\x1b[<0;10;5M", {M + 0}},
    {"xterm", "mouse release (SGR)", "\x1b[<0;10;5m", {M + 0x100}},
    {"xterm", "mouse press (X10)", "\x1b[M !!", {M + 0}},
    {"xterm", "colour reply (OSC)", "\x1b]11;rgb:0000/0000/0000\x07x", {'X'}},
    {"xterm", "reply ended by ST", "\x1bP1$r0m\x1b\\y", {'Y'}},
    {"xterm", "device attributes reply", "\x1b[?64;1;2c", {}},
    {"rxvt", "Home", "\x1b[7~", {HOME}},           {"rxvt", "End", "\x1b[8~", {END}},
    {"rxvt", "F1", "\x1b[11~", {F1}},              {"rxvt", "Shift+Up", "\x1b[a", {UP}},
    {"rxvt", "Ctrl+Left", "\x1bOd", {LEFT}},       {"rxvt", "Shift+Delete", "\x1b[3$", {DEL}},
    {"rxvt", "Ctrl+Home", "\x1b[7^", {HOME}},      {"rxvt", "Ctrl+Shift+End", "\x1b[8@", {END}},
    {"rxvt", "Alt+Up", "\x1b\x1b[A", {}},          {"rxvt", "mouse press (1015)", "\x1b[32;10;5M", {M + 0}},
    // The linux console (tmux and screen send the same Home and End).
    {"linux", "Home", "\x1b[1~", {HOME}},          {"linux", "End", "\x1b[4~", {END}},
    {"linux", "F1", "\x1b[[A", {F1}},              {"linux", "F5", "\x1b[[E", {F5}},
    // Escape itself: a lone ESC once nothing followed.
    {"any", "Escape", "\x1b", {27}},               {"any", "Escape twice", "\x1b\x1b", {27, 27}},
    {"any", "Escape, then Alt+x", "\x1b\033x", {27}},    {"any", "unfinished sequence", "\x1b[1;", {}},
};
// clang-format on

// Feeds the bytes in two reads split at iSplit, waiting between them as long as the decoder asks (ExpiryMs):
// when it asks for nothing, the wait runs out (Expire). After the last read it runs out.
std::vector<int> Decode(const std::string& strBytes, size_t iSplit) {
  CTermKeyDecoder decoder;
  CKeyboard kbd;
  std::vector<int> aiOut;
  TermKey aKeys[CTermKeyDecoder::MAX_OUT];
  auto Take = [&](int nKeys) {
    for (int k = 0; k < nKeys; ++k) {
      if (aKeys[k].eKind == TK_MOUSE) aiOut.push_back(M + aKeys[k].iCode);  // a mouse report is no message
      UINT auMsg[2];
      WPARAM awParam[2];
      int nMsg = ScreenTerminalKey(aKeys[k], auMsg, awParam);
      for (int i = 0; i < nMsg; ++i)
        if (!kbd.FilterMessage(auMsg[i], awParam[i], 1) && auMsg[i] == WM_KEYDOWN)
          aiOut.push_back(V + int(awParam[i]));
      while (!kbd.IsEmpty()) aiOut.push_back(kbd.GetKey());
    }
  };
  for (size_t i = 0; i < strBytes.size(); ++i) {
    if (i == iSplit && decoder.ExpiryMs() == 0) Take(decoder.Expire(aKeys));
    Take(decoder.Feed(static_cast<unsigned char>(strBytes[i]), aKeys));
  }
  Take(decoder.Expire(aKeys));
  return aiOut;
}

// Catches: a key decoded wrongly, or as a stray Escape when its bytes come in two reads.
TEST(TerminalKeys, RecordedSequencesWholeAndSplitAtEveryByte) {
  for (const Case& c : g_aCases) {
    for (size_t iSplit = 0; iSplit <= c.strBytes.size(); ++iSplit) {
      EXPECT_EQ(Decode(c.strBytes, iSplit), c.aiExpected)
          << c.pszTerm << " " << c.pszKey << ", split at " << iSplit;
    }
  }
}

// Catches: a sequence cut by the short Escape delay.
TEST(TerminalKeys, OnlyALoneEscWaitsTheShortEscapeDelay) {
  CTermKeyDecoder decoder;
  TermKey aKeys[CTermKeyDecoder::MAX_OUT];
  decoder.Feed(0x1B, aKeys);
  EXPECT_EQ(decoder.ExpiryMs(), 25u);  // the Escape delay
  decoder.Feed('[', aKeys);
  EXPECT_GT(decoder.ExpiryMs(), 25u);  // a sequence may take longer to come in full
}

// Catches: a crash, hang or stray Escape of the decoder on libFuzzer's corpus, kept in the source tree.
TEST(TerminalKeys, FuzzTargetReplaysItsCorpus) {
  EXPECT_GT(testenv::ReplayCorpus(TERMKEYS_CORPUS, LLVMFuzzerTestOneInput), 100);
}

}  // namespace
