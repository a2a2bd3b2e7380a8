#pragma once
// A real temporary directory tree for tests, removed again at the end.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "base/native_string.h"

namespace varnholt_app::testing {

class TempTree {
 public:
  TempTree() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() /
            ("varnholt_test_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(root_);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  const std::filesystem::path& root() const { return root_; }
  NativeString native() const { return root_.native(); }
  std::filesystem::path path(const std::string& relative) const { return root_ / std::filesystem::path(relative).make_preferred(); }
  // The key the walk gives `relative` ("a/b.c") below this root.
  std::string key(const std::string& relative) const { return nativeToUtf8Lossy(path(relative).native()); }
  void dir(const std::string& relative) const { std::filesystem::create_directories(path(relative)); }
  void file(const std::string& relative, const std::string& bytes) const {
    dir(std::filesystem::path(relative).parent_path().string());
    std::ofstream(path(relative), std::ios::binary) << bytes;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace varnholt_app::testing
