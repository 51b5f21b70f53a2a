// Locates the program's two INI files and holds the application texts. Knows no key of
// either file.
#include "formats/global.h"

#include <QStandardPaths>
#include <QString>

#include <cstdlib>
#include <filesystem>
#include <stdlib.h>
#include <unistd.h>

namespace fs = std::filesystem;

#ifndef MARLO_DATA_DIR
#define MARLO_DATA_DIR "/usr/share/marlo-video-converter"
#endif
#ifndef MARLO_VERSION
#define MARLO_VERSION "0.0.0"
#endif

namespace {

std::string envText(const char *name) {
  const char *v = std::getenv(name);
  return v ? v : "";
}

std::string homeFolder() {
  std::string h = envText("HOME");
  return h.empty() ? std::string("/tmp") : h;
}

void setIfLonger(std::string &field, const std::string &value, size_t minExclusive) {
  if (value.size() > minExclusive) field = value;
}

} // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) exe = fs::current_path(ec) / "marlo";
  std::string dir = exe.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string UserConfigFolder() {
  std::string base = envText("XDG_CONFIG_HOME");
  if (base.empty() || base.front() != '/') base = homeFolder() + "/.config";
  return base + "/marlo-video-converter";
}

bool FolderWritable(const std::string &folder) {
  // Try it: permission bits say nothing for root, and a read-only mount or a full disk
  // only shows when a file is made. The settings writer needs to make one here.
  std::string probe = folder;
  if (probe.empty() || probe.back() != '/') probe += '/';
  probe += ".marlo-write-test-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

std::string SettingsFileFor(const std::string &executableFolder) {
  // A portable build keeps its settings with it; an installed program cannot write
  // there, and settings that silently never stick are worse than settings elsewhere.
  std::string dir = executableFolder;
  if (dir.empty() || dir.back() != '/') dir += '/';
  if (FolderWritable(dir)) return dir + SettingsFileName;
  return UserConfigFolder() + "/" + SettingsFileName;
}

std::string DefaultSettingsFile() {
  if (std::string env = envText("MARLO_SETTINGS_FILE"); !env.empty()) return env;
  return SettingsFileFor(ExecutableFolder());
}

std::string DefaultProfileFile() {
  if (std::string env = envText("MARLO_PROFILE_FILE"); !env.empty()) return env;
  const std::string beside = ExecutableFolder() + ProfileFileName;
  std::error_code ec;
  if (fs::exists(beside, ec)) return beside;
  return std::string(MARLO_DATA_DIR) + "/" + ProfileFileName;
}

std::string UserVideosFolder() {
  // Qt reads the XDG user-dirs file and falls back to ~/Videos itself.
  QString dir = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (dir.isEmpty()) return homeFolder() + "/Videos";
  return dir.toStdString();
}

std::string DefaultOutputFolder() { return UserVideosFolder() + "/videoconverter"; }

TGlobalObject::TGlobalObject()
    : settingsFile_(DefaultSettingsFile()), profileFile_(DefaultProfileFile()),
      appTitle_("Marlo HD Video Converter"), versionText_(FileVersionText()),
      helpUrl_("https://marlo-video-converter.example/help.html"),
      homeUrl_("https://marlo-video-converter.example/"),
      updateUrl_("https://marlo-video-converter.example/download/marlo-video-converter.tar.gz"),
      updateInfoUrl_("https://marlo-video-converter.example/update/marlonet.xml") {}

void TGlobalObject::SetSettingsFile(const std::string &v) { setIfLonger(settingsFile_, v, 3); }
void TGlobalObject::SetProfileFile(const std::string &v) { setIfLonger(profileFile_, v, 3); }
void TGlobalObject::SetAppTitle(const std::string &v) { setIfLonger(appTitle_, v, 0); }
void TGlobalObject::SetVersionText(const std::string &v) { setIfLonger(versionText_, v, 0); }
void TGlobalObject::SetHelpUrl(const std::string &v) { setIfLonger(helpUrl_, v, 0); }
void TGlobalObject::SetHomeUrl(const std::string &v) { setIfLonger(homeUrl_, v, 0); }
void TGlobalObject::SetUpdateUrl(const std::string &v) { setIfLonger(updateUrl_, v, 0); }
void TGlobalObject::SetUpdateInfoUrl(const std::string &v) { setIfLonger(updateInfoUrl_, v, 0); }

std::string TGlobalObject::RightChars(const std::string &text, int n) {
  if (n <= 0) return {};
  size_t pos = text.size();
  while (pos > 0 && n > 0) {
    --pos;
    // Step over UTF-8 continuation bytes so a character is never cut in two.
    while (pos > 0 && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) --pos;
    --n;
  }
  return text.substr(pos);
}

std::string TGlobalObject::FormatVersionText(int major, int minor, int release, int build) {
  return " " + std::to_string(major) + "." + std::to_string(minor) + std::to_string(release) +
         std::to_string(build) + " ";
}

std::string TGlobalObject::FileVersionText() {
  int parts[4] = {0, 0, 0, 0};
  const std::string v = MARLO_VERSION;
  size_t start = 0;
  for (int i = 0; i < 4 && start <= v.size(); ++i) {
    size_t dot = v.find('.', start);
    parts[i] = std::atoi(v.substr(start, dot - start).c_str());
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return FormatVersionText(parts[0], parts[1], parts[2], parts[3]);
}

TGlobalObject &GlobalObject() {
  static TGlobalObject instance;
  return instance;
}
