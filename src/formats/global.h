// The one global object: where the settings file and the profile file are, and the
// application's title, version text and web addresses. Reads and writes neither file.
#pragma once

#include <string>

class TGlobalObject {
public:
  // Start-up values: the settings file beside the executable when that folder is writable,
  // else in the user's configuration folder; the profile file beside the executable when
  // there, else in the installed data folder. MARLO_SETTINGS_FILE and MARLO_PROFILE_FILE
  // in the environment name other files (tests, a second profile).
  TGlobalObject();

  // Each setter ignores a value that is too short (paths: 3 characters or fewer; texts: empty).
  const std::string &SettingsFile() const { return settingsFile_; }
  void SetSettingsFile(const std::string &value);
  const std::string &ProfileFile() const { return profileFile_; }
  void SetProfileFile(const std::string &value);
  const std::string &AppTitle() const { return appTitle_; }
  void SetAppTitle(const std::string &value);
  const std::string &VersionText() const { return versionText_; }
  void SetVersionText(const std::string &value);
  const std::string &HelpUrl() const { return helpUrl_; }
  void SetHelpUrl(const std::string &value);
  const std::string &HomeUrl() const { return homeUrl_; }
  void SetHomeUrl(const std::string &value);
  const std::string &UpdateUrl() const { return updateUrl_; }
  void SetUpdateUrl(const std::string &value);
  // Where the update check fetches the file announcing the newest version and the news.
  const std::string &UpdateInfoUrl() const { return updateInfoUrl_; }
  void SetUpdateInfoUrl(const std::string &value);

  // The last n characters of text (UTF-8 characters, not bytes); all of it when n exceeds
  // its length, nothing when n is 0 or less.
  static std::string RightChars(const std::string &text, int n);
  // " " major "." minor release build " " of this build (1.2.3.4 gives " 1.234 ").
  static std::string FileVersionText();
  static std::string FormatVersionText(int major, int minor, int release, int build);

private:
  std::string settingsFile_, profileFile_, appTitle_, versionText_, helpUrl_, homeUrl_,
      updateUrl_, updateInfoUrl_;
};

// The process's one instance, made on first use.
TGlobalObject &GlobalObject();

inline constexpr const char *SettingsFileName = "marlohdvideoconverter.ini";
inline constexpr const char *ProfileFileName = "marlohdformat.ini";

// The executable's folder, ending with "/".
std::string ExecutableFolder();
// Where the settings and profile files are looked for (see TGlobalObject()).
std::string DefaultSettingsFile();
// The settings file for a program in that folder: beside it when a file can be made
// there, else in UserConfigFolder().
std::string SettingsFileFor(const std::string &executableFolder);
bool FolderWritable(const std::string &folder);
std::string DefaultProfileFile();
// $XDG_CONFIG_HOME (else ~/.config) + "/marlo-video-converter".
std::string UserConfigFolder();
// The user's Videos folder (the XDG videos folder, else ~/Videos).
std::string UserVideosFolder();
// The default output and snapshot folder: the Videos folder + "/videoconverter".
std::string DefaultOutputFolder();
