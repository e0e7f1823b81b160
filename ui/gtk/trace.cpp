#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

void WaitForFrame(GtkWidget* window) {
  GdkFrameClock* clock = gtk_widget_get_frame_clock(window);
  if (clock == nullptr) {
    return;
  }
  bool painted = false;
  bool timedOut = false;
  const gulong handler = g_signal_connect_swapped(
      clock, "after-paint", G_CALLBACK(+[](bool* flag) { *flag = true; }), &painted);
  const guint timer = g_timeout_add(
      3000, +[](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &timedOut);
  gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_PAINT);
  while (!painted && !timedOut) {
    g_main_context_iteration(nullptr, TRUE);
  }
  if (!timedOut) {
    g_source_remove(timer);
  }
  g_signal_handler_disconnect(clock, handler);
  gdk_display_sync(gtk_widget_get_display(window));
}

void TraceGeometry(const char* what, int templateId, int id, GtkWidget* widget) {
  int x = 0;
  int y = 0;
  gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), 0, 0, &x, &y);
  Trace("%s %d %d %d %d %d %d", what, templateId, id, x, y, gtk_widget_get_allocated_width(widget),
        gtk_widget_get_allocated_height(widget));
}

}  // namespace pantoline::ui::gtk
