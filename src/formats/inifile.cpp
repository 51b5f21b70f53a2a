// INI access on minIni, made safe for a program whose windows and worker threads all
// touch the same settings file. Not a cache: every call goes to the file.
#include "formats/inifile.h"

#include <minIni.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace {

// minIni rewrites a file through one fixed temporary name beside it, so two writers of
// the same file must never overlap; one lock for every INI call is plenty.
std::mutex &iniLock() {
  static std::mutex m;
  return m;
}

// The name minIni gives its temporary copy: the last character replaced by '~'.
std::string tempName(const std::string &fileName) {
  std::string t = fileName;
  if (!t.empty()) t.back() = '~';
  return t;
}

// minIni deletes the old file before it renames the new one into place; a crash in that
// gap leaves the complete new text under the temporary name only. Put it back.
void recoverInterruptedWrite(const std::string &fileName) {
  std::error_code ec;
  if (fileName.empty() || fs::exists(fileName, ec)) return;
  const std::string temp = tempName(fileName);
  if (fs::exists(temp, ec)) fs::rename(temp, fileName, ec);
}

constexpr int kValueBuffer = 2048;
// minIni reads lines through a buffer of this size: a longer line would come back cut.
constexpr size_t kMaxLine = INI_BUFFERSIZE - 7;

std::string trimmed(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

void checkWritable(const std::string &fileName, const std::string &section, const std::string &key,
                   const std::string &value) {
  auto fail = [&](const std::string &why) {
    throw TIniWriteError("Cannot write \"" + key + "\" of [" + section + "] to \"" + fileName +
                         "\": " + why);
  };
  if (fileName.empty()) fail("no file name");
  for (const std::string *s : {&section, &key, &value})
    if (s->find_first_of("\r\n") != std::string::npos) fail("line breaks cannot be stored");
  if (section.empty() || key.empty()) fail("empty section or key name");
  if (section.find_first_of("[]") != std::string::npos || key.find('=') != std::string::npos)
    fail("the name holds a character the file format reserves");
  // The quotes and escapes added around values with blanks or comment characters count too.
  const size_t escapes = std::count_if(value.begin(), value.end(),
                                       [](char c) { return c == '"' || c == '\\'; });
  if (key.size() + 1 + value.size() + 2 + escapes > kMaxLine || section.size() + 2 > kMaxLine)
    fail("the text is too long");
}

} // namespace

bool ParseInteger(const std::string &text, int &value) {
  const std::string t = trimmed(text);
  if (t.empty()) return false;
  const char *b = t.data(), *e = t.data() + t.size();
  if (*b == '+') ++b; // a leading plus is a sign, not a failure
  if (b == e || (*b == '-' && b != t.data())) return false;
  int v = 0;
  auto [p, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || p != e) return false;
  value = v;
  return true;
}

std::string TIniFile::ReadString(const std::string &section, const std::string &key,
                                 const std::string &def) const {
  std::lock_guard lock(iniLock());
  recoverInterruptedWrite(fileName_);
  // minIni cannot tell "absent" from "empty", so ask first: an empty value is a value.
  if (!ini_haskey(section.c_str(), key.c_str(), fileName_.c_str())) return def;
  char buf[kValueBuffer];
  ini_gets(section.c_str(), key.c_str(), def.c_str(), buf, sizeof buf, fileName_.c_str());
  return buf;
}

int TIniFile::ReadInteger(const std::string &section, const std::string &key, int def) const {
  int v = def;
  return ParseInteger(ReadString(section, key, ""), v) ? v : def;
}

bool TIniFile::ReadBool(const std::string &section, const std::string &key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::KeyExists(const std::string &section, const std::string &key) const {
  std::lock_guard lock(iniLock());
  recoverInterruptedWrite(fileName_);
  return ini_haskey(section.c_str(), key.c_str(), fileName_.c_str()) != 0;
}

bool TIniFile::SectionExists(const std::string &section) const {
  std::lock_guard lock(iniLock());
  recoverInterruptedWrite(fileName_);
  return ini_hassection(section.c_str(), fileName_.c_str()) != 0;
}

void TIniFile::WriteString(const std::string &section, const std::string &key,
                           const std::string &value) {
  checkWritable(fileName_, section, key, value);
  std::lock_guard lock(iniLock());
  recoverInterruptedWrite(fileName_);
  const fs::path parent = fs::path(fileName_).parent_path();
  std::error_code ec;
  if (!parent.empty() && !fs::exists(parent, ec) && !fs::create_directories(parent, ec))
    throw TIniWriteError("Cannot make the folder \"" + parent.string() + "\" for \"" + fileName_ +
                         "\": " + ec.message());
  errno = 0;
  if (!ini_puts(section.c_str(), key.c_str(), value.c_str(), fileName_.c_str())) {
    const int err = errno;
    throw TIniWriteError("Cannot write \"" + key + "\" of [" + section + "] to \"" + fileName_ +
                         "\": " + (err ? std::strerror(err) : "the file could not be rewritten"));
  }
}

void TIniFile::WriteInteger(const std::string &section, const std::string &key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string &section, const std::string &key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}
