// A dialog template's initial data: the DLGINIT resource (type 240, same
// identifier as the template) that fills list and combo boxes when the
// dialog opens.
//
// The resource is a sequence of records, each a 16-bit control identifier,
// a 16-bit message code (the 16-bit Windows numbering: 0x0403 adds a string
// to a combo box, 0x0401 to a list box), a 32-bit byte count and that many
// bytes of data (for the two add-string messages, the string and its
// terminating zero). A control identifier of 0 ends the sequence. Fields
// are little-endian and not aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pantoline::ui {

// The resource type of a template's initial data.
inline constexpr int kDialogInitResourceType = 240;

struct DialogInitString {
  int controlId;
  enum class Target { kComboBox, kListBox } target;
  std::string text;  // up to the first zero byte of the record's data
};

// The add-string records of `data`, in order. Records with another message
// are passed over. Parsing stops at the terminating identifier 0, at the
// end of `data`, or at a record whose header or data would run past the
// end (that record and everything after it are dropped), so a damaged
// resource never reads outside `data`.
std::vector<DialogInitString> ParseDialogInit(const std::uint8_t* data, std::size_t size);

}  // namespace pantoline::ui
