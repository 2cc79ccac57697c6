// The terminal's key decoder: what ncurses reports becomes the key messages
// of a window, and through the keyboard filter the terminal key codes.
#include <gtest/gtest.h>

#include <curses.h>

#include <vector>

#include "kelgui/kelkbd.h"
#include "platform/posix/screen_backend.h"

namespace {

// The key codes a terminal key yields after the keyboard filter.
std::vector<int> CodesOf(int iKey) {
  UINT auMsg[2];
  WPARAM awParam[2];
  int n = ScreenTerminalKey(iKey, auMsg, awParam);
  CKeyboard kbd;
  for (int i = 0; i < n; ++i) kbd.FilterMessage(auMsg[i], awParam[i], 1);
  std::vector<int> aiCodes;
  while (!kbd.IsEmpty()) aiCodes.push_back(kbd.GetKey());
  return aiCodes;
}

TEST(TerminalKeys, BecomeTheKeyCodesOfTheWindow) {
  // DEL from the terminal is Backspace; Delete is its own key.
  const int aaiCases[][2] = {
      {'a', 'A'},     {'5', '5'},      {127, 8},        {8, 8},          {KEY_BACKSPACE, 8}, {'\r', 13},
      {'\n', 13},     {KEY_ENTER, 13}, {'\t', 9},       {27, 27},        {KEY_UP, 19},       {KEY_DOWN, 11},
      {KEY_LEFT, 14}, {KEY_RIGHT, 26}, {KEY_PPAGE, 43}, {KEY_NPAGE, 45}, {KEY_DC, 127}};
  for (const auto& c : aaiCases) EXPECT_EQ(CodesOf(c[0]), std::vector<int>{c[1]}) << c[0];
  EXPECT_TRUE(CodesOf(KEY_F(1)).empty());
}

TEST(TerminalKeys, HomeAndEndGoOnToTheFocusWindow) {
  // Not queued (CodesOf is empty) but key messages that the list box reads.
  UINT auMsg[2];
  WPARAM awParam[2];
  for (int iKey : {KEY_HOME, KEY_END}) {
    EXPECT_TRUE(CodesOf(iKey).empty());
    ASSERT_EQ(ScreenTerminalKey(iKey, auMsg, awParam), 2);
    EXPECT_EQ(auMsg[0], WM_KEYDOWN);
    EXPECT_EQ(awParam[0], WPARAM(iKey == KEY_HOME ? VK_HOME : VK_END));
  }
}

}  // namespace
