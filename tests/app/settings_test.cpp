// The saved settings: written for the user, read from the user's key first and from the machine's (older
// installs) when the user's value is missing or unreadable.
#include <gtest/gtest.h>

#include "app/testmodem.h"
#include "platform/registry.h"

namespace {
void Forget() {
  for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (const char* psz : {"PORT", "CHANNEL"})
      RegWriteValue(hRoot, TAVRIX_REG_KEY, psz, nullptr, 0, REG_DWORD);
}
}  // namespace

// Catches: the machine's value read first, a damaged value taken, no fall-back to the default,
// settings saved for the machine or not at all.
TEST(Settings, ReadUserFirstThenMachineThenDefaultAndSavedForTheUser) {
  struct Case {
    int iUserChannel;     // -1 none, -2 a damaged (string) value
    int iMachineChannel;  // -1 none
    int iExpected;
  };
  const Case aCases[] = {
      {-1, -1, MODEM_NO_CHANNEL}, {7, -1, 7}, {-1, 5, 5}, {7, 5, 7}, {-2, 5, 5}, {-2, -1, MODEM_NO_CHANNEL},
  };
  for (const Case& c : aCases) {
    Forget();
    if (c.iUserChannel >= 0)
      RegWriteDword(HKEY_CURRENT_USER, TAVRIX_REG_KEY, "CHANNEL", DWORD(c.iUserChannel));
    if (c.iUserChannel == -2) RegWriteValue(HKEY_CURRENT_USER, TAVRIX_REG_KEY, "CHANNEL", "12", 3, REG_SZ);
    if (c.iMachineChannel >= 0)
      RegWriteDword(HKEY_LOCAL_MACHINE, TAVRIX_REG_KEY, "CHANNEL", DWORD(c.iMachineChannel));
    CTestModem modem;
    modem.LoadSettings();
    EXPECT_EQ(c.iExpected, modem.GetChannel()) << c.iUserChannel << "/" << c.iMachineChannel;
  }
  // Saved for the user only: the machine's key needs an administrator.
  Forget();
  CTestModem modem;
  modem.m_iPort = 0;
  modem.SetChannel(9);
  modem.SaveSettings();
  DWORD dwPort = 99, dwChannel = 99;
  EXPECT_EQ(0, RegReadDword(HKEY_CURRENT_USER, TAVRIX_REG_KEY, "PORT", &dwPort));
  EXPECT_EQ(0, RegReadDword(HKEY_CURRENT_USER, TAVRIX_REG_KEY, "CHANNEL", &dwChannel));
  EXPECT_EQ(0u, dwPort);
  EXPECT_EQ(9u, dwChannel);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegReadDword(HKEY_LOCAL_MACHINE, TAVRIX_REG_KEY, "CHANNEL", &dwChannel));
}
