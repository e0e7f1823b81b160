// The watch line for scripts: one line on standard error per event that
// matters to them, while PANTOLINE_TRACE is set (toolkit.h).
#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "ui/gtk/dialog_parts.h"
#include "ui/gtk/toolkit.h"

namespace pantoline::ui::gtk {
namespace {

bool tracing = false;

}  // namespace

void InitTrace() {
  const char* value = std::getenv("PANTOLINE_TRACE");
  tracing = value != nullptr && value[0] != '\0';
}

bool Tracing() { return tracing; }

void Trace(const char* format, ...) {
  if (!tracing) {
    return;
  }
  // One write per line, so that a reader never sees half a line.
  char line[1024];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line, sizeof line - 1, format, arguments);
  va_end(arguments);
  const int shown = length < 0 ? 0 : std::min(length, static_cast<int>(sizeof line) - 1);
  std::fprintf(stderr, "trace: %.*s\n", shown, line);
  std::fflush(stderr);
}

unsigned long WindowXid(GtkWidget* window) {
#ifdef GDK_WINDOWING_X11
  GdkWindow* surface = gtk_widget_get_window(window);
  if (surface != nullptr && GDK_IS_X11_WINDOW(surface)) {
    return GDK_WINDOW_XID(surface);
  }
#endif
  return 0;
}

void TraceGeometry(const char* what, int templateId, int id, GtkWidget* widget) {
  int x = 0;
  int y = 0;
  gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), 0, 0, &x, &y);
  Trace("%s %d %d %d %d %d %d", what, templateId, id, x, y, gtk_widget_get_allocated_width(widget),
        gtk_widget_get_allocated_height(widget));
}

}  // namespace pantoline::ui::gtk

namespace pantoline::ui {

void DialogDispatch::TraceShown(Dialog& dialog) {
  if (!gtk::Tracing()) {
    return;
  }
  const Dialog::Window& w = *dialog.window_;
  gtk::Trace("shown %d %lu", dialog.templateId_, gtk::WindowXid(w.window));
  for (const Dialog::Window::ControlEntry& control : w.controls) {
    if (gtk_widget_get_visible(control.widget)) {
      gtk::TraceGeometry("control", dialog.templateId_, control.id, control.widget);
    }
  }
  gtk::Trace("ready %d", dialog.templateId_);
}

}  // namespace pantoline::ui
