// Scratch folders and small INI fixtures for the format and settings tests.
// Nothing here knows the program's keys.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace formats_test {

// A fresh folder of the test's own under the system's temporary folder, removed afterwards.
class ScratchDir {
public:
  ScratchDir() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("marlo-formats-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
             std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string &name) const { return (path_ / name).string(); }
  std::string Path() const { return path_.string(); }

private:
  std::filesystem::path path_;
};

inline void WriteText(const std::string &file, const std::string &text) {
  std::ofstream(file, std::ios::binary) << text;
}

inline std::string ReadText(const std::string &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The profile file shipped with the program (the source tree's copy).
inline std::string ShippedProfile() { return std::string(MARLO_TEST_DATA_DIR) + "/marlohdformat.ini"; }

} // namespace formats_test
