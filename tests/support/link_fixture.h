// A link on scripted ports in virtual time, for the tests of every layer.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "link/device_link.h"
#include "tests/support/scripted_ports.h"
#include "tests/support/scripted_unit.h"
#include "tests/support/virtual_clock.h"

namespace pantoline::testing {

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() : ports(clock), link(std::make_unique<DeviceLink>(ports, clock)) {}

  // Adds the port `name` and opens it as the link's port, then forgets the
  // pauses and calls that took.
  ScriptedPort& OpenPort(const std::string& name = "\\\\.\\Com1") {
    ScriptedPort& port = ports.Add(name);
    link->portHandle = link->Open(name.c_str());
    EXPECT_NE(link->portHandle, kNoPort);
    clock.ForgetSleeps();
    ports.log.clear();
    return port;
  }

  // Virtual milliseconds that `action` takes.
  template <typename Action>
  std::int64_t Elapsed(Action action) {
    const std::int64_t start = clock.NowMs();
    action();
    return clock.NowMs() - start;
  }

  VirtualClock clock;
  ScriptedPorts ports;
  std::unique_ptr<DeviceLink> link;
};

}  // namespace pantoline::testing
