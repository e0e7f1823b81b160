// Temporary folders for tests, and running a test inside one.
#pragma once

#include <filesystem>
#include <string>

namespace pantoline::testing {

// A fresh folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Makes `dir` the working directory until destroyed.
class WorkingDir {
 public:
  explicit WorkingDir(const std::filesystem::path& dir);
  ~WorkingDir() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace pantoline::testing
