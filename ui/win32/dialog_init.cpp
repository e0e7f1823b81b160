#include "ui/win32/dialog_init.h"

#include <algorithm>

namespace pantoline::ui {

namespace {

// Message codes of the records, as the resource compilers write them.
constexpr std::uint16_t kComboBoxAddString = 0x0403;
constexpr std::uint16_t kListBoxAddString = 0x0401;

constexpr std::size_t kHeaderSize = 2 + 2 + 4;

std::uint32_t ReadLittleEndian(const std::uint8_t* bytes, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) {
    value = value << 8 | bytes[i];
  }
  return value;
}

}  // namespace

std::vector<DialogInitString> ParseDialogInit(const std::uint8_t* data, std::size_t size) {
  std::vector<DialogInitString> strings;
  std::size_t offset = 0;
  while (size - offset >= 2) {
    const std::uint16_t controlId = static_cast<std::uint16_t>(ReadLittleEndian(data + offset, 2));
    if (controlId == 0) {
      break;
    }
    if (size - offset < kHeaderSize) {
      break;
    }
    const std::uint16_t message = static_cast<std::uint16_t>(ReadLittleEndian(data + offset + 2, 2));
    const std::uint32_t length = ReadLittleEndian(data + offset + 4, 4);
    offset += kHeaderSize;
    if (length > size - offset) {
      break;
    }
    const std::uint8_t* text = data + offset;
    offset += length;
    if (message != kComboBoxAddString && message != kListBoxAddString) {
      continue;
    }
    const std::uint8_t* end = std::find(text, text + length, std::uint8_t{0});
    // The identifier is a signed 16-bit value in the template (-1 for
    // controls that need none).
    strings.push_back({static_cast<std::int16_t>(controlId),
                       message == kComboBoxAddString ? DialogInitString::Target::kComboBox
                                                     : DialogInitString::Target::kListBox,
                       std::string(text, end)});
  }
  return strings;
}

}  // namespace pantoline::ui
