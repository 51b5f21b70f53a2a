// Destination names of converted files: the output folder from the settings, the source's
// base name and the "_(new)" marker, numbered past files that exist. Converts nothing.
#pragma once

#include <functional>
#include <string>

// Shown when the stored output folder cannot be made (text, caption).
using TOutputWarning = std::function<void(const std::string &text, const std::string &caption)>;

struct TOutputNameSources {
  std::string SettingsFile; // empty: the global object's
  // Told when the stored folder cannot be made; unset: nobody is told.
  TOutputWarning Warn;
  // Names already promised to another file of the same run count as taken, so that two
  // sources of one base name never write into the same output.
  std::function<bool(const std::string &path)> Taken;
};

// The message for a stored folder that cannot be made; `fallback` is the folder used instead.
std::string OutputFolderWarning(const std::string &folder, const std::string &fallback);

// The folder a setting names, made with its parents when missing. When it cannot be made,
// the warning is given, the default output folder is made and written back under `key`
// (section "settings"), and that is used. Ends with "/". Throws std::runtime_error when not
// even the default folder can be made.
std::string EnsureSettingsFolder(const std::string &key, const std::string &def,
                                 const TOutputNameSources &sources);

// Output folder + the source's file name without its last extension + "_(new)" + suffix;
// when that file exists, "_(new_1)", "_(new_2)" ... up to the first free name.
// `suffix` is the text after the marker: ".mp4", or "_ipod.mp4" for the list's column.
std::string MakeOutputName(const std::string &sourcePath, const std::string &suffix,
                           const TOutputNameSources &sources = {});
