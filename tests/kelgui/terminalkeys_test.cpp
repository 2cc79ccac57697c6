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
  EXPECT_EQ(CodesOf('a'), std::vector<int>{'A'});
  EXPECT_EQ(CodesOf('5'), std::vector<int>{'5'});
  EXPECT_EQ(CodesOf(127), std::vector<int>{8});  // DEL from the terminal is Backspace
  EXPECT_EQ(CodesOf(8), std::vector<int>{8});
  EXPECT_EQ(CodesOf(KEY_BACKSPACE), std::vector<int>{8});
  EXPECT_EQ(CodesOf('\r'), std::vector<int>{13});
  EXPECT_EQ(CodesOf('\n'), std::vector<int>{13});
  EXPECT_EQ(CodesOf(KEY_ENTER), std::vector<int>{13});
  EXPECT_EQ(CodesOf('\t'), std::vector<int>{9});
  EXPECT_EQ(CodesOf(27), std::vector<int>{27});
  EXPECT_EQ(CodesOf(KEY_UP), std::vector<int>{19});
  EXPECT_EQ(CodesOf(KEY_DOWN), std::vector<int>{11});
  EXPECT_EQ(CodesOf(KEY_LEFT), std::vector<int>{14});
  EXPECT_EQ(CodesOf(KEY_RIGHT), std::vector<int>{26});
  EXPECT_EQ(CodesOf(KEY_PPAGE), std::vector<int>{43});
  EXPECT_EQ(CodesOf(KEY_NPAGE), std::vector<int>{45});
  EXPECT_EQ(CodesOf(KEY_DC), std::vector<int>{127});
  EXPECT_TRUE(CodesOf(KEY_F(1)).empty());
}

TEST(TerminalKeys, HomeAndEndGoOnToTheFocusWindow) {
  UINT auMsg[2];
  WPARAM awParam[2];
  ASSERT_EQ(ScreenTerminalKey(KEY_HOME, auMsg, awParam), 2);
  EXPECT_EQ(auMsg[0], WM_KEYDOWN);
  EXPECT_EQ(awParam[0], WPARAM(VK_HOME));
  CKeyboard kbd;
  EXPECT_FALSE(kbd.FilterMessage(auMsg[0], awParam[0], 1));  // dispatched, not queued
  ASSERT_EQ(ScreenTerminalKey(KEY_END, auMsg, awParam), 2);
  EXPECT_EQ(awParam[0], WPARAM(VK_END));
}

}  // namespace
