// What the GTK 3 toolkit layer's files share: the window behind a Dialog,
// the icon's images, the message box and the watch line for tests.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/dialog.h"
#include "ui/gtk/layouts.h"

namespace pantoline::ui {
namespace gtk {

// The images behind an Icon's handle: made once, never freed.
struct IconImages {
  GdkPixbuf* large;  // 32 x 32
  GdkPixbuf* small;  // 16 x 16
};
inline const IconImages* ImagesOf(Icon icon) { return static_cast<const IconImages*>(icon.handle()); }

// The colours a control-colour handler chose for one control's text.
struct TextColors {
  std::optional<Color> background;
  std::optional<Color> text;
  friend bool operator==(const TextColors&, const TextColors&) = default;
};

// Pixels per dialog unit come from the dialog font's average character
// width (x) and height (y): a unit is x / 4 across and y / 8 down.
struct BaseUnits {
  int x;
  int y;
};
// Rounded to the nearest pixel, as the platform's conversion does.
inline int UnitsToPixels(int units, int base, int divisor) {
  const int scaled = units * base;
  return scaled >= 0 ? (scaled + divisor / 2) / divisor : -((-scaled + divisor / 2) / divisor);
}

// Scripts drive the program from outside (scripts/run.sh on a virtual X
// display) through one line on standard error per event that matters to
// them (a dialog shown with its controls' places, a text changed, a reset
// finished), written only when the environment variable PANTOLINE_TRACE is
// set to a non-empty value. Off, it costs one test.
void InitTrace();
bool Tracing();
void Trace(const char* format, ...) G_GNUC_PRINTF(1, 2);
// The terminating signal that arrived while a run held the session and
// that the program now ends for, or 0.
int EndingSignal();
// The X window of a realised GTK window, 0 on other displays.
unsigned long WindowXid(GtkWidget* window);
// Traces `name`'s geometry in pixels relative to its toplevel window.
void TraceGeometry(const char* what, int templateId, int id, GtkWidget* widget);

// A modal message box with `text`, an OK button and, for kStop, a stop
// icon. `owner` (may be null) is the window it belongs to: the box stays
// above it and takes the input from it while open. Returns when closed.
void RunMessageBox(GtkWindow* owner, const std::string& text, MessageStyle style,
                   const std::string& caption);

}  // namespace gtk

// The platform's side of a Dialog while its window exists.
struct Dialog::Window {
  const gtk::DialogLayout* layout = nullptr;
  gtk::BaseUnits units{};
  GtkWidget* window = nullptr;  // the toplevel GtkWindow
  GtkWidget* client = nullptr;  // GtkFixed: the client area holding the controls
  GtkWidget* headerBar = nullptr;
  GtkWidget* menuButton = nullptr;  // the window's own menu; null until it has items
  GtkWidget* menu = nullptr;
  GtkCssProvider* css = nullptr;  // sizes of this window's controls
  // The controls in template order (several identifiers may be -1), with
  // the colours applied to their text as the handler last chose them.
  struct ControlEntry {
    int id;
    GtkWidget* widget;
    gtk::TextColors colors;
  };
  std::vector<ControlEntry> controls;
  // Control objects bound to this window's controls: unbound again when
  // the window goes.
  std::vector<void**> bindings;
  GMainLoop* loop = nullptr;
  int result = 0;
  bool ended = false;
  // Dispatched on the main loop after Dialog::Wake, from any thread.
  GSource* wake = nullptr;
  guint tick = 0;  // the frame clock's callback between StartTicks and StopTicks

  Window();
  ~Window();

  GtkWidget* Control(int id) const {
    for (const ControlEntry& control : controls) {
      if (control.id == id) {
        return control.widget;
      }
    }
    return nullptr;
  }
};

}  // namespace pantoline::ui
