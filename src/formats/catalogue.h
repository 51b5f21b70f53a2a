// The built-in format catalogue: groups, display names, format codes and the section names
// they give, the picker's row record, and the splitting of a profile's value lists.
// What a format means for a conversion lives in the profile file, not here.
#pragma once

#include <array>
#include <string>
#include <vector>

// One row of the format picker.
struct TItemInfo {
  bool IsFormatRow = false;
  bool IsGroupRow = false;
  bool Collapsed = false; // header rows: the group's formats are hidden
  int Code = 0;           // header rows: the group number; format rows: the format code
};

struct TFormatGroup {
  int Number;
  const char *Header;
  std::vector<const char *> Formats; // display names by position
};

// The catalogue's 28 groups in picker order.
const std::vector<TFormatGroup> &FormatGroups();

// Display names by group (row) and position (column); "" where there is no format.
inline constexpr int FormatNamesSize = 51;
using TFormatNames = std::array<std::array<std::string, FormatNamesSize>, FormatNamesSize>;
TFormatNames &FormatNames();
// Clears the table and fills it from the catalogue.
void FillFormatNames(TFormatNames &names = FormatNames());

// code = group * 100 + position, both from 0.
constexpr int FormatCode(int group, int position) { return group * 100 + position; }
constexpr int FormatGroupOf(int code) { return code / 100; }
constexpr int FormatPositionOf(int code) { return code % 100; }
// "formatInfo" + the code in decimal: the section of the profile file and of the picks.
std::string FormatSectionName(int code);

struct TCatalogueFormat {
  int Code;
  int Group;
  int Position;
  std::string Name;
};
// Every format of the catalogue in picker order.
std::vector<TCatalogueFormat> CatalogueFormats();
// The display name of a code, "" when the catalogue has no such format.
std::string FormatDisplayName(int code);
// The header text of a group, "" when there is no such group.
std::string FormatGroupHeader(int group);

// Splits a value list at every ",": nothing is trimmed, an empty item counts, and a
// trailing "," gives an empty last item ("a,,b," is "a", "", "b", "").
std::vector<std::string> SplitValueList(const std::string &text);
