// Where the program keeps its two INI files, and the global object's texts.
#include "formats/global.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "formats/settings.h"
#include "test_files.h"

using namespace formats_test;

TEST(GlobalObject, RightCharsTakesTheLastCharacters) {
  const struct {
    std::string text;
    int n;
    std::string expected;
  } cases[] = {
      {"c:\\videoconverter", 1, "r"}, {"abc", 2, "bc"}, {"abc", 3, "abc"}, {"abc", 10, "abc"},
      {"abc", 0, ""},                 {"abc", -2, ""},  {"", 3, ""},
      {"Кино", 2, "но"}, // characters, not bytes: a cut character would be broken text
  };
  for (const auto &c : cases)
    EXPECT_EQ(TGlobalObject::RightChars(c.text, c.n), c.expected) << c.text << " " << c.n;
}

TEST(GlobalObject, VersionTextJoinsMinorReleaseAndBuild) {
  EXPECT_EQ(TGlobalObject::FormatVersionText(1, 2, 3, 4), " 1.234 ");
  EXPECT_EQ(TGlobalObject::FormatVersionText(3, 3, 0, 0), " 3.300 ");
  // The build's own version reads as a decimal number for the update check.
  const std::string v = TGlobalObject::FileVersionText();
  ASSERT_GE(v.size(), 5u);
  EXPECT_EQ(v.front(), ' ');
  EXPECT_EQ(v.back(), ' ');
  EXPECT_GT(std::stod(v), 0.0);
}

TEST(GlobalObject, SettersIgnoreValuesThatAreTooShort) {
  TGlobalObject g;
  g.SetSettingsFile("/tmp/a.ini");
  g.SetSettingsFile("a.i"); // 3 characters: too short for a path
  EXPECT_EQ(g.SettingsFile(), "/tmp/a.ini");
  g.SetProfileFile("/tmp/p.ini");
  g.SetProfileFile("");
  EXPECT_EQ(g.ProfileFile(), "/tmp/p.ini");
  g.SetAppTitle("X");
  g.SetAppTitle("");
  EXPECT_EQ(g.AppTitle(), "X");
  for (auto set : {&TGlobalObject::SetVersionText, &TGlobalObject::SetHelpUrl,
                   &TGlobalObject::SetHomeUrl, &TGlobalObject::SetUpdateUrl})
    (g.*set)("");
  EXPECT_FALSE(g.VersionText().empty());
  EXPECT_FALSE(g.HelpUrl().empty());
  EXPECT_FALSE(g.HomeUrl().empty());
  EXPECT_FALSE(g.UpdateUrl().empty());
}

TEST(GlobalObject, SettingsLieBesideAWritableProgramFolder) {
  ScratchDir dir;
  EXPECT_EQ(SettingsFileFor(dir.Path()), dir.Path() + "/" + SettingsFileName);
}

TEST(GlobalObject, AnUnwritableProgramFolderSendsTheSettingsToTheUsersConfigFolder) {
  // An installed program's folder takes no files; its settings must still stick.
  ScratchDir dir;
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  const std::string file = SettingsFileFor("/proc");
  EXPECT_EQ(file, dir.Path() + "/marlo-video-converter/" + SettingsFileName);
  TAppSettings settings(file);
  settings.SetFormatCode(2102); // the folder is made on demand
  EXPECT_EQ(TAppSettings(file).FormatCode(), 2102);
}

TEST(GlobalObject, ConfigFolderFallsBackToDotConfig) {
  ScratchDir dir;
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(UserConfigFolder(), dir.Path() + "/.config/marlo-video-converter");
}

TEST(GlobalObject, StartUpPathsFollowTheEnvironmentOverrides) {
  setenv("MARLO_SETTINGS_FILE", "/tmp/own-settings.ini", 1);
  setenv("MARLO_PROFILE_FILE", "/tmp/own-profile.ini", 1);
  TGlobalObject g;
  EXPECT_EQ(g.SettingsFile(), "/tmp/own-settings.ini");
  EXPECT_EQ(g.ProfileFile(), "/tmp/own-profile.ini");
}

TEST(GlobalObject, ProfileIsTakenFromBesideTheProgramWhenThere) {
  unsetenv("MARLO_PROFILE_FILE");
  // The build copies the profile file beside the programs, the test program among them.
  ASSERT_TRUE(std::filesystem::exists(ExecutableFolder() + ProfileFileName));
  EXPECT_EQ(DefaultProfileFile(), ExecutableFolder() + ProfileFileName);
}

TEST(GlobalObject, OutputFolderIsInTheUsersVideosFolder) {
  ScratchDir dir;
  setenv("HOME", dir.Path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir.Path() + "/cfg").c_str(), 1);
  std::filesystem::create_directories(dir.Path() + "/cfg");
  EXPECT_EQ(DefaultOutputFolder(), dir.Path() + "/Videos/videoconverter");
  WriteText(dir.File("cfg/user-dirs.dirs"), "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
  EXPECT_EQ(DefaultOutputFolder(), dir.Path() + "/Filme/videoconverter");
}
