// A fresh headless 80 x 25 screen and terminal object for every test, steps run while it waits for a key.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kelgui/cgui.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "platform/screen_headless.h"

// The screen (PlatHeadlessSnapshot) equals strExpected, less a leading newline; a mismatch shows both.
inline ::testing::AssertionResult ScreenIs(std::string strExpected, bool bReverse = false) {
  if (!strExpected.empty() && strExpected[0] == '\n') strExpected.erase(0, 1);
  std::string strShown = PlatHeadlessSnapshot(bReverse);
  if (strShown == strExpected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the screen:\n" << strShown << "\nexpected:\n" << strExpected;
}

// The caret shows at column iCol of row iRow, as a block or (bBlock false) a bar.
inline ::testing::AssertionResult CaretIs(int iCol, int iRow, bool bBlock) {
  int iC = -1, iR = -1;
  bool bB = !bBlock;
  if (PlatHeadlessCaret(&iC, &iR, &bB) && iC == iCol && iR == iRow && bB == bBlock)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the caret: " << iC << ", " << iR << (bB ? ", block" : ", bar");
}

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Start(80, 25, -1);
    PlatHeadlessSetIdleHook(&GuiTest::OnIdle, this);
  }
  void TearDown() override {
    PlatHeadlessSetIdleHook(nullptr, nullptr);
    GuiExit();
  }

  // Steps run, one each, when the screen waits for a key and nothing is
  // scripted (it is painted by then); with none left the terminal hangs up.
  static void OnIdle(void* pv) {
    GuiTest* p = static_cast<GuiTest*>(pv);
    if (p->m_iStep < p->m_vSteps.size()) p->m_vSteps[p->m_iStep++]();
  }
  void AtIdle(std::function<void()> fn) { m_vSteps.push_back(std::move(fn)); }

  void Start(int cx, int cy, int iRows) {
    PlatHeadlessStart(cx, cy);
    KbdFlush();
    m_hWnd = GuiInit(nullptr, iRows, "Tavrix");
    ASSERT_NE(m_hWnd, nullptr);
    m_pGui = GuiGet();
    KbdPump(1);  // the first paint; the polling throttle starts from here
  }

  // Row r of the local page (the text model, painted or not), empty cells as spaces.
  std::string PageRow(int r) const {
    const char* p = m_pGui->GetPageText();
    const int cx = m_pGui->GetColumns();
    std::string str;
    for (int c = 0; c < cx; ++c) str += p && p[r * cx + c] ? p[r * cx + c] : ' ';
    return str;
  }
  static std::string Blank(size_t n) { return std::string(n, ' '); }

  HWND m_hWnd = nullptr;
  CGui* m_pGui = nullptr;
  std::vector<std::function<void()>> m_vSteps;
  size_t m_iStep = 0;
};
