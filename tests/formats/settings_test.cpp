// Section "settings": what a fresh installation reads and how stored values come back.
#include "formats/settings.h"

#include <gtest/gtest.h>

#include "formats/global.h"
#include "test_files.h"

using namespace formats_test;

TEST(AppSettings, AFreshInstallationReadsTheDefaults) {
  ScratchDir dir;
  TAppSettings s(dir.File("none.ini"));
  EXPECT_EQ(s.OutPutDir(), DefaultOutputFolder());
  EXPECT_EQ(s.SnapOutPutDir(), DefaultOutputFolder());
  EXPECT_EQ(s.FormatCode(), 1);
  EXPECT_EQ(s.FormatName(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
  EXPECT_EQ(s.SkinIndex(), 0);
  EXPECT_EQ(s.Volume(), 0);
  EXPECT_FALSE(s.Mute());
  EXPECT_EQ(s.Priority(), 1);
  EXPECT_TRUE(s.SnapFullSize());
  EXPECT_TRUE(s.SnapSmallSize());
  EXPECT_TRUE(s.SnapBmp());
  EXPECT_TRUE(s.SnapJpg());
  EXPECT_EQ(s.JpgCmp(), 30);
}

TEST(AppSettings, StoredValuesComeBack) {
  ScratchDir dir;
  TAppSettings s(dir.File("s.ini"));
  s.SetOutPutDir("/media/out");
  s.SetFormatCode(2603);
  s.SetFormatName("H.264/MPEG-4 AVC Video (*.mp4)");
  s.SetMute(true);
  s.SetSnapBmp(false);
  s.SetJpgCmp(85);
  TAppSettings again(dir.File("s.ini"));
  EXPECT_EQ(again.OutPutDir(), "/media/out");
  EXPECT_EQ(again.FormatCode(), 2603);
  EXPECT_EQ(again.FormatName(), "H.264/MPEG-4 AVC Video (*.mp4)");
  EXPECT_TRUE(again.Mute());
  EXPECT_FALSE(again.SnapBmp());
  EXPECT_EQ(again.JpgCmp(), 85);
  EXPECT_EQ(again.Ini().ReadString(SettingsSection, "mute", ""), "1");
}

TEST(AppSettings, PreviewVolumeOutsideItsRangeShowsAsHalf) {
  ScratchDir dir;
  TAppSettings s(dir.File("s.ini"));
  const struct {
    int stored, shown;
  } cases[] = {{200, 64}, {-1, 64}, {129, 64}, {128, 128}, {0, 0}, {90, 90}};
  for (const auto &c : cases) {
    s.SetVolume(c.stored);
    EXPECT_EQ(s.PreviewVolume(), c.shown) << c.stored;
  }
}

TEST(AppSettings, PriorityWrittenByThePreferencesIsReadAtStart) {
  ScratchDir dir;
  WriteText(dir.File("s.ini"), "[Settings]\nPriority=3\n");
  EXPECT_EQ(TAppSettings(dir.File("s.ini")).Priority(), 3);
}

TEST(AppSettings, PickerGroupsStartCollapsedAndKeepTheirState) {
  ScratchDir dir;
  TAppSettings s(dir.File("s.ini"));
  EXPECT_TRUE(s.GroupCollapsed(21));
  s.SetGroupCollapsed(21, false);
  s.SetGroupCollapsed(0, true);
  EXPECT_FALSE(TAppSettings(dir.File("s.ini")).GroupCollapsed(21));
  EXPECT_TRUE(TAppSettings(dir.File("s.ini")).GroupCollapsed(0));
  EXPECT_TRUE(TAppSettings(dir.File("s.ini")).GroupCollapsed(5));
  EXPECT_EQ(s.Ini().ReadString("LSTFORMAT", "21", ""), "0");
}
