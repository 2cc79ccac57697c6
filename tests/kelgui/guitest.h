// A test fixture for the terminal library: a fresh headless 80 x 25 screen
// and a fresh terminal object on it for every test, and readers of the page
// buffers and of the screen.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kelgui/cgui.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "platform/screen_headless.h"

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

  // Row r of page iPage (-1: the local page), empty cells as spaces.
  std::string PageRow(int r, int iPage = -1) const {
    if (iPage < 0) iPage = m_pGui->m_iPageLocal;
    const char* p = m_pGui->m_apszPageText[iPage];
    std::string str;
    for (int c = 0; c < m_pGui->GetColumns(); ++c) {
      char ch = p ? p[r * m_pGui->GetColumns() + c] : 0;
      str += ch ? ch : ' ';
    }
    return str;
  }

  // The terminal's row after a paint, cut to the grid's width.
  std::string ScreenRow(int r) const { return PlatHeadlessRow(r).substr(0, size_t(m_pGui->GetColumns())); }
  static std::string Blank(size_t n) { return std::string(n, ' '); }

  HWND m_hWnd = nullptr;
  CGui* m_pGui = nullptr;
  std::vector<std::function<void()>> m_vSteps;
  size_t m_iStep = 0;
};
