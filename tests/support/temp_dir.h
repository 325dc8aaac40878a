#pragma once
// A fresh folder under the system temp directory, removed with everything in it on destruction.

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace ab::test {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("ab-test-" + std::to_string(rd()) + std::to_string(rd()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace ab::test
