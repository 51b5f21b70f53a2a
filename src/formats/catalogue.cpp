// The catalogue as a table of data. Numbers and names are what users' settings files
// store, so they never change once shipped, misspellings included.
#include "formats/catalogue.h"

const std::vector<TFormatGroup> &FormatGroups() {
  static const std::vector<TFormatGroup> groups = {
      {0, "Apple iPod",
       {"iPod Video MPEG-4 (*.mp4)", "iPod Video H.264 (*.mp4)",
        "iPod MPEG-4 Excellent (320 x 240)(*.mp4)", "iPod MPEG-4 Normal (320 x 240)(*.mp4)",
        "iPod MPEG-4 Mini (320 x 240)(*.mp4)", "iPod Touch MPEG-4 Excellent (*.mp4)",
        "iPod Touch MPEG-4 (480 x 320) (*.mp4)", "iPod Touch MPEG-4 (320 x 240) (*.mp4)",
        "iPod Touch MPEG-4 Wide Screen (*.mp4)"}},
      {1, "Apple iPhone",
       {"iPhone MPEG-4 Extra Video (*.mp4)", "iPhone MPEG-4 Wide Screen (*.mp4)",
        "iPhone MPEG-4 Movie (*.mp4)", "iPhone Movie for 480p TV Out (*.mp4)",
        "iPhone Movie for 576p TV Out (*.mp4)"}},
      {2, "Apple TV",
       {"Apple TV (640 x 480) MPEG-4 Excellent (*.mp4)", "Apple TV (640 x 480) MPEG-4 Normal (*.mp4)",
        "Apple TV (640 x 480) MPEG-4 Mini (*.mp4)", "Apple H.264 (320 x 240) (*.mp4)",
        "Apple H.264 480P (640 x 480) (*.mp4)", "Apple H.264 720p (1280 x 720) (*.mp4)"}},
      {3, "GPhone", {"GPhone MPEG-4 Movie (*.mp4)"}},
      {4, "Sony PSP",
       {"PSP MPEG-4 Excellent Quality (*.mp4)", "PSP MPEG-4 Normal Quality (*.mp4)",
        "PSP MPEG-4 Mini Size (*.mp4)", "PSP H.264/AVC Video (*.mp4)", "PSP Video (480P) (*.mp4)"}},
      {5, "Sony PS3",
       {"PS3 MPEG-4 Video (480P) (*.mp4)", "PS3 MPEG-4 Video (480P) Excellent (*.mp4)",
        "PS3 MPEG-4 Video (720P) (*.mp4)", "PS3 MPEG-4 Video (1080P) (*.mp4)"}},
      {6, "Microsoft Zune",
       {"Microsoft Zune MPEG-4 Video (*.mp4)", "Microsoft Zune MPEG-4 AVC Video (*.mp4)",
        "Microsoft Zune Windows Media Video (*.wmv)"}},
      {7, "Sony Walkman",
       {"Sony Walkman MPEG-4 Video (*.mp4)", "Sony Walkman AVC Video (*.mp4)",
        "Sony Walkman WMV Video (*.wmv)"}},
      {8, "Archos",
       {"Archos H.264 Video (*.mp4)", "Archos MPEG4 Video (*.mp4)", "Archos 105 Video (*.wmv)",
        "Archos 404/405 Video (*.avi)", "Archos 504/604 Video (*.avi)",
        "Archos 605/705/TV+ Video (*.avi)", "Archos AV500/700 Video (*.avi)"}},
      {9, "Creative Zen",
       {"Creative Zen H.264 Video (*.mp4)", "Creative Zen MPEG4 Video (*.mp4)",
        "Creative Zen Xvid Video (*.avi)", "Creative Zen X-Fi Video (*.avi)",
        "Creative Zen Vison Video (*.avi)", "Creative Zen Vison M Video (*.avi)",
        "Creative Zen Vison W Video (*.avi)"}},
      {10, "iRiver",
       {"iRiver H.264 Video (*.mp4)", "iRiver MPEG4 Video (*.mp4)", "iRiver WMV Video (*.wmv)",
        "iRiver Xvid Video (*.avi)", "iRiver E10 Video (*.avi)", "iRiver U10/Clix Video (*.avi)",
        "iRiver B20/X20/Clix 2/E100/Lplayer Video (*.avi)",
        "iRiver Spinn/D28/DICPLE D30 Video (*.avi)", "iRiver P10/P20 Video (*.avi)",
        "iRiver PMP-120/140/IMP-1000/1100 Video (*.avi)"}},
      {11, "Sandisk Sansa",
       {"Sandisk Sansa AVI Video (*.avi)", "Sandisk Sansa WMV Video (*.wmv)",
        "Sandisk Sansa MPEG-4 Video (*.mp4)"}},
      {12, "Microsoft xbox 360",
       {"Microsoft Xbox WMV Video (*.wmv)", "Microsoft Xbox AVI Video (*.avi)",
        "Microsoft Xbox MPEG-4 Video (*.mp4)"}},
      {13, "Nitendeo WII", {"Nitendeo Wii AVI Video (*.avi)", "Nitendeo Wii MOV Video (*.mov)"}},
      {14, "Mobile Phone",
       {"Mobile Phone 3GP h263 Video(*.3gp)", "Mobile Phone 3GP MPEG-4 Video(*.3gp)",
        "Mobile Phone 3GP2 h263 Video(*.3gp)", "Mobile Phone 3GP2 MPEG-4 Video(*.3gp)",
        "Mobile Phone MPEG-4 Video(*.mp4)", "Nokia N Series MPEG-4 Video(*.mp4)"}},
      {15, "BlackBerry", {"BlackBerry MPEG-4 Video(*.mp4)"}},
      {16, "Nokia", {"Nokia N Series MPEG-4 Video (*.mp4)"}},
      {17, "Windows Mobile",
       {"Dell Axim 51 Video (*.wmv)", "Dell Axim 51V Video (*.wmv)",
        "HP iPAQ hw6500 Series Video (*.wmv)", "HP iPAQ hx2000/rx3000/rx1900 Series Video (*.wmv)",
        "HP iPAQ hx4700 Series Video (*.wmv)", "Palm Treo Series Video (*.wmv)",
        "HTC Touch Diamond Video (*.wmv)", "General Pocket PC Video (*.wmv)"}},
      {18, "Quick Time Video - MOV", {"MOV - Quick Time Video (*.mov)"}},
      {19, "Flash Video", {"Flash Video Format (*.flv)", "Flash SWF Format (*.swf)"}},
      {20, "Toshiba Gigabeat", {"Toshiba Gigabeat WMV Movie (*.wmv)"}},
      {21, "HD Video",
       {"HD AVI Video (*.avi)", "HD Divx Video (*.avi)", "HD H.264/MPEG-4 AVC Video (*.mp4)",
        "HD MOV Video (*.mov)", "HD WMV Video (*.wmv)", "HD MPEG-4 Video (*.mp4)",
        "HD Xvid Video (*.avi)", "HD MPEG2-PS Video (*.mpg)", "HD MPEG2-TS Video (*.ts)"}},
      {22, "DVD Video", {"DVD - NTSC MPEG-2 Moive (*.mpg)", "DVD - PAL MPEG-2 Moive (*.mpg)"}},
      {23, "SVCD Video", {"SVCD - NTSC MPEG-2 Moive (*.mpg)", "SVCD - PAL MPEG-2 Moive (*.mpg)"}},
      {24, "VCD Video", {"VCD - NTSC MPEG-1 Moive (*.mpg)", "VCD - PAL MPEG-1 Moive (*.mpg)"}},
      {25, "Matroska Video - MKV", {"MKV - Matroska Video (*.mkv)"}},
      {26, "General Video formates",
       {"MPEG-1 Video (*.mpg)", "MPEG-2 Video (*.mpg)", "MPEG-4 Video (*.mp4)",
        "H.264/MPEG-4 AVC Video (*.mp4)", "AVI Video (*.avi)", "WMV Video (*.wmv)",
        "Divx Video (*.avi)", "Xvid Video (*.avi)", "DV - NTSC -Digital Video Format (*.dv)",
        "DV - PAL -Digital Video Format (*.dv)"}},
      {27, "General Audio formates",
       {"MP3 MPEG Layer-3 Audio (*.mp3)", "AAC Advenced Audio Codec (*.aac)",
        "M4A MPEG-4 Audio (*.m4a)", "WMA - Windows Meida Audio (*.wma)",
        "WAV - Waveform Audio (*.wav)", "OGG Vorbis Audio Codec (*.ogg)",
        "AC-3 Audio Codec (*.ac3)"}},
  };
  return groups;
}

TFormatNames &FormatNames() {
  static TFormatNames names;
  return names;
}

void FillFormatNames(TFormatNames &names) {
  for (auto &row : names)
    for (auto &cell : row) cell.clear();
  for (const auto &g : FormatGroups())
    for (size_t i = 0; i < g.Formats.size(); ++i) names[g.Number][i] = g.Formats[i];
}

std::string FormatSectionName(int code) { return "formatInfo" + std::to_string(code); }

std::vector<TCatalogueFormat> CatalogueFormats() {
  std::vector<TCatalogueFormat> all;
  for (const auto &g : FormatGroups())
    for (size_t i = 0; i < g.Formats.size(); ++i) {
      const int pos = static_cast<int>(i);
      all.push_back({FormatCode(g.Number, pos), g.Number, pos, g.Formats[i]});
    }
  return all;
}

std::string FormatDisplayName(int code) {
  if (code < 0) return {};
  for (const auto &g : FormatGroups())
    if (g.Number == FormatGroupOf(code) &&
        FormatPositionOf(code) < static_cast<int>(g.Formats.size()))
      return g.Formats[FormatPositionOf(code)];
  return {};
}

std::string FormatGroupHeader(int group) {
  for (const auto &g : FormatGroups())
    if (g.Number == group) return g.Header;
  return {};
}

std::vector<std::string> SplitValueList(const std::string &text) {
  std::vector<std::string> items(1);
  for (char c : text) {
    if (c == ',')
      items.emplace_back();
    else
      items.back() += c;
  }
  return items;
}
