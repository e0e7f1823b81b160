// The Linux program's dialog templates and string table: the Windows
// program's resource script, turned into tables that the GTK layer builds
// windows from by rc_layouts at build time. Positions and sizes are in dialog units, a quarter of the
// dialog font's average character width across and an eighth of its height
// down.
#pragma once

#include <span>

namespace pantoline::ui::gtk {

enum class ControlKind {
  kButton,
  kEdit,
  kProgressBar,
  kGroupBox,
  kComboBox,
  kIcon,        // the program's icon `iconId`
  kStaticText,  // left-aligned, shown as written (no access keys)
};

// Window styles of a control that the GTK layer honours.
enum ControlStyle : unsigned {
  kVisible = 1u << 0,
  kTabStop = 1u << 1,
  kDefaultButton = 1u << 2,
  kReadOnly = 1u << 3,
  kCentred = 1u << 4,  // text, or a group box's caption
  kBorder = 1u << 5,
};

struct ControlLayout {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, width, height;
  unsigned style;
  int iconId = 0;  // kIcon only
};

struct DialogLayout {
  int templateId;
  const char* title;
  int width, height;
  int fontPoints;  // the dialog font's size; its face is the desktop's sans
  std::span<const ControlLayout> controls;  // in tab order
  // Strings put into the combo box `initialDataControl` when the dialog
  // opens, in order; 0: none.
  int initialDataControl = 0;
  std::span<const char* const> initialData = {};
};

struct StringResource {
  int id;
  const char* text;
};

// The tables generated from the resource script.
extern const std::span<const DialogLayout> kDialogLayouts;
extern const std::span<const StringResource> kStringResources;

// The layout of template `templateId`, or nullptr when there is none.
const DialogLayout* FindLayout(int templateId);

}  // namespace pantoline::ui::gtk
