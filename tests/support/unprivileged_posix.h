// Running part of a Linux test as a user without privileges.
#pragma once

#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

namespace pantoline::testing {

// Root opens any file whatever its mode: as root, `run` runs as the
// unprivileged user "nobody" (uid and gid 65534), without root's groups;
// anyone else runs it as themselves. Returns what `run` returns.
template <typename Run>
auto AsUnprivileged(Run run) {
  const bool root = geteuid() == 0;
  std::vector<gid_t> groups(root ? getgroups(0, nullptr) : 0);
  EXPECT_TRUE(!root || (getgroups(static_cast<int>(groups.size()), groups.data()) >= 0 &&
                        setgroups(0, nullptr) == 0 && setegid(65534) == 0 && seteuid(65534) == 0));
  auto result = run();
  EXPECT_TRUE(!root || (seteuid(0) == 0 && setegid(0) == 0 &&
                        setgroups(groups.size(), groups.data()) == 0));
  return result;
}

}  // namespace pantoline::testing
