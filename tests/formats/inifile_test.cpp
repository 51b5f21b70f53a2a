// The INI rules every settings and profile read relies on: case, defaults, integer and
// boolean texts, immediate and crash-safe writes, and writes that fail out loud.
#include "formats/inifile.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "test_files.h"

using namespace formats_test;

TEST(IniFile, SectionAndKeyNamesIgnoreCase) {
  ScratchDir dir;
  TIniFile ini(dir.File("s.ini"));
  ini.WriteString("formatInfo5", "paraZoom", "pan");
  ini.WriteInteger("settings", "Priority", 3);
  EXPECT_EQ(ini.ReadString("FORMATINFO5", "parazoom", "lbox"), "pan");
  EXPECT_EQ(ini.ReadInteger("Settings", "priority", 1), 3);
  // A write under another spelling replaces the value instead of adding a second key.
  ini.WriteString("FormatInfo5", "PARAZOOM", "full");
  EXPECT_EQ(ini.ReadString("formatinfo5", "paraZoom", ""), "full");
  std::string text = ReadText(dir.File("s.ini"));
  for (char &ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_EQ(text.find("parazoom"), text.rfind("parazoom")) << text;
}

TEST(IniFile, MissingFileSectionOrKeyReadsTheCallersDefault) {
  ScratchDir dir;
  TIniFile none(dir.File("absent.ini"));
  EXPECT_EQ(none.ReadString("settings", "OutPutDir", "/x"), "/x");
  EXPECT_EQ(none.ReadInteger("settings", "volume", 64), 64);
  EXPECT_FALSE(std::filesystem::exists(dir.File("absent.ini"))) << "a read must not make the file";

  TIniFile ini(dir.File("s.ini"));
  ini.WriteString("settings", "Empty", "");
  EXPECT_EQ(ini.ReadString("settings", "Other", "def"), "def");
  EXPECT_EQ(ini.ReadString("elsewhere", "Empty", "def"), "def");
  EXPECT_EQ(ini.ReadString("settings", "Empty", "def"), "") << "an empty value is still a value";
  EXPECT_TRUE(ini.KeyExists("SETTINGS", "empty"));
  EXPECT_FALSE(ini.KeyExists("settings", "Other"));
}

TEST(IniFile, IntegerReadsTakeWholeNumbersOnly) {
  ScratchDir dir;
  TIniFile ini(dir.File("s.ini"));
  const struct {
    const char *text;
    int expected;
  } cases[] = {
      {"12", 12},    {"-7", -7},   {" 42 ", 42},  {"+5", 5},       {"12abc", 99},
      {"abc", 99},   {"1.5", 99},  {"", 99},      {"0x10", 99},    {"99999999999", 99},
      {"--3", 99},   {"+-3", 99},  {"0", 0},
  };
  for (const auto &c : cases) {
    ini.WriteString("s", "n", c.text);
    EXPECT_EQ(ini.ReadInteger("s", "n", 99), c.expected) << "text \"" << c.text << "\"";
  }
}

TEST(IniFile, BooleansAreWrittenAsDigitsAndReadAsNonZeroIntegers) {
  ScratchDir dir;
  TIniFile ini(dir.File("s.ini"));
  ini.WriteBool("s", "on", true);
  ini.WriteBool("s", "off", false);
  EXPECT_EQ(ini.ReadString("s", "on", ""), "1");
  EXPECT_EQ(ini.ReadString("s", "off", ""), "0");
  const struct {
    const char *text;
    bool def, expected;
  } cases[] = {{"1", false, true}, {"5", false, true}, {"-1", false, true}, {"0", true, false},
               {"yes", false, false}, {"true", true, true}, {"", true, true}};
  for (const auto &c : cases) {
    ini.WriteString("s", "b", c.text);
    EXPECT_EQ(ini.ReadBool("s", "b", c.def), c.expected) << "text \"" << c.text << "\"";
  }
}

TEST(IniFile, ValuesComeBackExactly) {
  // Folder names may hold the file format's comment characters, blanks and quotes.
  ScratchDir dir;
  TIniFile ini(dir.File("s.ini"));
  const char *values[] = {"/home/a;b/Videos", "/srv/#1/out", "two blanks  ", "\"quoted\"",
                          "Кино с пробелами", "a=b=c", "as source"};
  for (const char *v : values) {
    ini.WriteString("settings", "OutPutDir", v);
    EXPECT_EQ(ini.ReadString("settings", "OutPutDir", ""), v);
  }
}

TEST(IniFile, LongValuesUpToTheLineLimitComeBackWhole) {
  ScratchDir dir;
  TIniFile ini(dir.File("s.ini"));
  const std::string path = "/" + std::string(480, 'v');
  ini.WriteString("settings", "OutPutDir", path);
  ini.WriteString("settings", "FormatCode", "3");
  EXPECT_EQ(ini.ReadString("settings", "OutPutDir", ""), path);
  EXPECT_EQ(ini.ReadInteger("settings", "FormatCode", 1), 3);
}

TEST(IniFile, EveryReadSeesTheFileAsItIsNow) {
  ScratchDir dir;
  const std::string file = dir.File("s.ini");
  TIniFile reader(file), writer(file);
  writer.WriteString("settings", "FormatCode", "7");
  EXPECT_EQ(reader.ReadInteger("settings", "FormatCode", 1), 7);
  WriteText(file, "[settings]\nFormatCode=8\n"); // another program edits the file
  EXPECT_EQ(reader.ReadInteger("settings", "FormatCode", 1), 8);
}

TEST(IniFile, AWriteMakesTheMissingFolder) {
  ScratchDir dir;
  const std::string file = dir.File("config/marlo-video-converter/s.ini");
  TIniFile(file).WriteString("settings", "mute", "1");
  EXPECT_EQ(TIniFile(file).ReadString("settings", "mute", ""), "1");
}

TEST(IniFile, AWriteThatCannotReachTheFileThrowsWithItsCause) {
  // /proc takes no new files, not even from root.
  TIniFile ini("/proc/marlo-settings.ini");
  try {
    ini.WriteString("settings", "volume", "5");
    FAIL() << "the write was reported as done";
  } catch (const TIniWriteError &e) {
    EXPECT_NE(std::string(e.what()).find("/proc/marlo-settings.ini"), std::string::npos) << e.what();
  }
}

TEST(IniFile, TextThatWouldBreakTheFileIsRefusedAndTheFileKept) {
  ScratchDir dir;
  const std::string file = dir.File("s.ini");
  TIniFile ini(file);
  ini.WriteString("settings", "OutPutDir", "/old");
  const std::string before = ReadText(file);
  const struct {
    const char *section, *key;
    std::string value;
  } cases[] = {
      {"settings", "OutPutDir", "/new\n[settings]\nFormatCode=9"},
      {"settings", "OutPutDir", "/new\rx"},
      {"set]tings", "OutPutDir", "/new"},
      {"settings", "Out=Dir", "/new"},
      {"settings", "", "/new"},
      {"settings", "OutPutDir", std::string(600, 'x')},
      {"settings", "OutPutDir", std::string(250, '"')}, // each quote is stored escaped
  };
  for (const auto &c : cases) {
    EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), TIniWriteError) << c.key;
    EXPECT_EQ(ReadText(file), before);
  }
}

TEST(IniFile, AnInterruptedRewriteIsRecoveredOnTheNextAccess) {
  // The rewrite deletes the old file before it renames the new one into place; a crash in
  // between leaves the complete new text under the temporary name only.
  ScratchDir dir;
  const std::string file = dir.File("marlohdvideoconverter.ini");
  WriteText(dir.File("marlohdvideoconverter.in~"), "[settings]\nFormatCode=2100\n");
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadInteger("settings", "FormatCode", 1), 2100);
  EXPECT_TRUE(std::filesystem::exists(file));
  ini.WriteString("settings", "volume", "10");
  EXPECT_EQ(ini.ReadInteger("settings", "FormatCode", 1), 2100) << "the recovered value was lost";
}

TEST(IniFile, AStaleTemporaryFileNeverReplacesTheRealOne) {
  ScratchDir dir;
  const std::string file = dir.File("s.ini");
  WriteText(file, "[settings]\nFormatCode=5\n");
  WriteText(dir.File("s.in~"), "[settings]\nFormatCode=6\n");
  EXPECT_EQ(TIniFile(file).ReadInteger("settings", "FormatCode", 1), 5);
}
