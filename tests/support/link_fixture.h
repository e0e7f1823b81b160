// A link on scripted ports in virtual time, for the tests of every layer.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "link/device_link.h"
#include "tests/support/scripted_unit.h"

namespace pantoline::testing {

class LinkTest : public ::testing::Test {
 protected:
  // Adds the port `name` and opens it as the link's port, then forgets the
  // pauses and calls that took.
  ScriptedPort& OpenPort(const std::string& name = "P") {
    ScriptedPort& port = ports.Add(name);
    link->portHandle = link->Open(name.c_str());
    EXPECT_NE(link->portHandle, nullptr);
    clock.sleeps.clear();
    ports.log.clear();
    return port;
  }

  VirtualClock clock;
  ScriptedPorts ports{clock};
  std::unique_ptr<DeviceLink> link = std::make_unique<DeviceLink>(ports, clock);
};

}  // namespace pantoline::testing
