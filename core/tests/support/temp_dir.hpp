#pragma once
// A fresh directory under the system temporary directory, removed with everything in it when
// the object goes away.
#include <filesystem>

namespace ostrel_core::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace ostrel_core::test
