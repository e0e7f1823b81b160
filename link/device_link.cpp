// The link record, its lifetime and the byte primitives.
#include "link/device_link.h"

#include <cstring>

namespace pantoline {

std::atomic<std::int32_t> DeviceLink::linkCount{0};

// 25 ms between bytes, 15 + 15 * n ms per read or write of n bytes: long
// enough for the unit's short replies at 115200 baud, short enough that a
// silent port is passed over quickly.
const SerialTimeouts DeviceLink::kUnitTimeouts{25, 15, 15, 15, 15};

SerialSettings DeviceLink::UnitSettings() {
  // Built from nothing, so that no setting a previous program left on the
  // port survives. Parity checking is switched on although no parity bit is
  // used: the unit's line has always been configured so.
  SerialSettings s{};
  s.length = 28;
  s.baudRate = 115200;
  s.byteSize = 8;
  s.parity = 0;
  s.stopBits = 0;
  s.flags = kFlagBinary | kFlagParity | kFlagDtrControlEnable | kFlagTxContinueOnXoff |
            kFlagRtsControlEnable;
  return s;
}

DeviceLink::DeviceLink() : DeviceLink(SystemSerialPorts(), SystemClock()) {}

DeviceLink::DeviceLink(SerialPorts& ports, Clock& clock, const RunStop* stop)
    : ports_(ports), clock_(clock), stop_(stop) {
  std::memset(portName, 0, sizeof portName);
  std::memcpy(portName, "NOT FOUND", sizeof "NOT FOUND");
  serialNumber = ++linkCount;
}

DeviceLink::~DeviceLink() {
  ClosePort();
  --linkCount;
}

bool DeviceLink::DescribeLastResult(char* text) const {
  return DescribeResult(lastResult, text);
}

PortHandle DeviceLink::Open(const char* name) {
  const SerialSettings settings = UnitSettings();
  ResultCode code = QV5INVALIDHANDLEVALUE;
  const PortHandle port = ports_.Open(name, settings, kUnitTimeouts, &code);
  lastResult = port == kNoPort ? code : QV5SUCCESS;
  if (code != QV5INVALIDHANDLEVALUE) {
    portSettings = settings;  // a port was there and was given them
  }
  if (port != kNoPort) {
    // Adapters and units need a moment after DTR and RTS come up.
    clock_.SleepMs(300);
  }
  return port;
}

std::uint32_t DeviceLink::ReadBytes(std::uint8_t* buffer, std::uint32_t count) {
  if (portHandle == kNoPort || count == 0) {
    return 0;
  }
  return ports_.Read(portHandle, buffer, count);
}

ResultCode DeviceLink::WriteBytes(const std::uint8_t* buffer, std::uint32_t count) {
  lastResult =
      portHandle == kNoPort ? QV5COMMANDNOTSENT : ports_.Write(portHandle, buffer, count);
  return lastResult;
}

ResultCode DeviceLink::WriteByte(std::uint8_t value) {
  return WriteBytes(&value, 1);
}

std::int32_t DeviceLink::ReadByte(std::uint16_t budget) {
  std::uint32_t attempts = 2u * budget;
  return ReadByteWithin(budget == 0 ? nullptr : &attempts);
}

std::int32_t DeviceLink::ReadByteWithin(std::uint32_t* attemptsLeft) {
  for (;;) {
    std::uint8_t byte = 0;
    if (ReadBytes(&byte, 1) == 1) {
      if (attemptsLeft != nullptr && *attemptsLeft > 0) {
        --*attemptsLeft;
      }
      return byte;
    }
    // Nothing will come from a device that is gone: no point in pausing.
    // A run asked to stop waits no longer either.
    if (PortGone() || StopRequested()) {
      return kNoByte;
    }
    if (attemptsLeft == nullptr) {
      continue;
    }
    if (*attemptsLeft <= 1) {
      *attemptsLeft = 0;
      return kNoByte;
    }
    --*attemptsLeft;
    clock_.SleepMs(10);
  }
}

bool DeviceLink::PortGone() { return portHandle != kNoPort && ports_.Gone(portHandle); }

ResultCode DeviceLink::PurgeInput() {
  if (portHandle != kNoPort) {
    ports_.Purge(portHandle, kPurgeInput);
  }
  return QV5SUCCESS;
}

ResultCode DeviceLink::PurgeOutput() {
  if (portHandle != kNoPort) {
    ports_.Purge(portHandle, kPurgeOutput);
  }
  return QV5SUCCESS;
}

void DeviceLink::PurgeBoth() {
  PurgeInput();
  PurgeOutput();
}

void DeviceLink::ClosePort() {
  if (portHandle == kNoPort) {
    return;
  }
  PurgeBoth();
  ports_.Close(portHandle);
  portHandle = kNoPort;
}

}  // namespace pantoline
