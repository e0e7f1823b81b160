#include "tests/support/config_home_posix.h"

#include <stdlib.h>

#include <cstdlib>

namespace pantoline::testing {

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* saved = std::getenv(name)) {
    saved_ = saved;
  }
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace pantoline::testing
