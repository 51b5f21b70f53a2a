// The keys of the settings file's section "settings" with their types and defaults.
// Each call reads or writes the file at once; no value is kept here.
#pragma once

#include <string>

#include "formats/inifile.h"

inline constexpr const char *SettingsSection = "settings";
// The picker's group states: key = group number, true when the group is collapsed.
inline constexpr const char *GroupStatesSection = "lstformat";

// The display name and code a fresh installation starts with.
inline constexpr int DefaultFormatCode = 1;
inline constexpr const char *DefaultFormatName = "Apple iPod Video MPEG-4 Movie (*.mp4)";

class TAppSettings {
public:
  // The global object's settings file unless a file is named.
  TAppSettings();
  explicit TAppSettings(std::string settingsFile) : ini_(std::move(settingsFile)) {}

  TIniFile &Ini() { return ini_; }
  const TIniFile &Ini() const { return ini_; }

  // "OutPutDir": the output folder, default the Videos folder + "/videoconverter".
  std::string OutPutDir() const;
  void SetOutPutDir(const std::string &dir);
  // "FormatCode" (default 1) and "FormatName" (default DefaultFormatName).
  int FormatCode() const;
  void SetFormatCode(int code);
  std::string FormatName(const std::string &def = DefaultFormatName) const;
  void SetFormatName(const std::string &name);
  // "skinIndex" 0..6, default 0.
  int SkinIndex(int def = 0) const;
  void SetSkinIndex(int index);
  // "volume" as stored (default 0), and as the preview shows it: outside 0..128 it is 64.
  int Volume() const;
  int PreviewVolume() const;
  void SetVolume(int volume);
  // "mute": 1 muted, default 0.
  bool Mute() const;
  void SetMute(bool mute);
  // "priority" 0..3, default 1.
  int Priority() const;
  void SetPriority(int priority);
  // "SnapOutPutDir", default as OutPutDir.
  std::string SnapOutPutDir() const;
  void SetSnapOutPutDir(const std::string &dir);
  // "snapFullSize", "snapSmallSize", "snapBmp", "snapJpg": default on.
  bool SnapFullSize() const;
  void SetSnapFullSize(bool on);
  bool SnapSmallSize() const;
  void SetSnapSmallSize(bool on);
  bool SnapBmp() const;
  void SetSnapBmp(bool on);
  bool SnapJpg() const;
  void SetSnapJpg(bool on);
  // "jpgCmp": JPEG quality 1..100, default 30.
  int JpgCmp() const;
  void SetJpgCmp(int quality);

  // Section "lstformat": a group never seen is collapsed.
  bool GroupCollapsed(int group) const;
  void SetGroupCollapsed(int group, bool collapsed);

private:
  TIniFile ini_;
};
