// Output naming and the folder rule shared by the converted files and the snapshots.
// The caller decides what the warning looks like; nothing here shows anything.
#include "formats/output_name.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "formats/global.h"
#include "formats/inifile.h"
#include "formats/settings.h"

namespace fs = std::filesystem;

namespace {

bool makeFolder(const std::string &folder) {
  if (folder.empty()) return false;
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return true;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

std::string withSlash(std::string folder) {
  if (GlobalObject().RightChars(folder, 1) != "/") folder += '/';
  return folder;
}

bool exists(const std::string &path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

} // namespace

std::string OutputFolderWarning(const std::string &folder, const std::string &fallback) {
  return "Cannot create output directory:" + folder + ".It will create default directory " +
         fallback + "!";
}

std::string EnsureSettingsFolder(const std::string &key, const std::string &def,
                                 const TOutputNameSources &sources) {
  TIniFile ini(sources.SettingsFile.empty() ? GlobalObject().SettingsFile() : sources.SettingsFile);
  std::string folder = ini.ReadString(SettingsSection, key, def);
  if (!makeFolder(folder)) {
    const std::string fallback = DefaultOutputFolder();
    if (sources.Warn) sources.Warn(OutputFolderWarning(folder, fallback), "Warning");
    if (!makeFolder(fallback))
      throw std::runtime_error("Cannot create output directory:" + fallback);
    ini.WriteString(SettingsSection, key, fallback);
    folder = fallback;
  }
  return withSlash(folder);
}

std::string MakeOutputName(const std::string &sourcePath, const std::string &suffix,
                           const TOutputNameSources &sources) {
  const std::string folder = EnsureSettingsFolder("OutPutDir", DefaultOutputFolder(), sources);
  const std::string base = folder + fs::path(sourcePath).stem().string();
  std::string name = base + "_(new)" + suffix;
  auto taken = [&](const std::string &path) {
    return exists(path) || (sources.Taken && sources.Taken(path));
  };
  for (int n = 1; taken(name); ++n) name = base + "_(new_" + std::to_string(n) + ")" + suffix;
  return name;
}
