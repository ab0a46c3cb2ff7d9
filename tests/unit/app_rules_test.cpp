#include <gtest/gtest.h>

#include "app/StartupRules.h"
#include "app/StatusLine.h"
#include "app/WindowPlacement.h"

using namespace tovik;

TEST(AppRules, Windows8OrLaterFlag) {
  struct Case { unsigned major, minor; bool expected; };
  const Case cases[] = {{5, 1, false}, {6, 1, false}, {6, 2, true}, {6, 3, true}, {7, 0, false}, {10, 0, true}};
  for (const Case& c : cases) EXPECT_EQ(IsWindows8OrLater(c.major, c.minor), c.expected) << c.major << "." << c.minor;
}

TEST(AppRules, FoldersFollowTheShell) {
  EXPECT_EQ(RecordingFolderFor(L"C:\\Users\\u\\Documents"), L"C:\\Users\\u\\Documents\\Tovik Skype Recorder");
  EXPECT_EQ(DataFolderFor(L"C:\\Users\\u\\AppData\\Roaming"), L"C:\\Users\\u\\AppData\\Roaming\\Tovik\\");
  EXPECT_EQ(RecordingFolderFor(L""), L"");
  EXPECT_EQ(DataFolderFor(L""), L"");
}

TEST(AppRules, HisPosIsUsedOnlyWhenWholeAndWithinTheWorkArea) {
  const Rect window{0, 0, 300, 120};
  const Rect work{0, 0, 1024, 738};
  EXPECT_EQ(RestoredPlacement(L"40,50,999,999", window, work), (Rect{40, 50, 340, 170}));
  for (const wchar_t* bad : {L"", L"40,50,100", L"-5,50,100,100", L"a,b,c,d", L"40,50,100,100,7", L"900,700,1,1"})
    EXPECT_FALSE(RestoredPlacement(bad, window, work).has_value()) << bad;
  EXPECT_EQ(FormatHisPos(Rect{-8, 3, 312, 140}), L"-8,3,312,140");
}

TEST(AppRules, DurationDisplay) {
  EXPECT_EQ(DurationText(0, STATUS_INIT).text, L"Waiting...");
  EXPECT_EQ(DurationText(0, STATUS_INIT).colour, (Rgb{255, 0, 0}));
  EXPECT_EQ(DurationText(0, STATUS_READY).text, L"Ready");
  EXPECT_EQ(DurationText(0, STATUS_READY).colour, (Rgb{0, 255, 0}));
  EXPECT_EQ(DurationText(3725, STATUS_RECORDING).text, L"01:02:05");
  EXPECT_EQ(DurationText(3725, STATUS_RECORDING).colour, (Rgb{236, 0, 0}));
  EXPECT_EQ(DurationText(86400 + 61, STATUS_PAUSED).text, L"00:01:01");  // hours within the day
  EXPECT_EQ(StatusFor(STATUS_PAUSED).text, L"Recording pause ...");
  EXPECT_EQ(StatusFor(STATUS_RECORDING).colour, (Rgb{226, 0, 0}));
}
