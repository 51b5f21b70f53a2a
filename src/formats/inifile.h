// Reads and writes one INI file by path: every call opens the file, does its one read or
// write and closes it again, so a value written is seen at once by every later reader.
// Knows no key of the program; what the keys mean lives with their callers.
#pragma once

#include <stdexcept>
#include <string>

// A write that did not reach the file; the message names the file and the cause.
class TIniWriteError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Section and key names compare without regard to case; a missing file, section or key
// reads as the caller's default. Values come back as written, except for blanks leading
// them, which INI readers drop. Writes go through a temporary file beside the target that
// replaces it, so a crash leaves either the old or the new file, never half of one.
class TIniFile {
public:
  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

  const std::string &FileName() const { return fileName_; }

  std::string ReadString(const std::string &section, const std::string &key,
                         const std::string &def) const;
  // Text that is not a whole decimal number (blanks around it aside) reads as def.
  int ReadInteger(const std::string &section, const std::string &key, int def) const;
  // True for any non-zero integer; text that is not an integer reads as def.
  bool ReadBool(const std::string &section, const std::string &key, bool def) const;
  bool KeyExists(const std::string &section, const std::string &key) const;
  bool SectionExists(const std::string &section) const;

  // Throw TIniWriteError when the value cannot be stored: the folder cannot be made or
  // written, or the text would break the file's lines. A missing folder is made first.
  void WriteString(const std::string &section, const std::string &key, const std::string &value);
  void WriteInteger(const std::string &section, const std::string &key, int value);
  void WriteBool(const std::string &section, const std::string &key, bool value); // "1" / "0"

private:
  std::string fileName_;
};

// Whole-text signed decimal whole number (the "is an integer" test of the option texts).
bool ParseInteger(const std::string &text, int &value);
