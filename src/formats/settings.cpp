// Section "settings" of the settings file, key by key. The windows decide when to read
// and write; this file only knows the names and the defaults.
#include "formats/settings.h"

#include "formats/global.h"

TAppSettings::TAppSettings() : ini_(GlobalObject().SettingsFile()) {}

namespace {
constexpr const char *S = SettingsSection;
}

std::string TAppSettings::OutPutDir() const {
  return ini_.ReadString(S, "OutPutDir", DefaultOutputFolder());
}
void TAppSettings::SetOutPutDir(const std::string &dir) { ini_.WriteString(S, "OutPutDir", dir); }

int TAppSettings::FormatCode() const { return ini_.ReadInteger(S, "FormatCode", DefaultFormatCode); }
void TAppSettings::SetFormatCode(int code) { ini_.WriteInteger(S, "FormatCode", code); }
std::string TAppSettings::FormatName(const std::string &def) const {
  return ini_.ReadString(S, "FormatName", def);
}
void TAppSettings::SetFormatName(const std::string &name) { ini_.WriteString(S, "FormatName", name); }

int TAppSettings::SkinIndex(int def) const { return ini_.ReadInteger(S, "skinIndex", def); }
void TAppSettings::SetSkinIndex(int index) { ini_.WriteInteger(S, "skinIndex", index); }

int TAppSettings::Volume() const { return ini_.ReadInteger(S, "volume", 0); }
int TAppSettings::PreviewVolume() const {
  const int v = Volume();
  return v < 0 || v > 128 ? 64 : v;
}
void TAppSettings::SetVolume(int volume) { ini_.WriteInteger(S, "volume", volume); }

bool TAppSettings::Mute() const { return ini_.ReadBool(S, "mute", false); }
void TAppSettings::SetMute(bool mute) { ini_.WriteBool(S, "mute", mute); }

int TAppSettings::Priority() const { return ini_.ReadInteger(S, "priority", 1); }
void TAppSettings::SetPriority(int priority) { ini_.WriteInteger(S, "priority", priority); }

std::string TAppSettings::SnapOutPutDir() const {
  return ini_.ReadString(S, "SnapOutPutDir", DefaultOutputFolder());
}
void TAppSettings::SetSnapOutPutDir(const std::string &dir) {
  ini_.WriteString(S, "SnapOutPutDir", dir);
}

bool TAppSettings::SnapFullSize() const { return ini_.ReadBool(S, "snapFullSize", true); }
void TAppSettings::SetSnapFullSize(bool on) { ini_.WriteBool(S, "snapFullSize", on); }
bool TAppSettings::SnapSmallSize() const { return ini_.ReadBool(S, "snapSmallSize", true); }
void TAppSettings::SetSnapSmallSize(bool on) { ini_.WriteBool(S, "snapSmallSize", on); }
bool TAppSettings::SnapBmp() const { return ini_.ReadBool(S, "snapBmp", true); }
void TAppSettings::SetSnapBmp(bool on) { ini_.WriteBool(S, "snapBmp", on); }
bool TAppSettings::SnapJpg() const { return ini_.ReadBool(S, "snapJpg", true); }
void TAppSettings::SetSnapJpg(bool on) { ini_.WriteBool(S, "snapJpg", on); }

int TAppSettings::JpgCmp() const { return ini_.ReadInteger(S, "jpgCmp", 30); }
void TAppSettings::SetJpgCmp(int quality) { ini_.WriteInteger(S, "jpgCmp", quality); }

bool TAppSettings::GroupCollapsed(int group) const {
  return ini_.ReadBool(GroupStatesSection, std::to_string(group), true);
}
void TAppSettings::SetGroupCollapsed(int group, bool collapsed) {
  ini_.WriteBool(GroupStatesSection, std::to_string(group), collapsed);
}
