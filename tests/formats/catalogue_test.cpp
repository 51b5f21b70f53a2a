// The catalogue's codes and names, and the splitting of value lists.
#include "formats/catalogue.h"

#include <gtest/gtest.h>

#include <set>

TEST(Catalogue, CodesNameTheirSections) {
  const struct {
    int group, position;
    const char *section;
  } cases[] = {{0, 0, "formatInfo0"}, {10, 5, "formatInfo1005"}, {2, 0, "formatInfo200"},
               {27, 6, "formatInfo2706"}};
  for (const auto &c : cases) {
    const int code = FormatCode(c.group, c.position);
    EXPECT_EQ(FormatSectionName(code), c.section);
    EXPECT_EQ(FormatGroupOf(code), c.group);
    EXPECT_EQ(FormatPositionOf(code), c.position);
  }
}

TEST(Catalogue, HoldsEveryFormatOnceUnderItsOwnCode) {
  // One catalogue only: a second one with the same codes made two formats share a section.
  const auto all = CatalogueFormats();
  ASSERT_EQ(all.size(), 121u);
  std::set<int> codes;
  std::set<std::string> names;
  for (const auto &f : all) {
    EXPECT_TRUE(codes.insert(f.Code).second) << "code " << f.Code << " used twice";
    EXPECT_TRUE(names.insert(f.Name).second || f.Name.find("Nokia N Series") == 0)
        << "name " << f.Name << " used twice";
    EXPECT_EQ(FormatDisplayName(f.Code), f.Name);
  }
  EXPECT_EQ(FormatGroups().size(), 28u);
  EXPECT_EQ(FormatDisplayName(1005), "iRiver U10/Clix Video (*.avi)");
  EXPECT_EQ(FormatDisplayName(2108), "HD MPEG2-TS Video (*.ts)");
  for (int code : {-1, 9, 2800, 2707, 150})
    EXPECT_EQ(FormatDisplayName(code), "") << code;
}

TEST(Catalogue, FillingTheNameTableClearsWhatWasThere) {
  TFormatNames names;
  names[50][50] = "left over";
  names[27][9] = "left over";
  FillFormatNames(names);
  EXPECT_EQ(names[50][50], "");
  EXPECT_EQ(names[27][9], "");
  EXPECT_EQ(names[0][0], "iPod Video MPEG-4 (*.mp4)");
  EXPECT_EQ(names[26][9], "DV - PAL -Digital Video Format (*.dv)");
  EXPECT_EQ(names[3][1], "");
}

TEST(Catalogue, ValueListsSplitAtEveryCommaWithoutTrimming) {
  using V = std::vector<std::string>;
  const struct {
    const char *text;
    V items;
  } cases[] = {
      {"320x240,as source,", {"320x240", "as source", ""}},
      {"320x240, as source", {"320x240", " as source"}},
      {"null", {"null"}},
      {"", {""}},
      {",,", {"", "", ""}},
      {"a,,b", {"a", "", "b"}},
      {"25%,50%", {"25%", "50%"}},
  };
  for (const auto &c : cases) EXPECT_EQ(SplitValueList(c.text), c.items) << '"' << c.text << '"';
}
