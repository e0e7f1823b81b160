#include "tests/support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>

namespace pantoline::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  do {
    path_ = fs::temp_directory_path() / ("pantoline-test-" + std::to_string(random()));
  } while (!fs::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

WorkingDir::WorkingDir(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace pantoline::testing
