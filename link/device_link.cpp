// The link record, its lifetime and the byte primitives.
#include "link/device_link.h"

#include <cstring>

namespace pantoline {

std::atomic<std::int32_t> DeviceLink::linkCount{0};

// 25 ms between bytes, 15 + 15 * n ms per read or write of n bytes: long
// enough for the unit's short replies at 115200 baud, short enough that a
// silent port is passed over quickly.
const SerialTimeouts DeviceLink::kUnitTimeouts{25, 15, 15, 15, 15};

LineSettings DeviceLink::UnitSettings() {
  return {.baud = kUnitBaud, .dataBits = 8, .parity = Parity::kNone, .stopBits = StopBits::kOne,
          .dtr = true, .rts = true};
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

SerialPort* DeviceLink::Open(const char* name) {
  const LineSettings settings = UnitSettings();
  ResultCode code = QV5INVALIDHANDLEVALUE;
  SerialPort* const port = ports_.Open(name, settings, kUnitTimeouts, &code);
  lastResult = port == nullptr ? code : QV5SUCCESS;
  if (code != QV5INVALIDHANDLEVALUE) {
    portSettings = settings;  // a port was there and was given them
  }
  if (port != nullptr) {
    // Adapters and units need a moment after DTR and RTS come up.
    clock_.SleepMs(300);
  }
  return port;
}

std::uint32_t DeviceLink::ReadBytes(std::uint8_t* buffer, std::uint32_t count) {
  if (portHandle == nullptr || count == 0) {
    return 0;
  }
  return ports_.Read(portHandle, buffer, count);
}

ResultCode DeviceLink::WriteBytes(const std::uint8_t* buffer, std::uint32_t count) {
  lastResult =
      portHandle == nullptr ? QV5COMMANDNOTSENT : ports_.Write(portHandle, buffer, count);
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

bool DeviceLink::PortGone() { return portHandle != nullptr && ports_.Gone(portHandle); }

ResultCode DeviceLink::PurgeInput() {
  if (portHandle != nullptr) {
    ports_.Purge(portHandle, PortSide::kInput);
  }
  return QV5SUCCESS;
}

ResultCode DeviceLink::PurgeOutput() {
  if (portHandle != nullptr) {
    ports_.Purge(portHandle, PortSide::kOutput);
  }
  return QV5SUCCESS;
}

void DeviceLink::PurgeBoth() {
  PurgeInput();
  PurgeOutput();
}

void DeviceLink::ClosePort() {
  if (portHandle == nullptr) {
    return;
  }
  PurgeBoth();
  ports_.Close(portHandle);
  portHandle = nullptr;
}

}  // namespace pantoline
