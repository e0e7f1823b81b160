// The message box: the text, an OK button and, for errors, the stop icon,
// modal over the window it belongs to.
#include <gdk/gdkkeysyms.h>

#include <cmath>
#include <string>

#include "ui/gtk/toolkit.h"

namespace pantoline::ui::gtk {
namespace {

constexpr int kIconSize = 32;

// The platform's stop sign: a red disc with a white cross.
gboolean DrawStopIcon(GtkWidget*, cairo_t* cr, gpointer) {
  const double centre = kIconSize / 2.0;
  cairo_arc(cr, centre, centre, centre - 1, 0, 2 * M_PI);
  cairo_set_source_rgb(cr, 0.86, 0.0, 0.0);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.5, 0.0, 0.0);
  cairo_set_line_width(cr, 1.0);
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
  cairo_set_line_width(cr, 3.5);
  const double arm = 7.0;
  cairo_move_to(cr, centre - arm, centre - arm);
  cairo_line_to(cr, centre + arm, centre + arm);
  cairo_move_to(cr, centre + arm, centre - arm);
  cairo_line_to(cr, centre - arm, centre + arm);
  cairo_stroke(cr);
  return TRUE;
}

struct Box {
  GMainLoop* loop;
};

void Close(Box* box) { g_main_loop_quit(box->loop); }

}  // namespace

void RunMessageBox(GtkWindow* owner, const std::string& text, MessageStyle style,
                   const std::string& caption) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), caption.c_str());
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_modal(GTK_WINDOW(window), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  if (owner != nullptr) {
    gtk_window_set_transient_for(GTK_WINDOW(window), owner);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER_ON_PARENT);
  } else {
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  }
  GtkWidget* headerBar = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(headerBar), caption.c_str());
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(headerBar), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(headerBar), ":close");
  gtk_window_set_titlebar(GTK_WINDOW(window), headerBar);

  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 16);
  gtk_container_set_border_width(GTK_CONTAINER(content), 16);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 14);
  if (style == MessageStyle::kStop) {
    GtkWidget* icon = gtk_drawing_area_new();
    gtk_widget_set_size_request(icon, kIconSize, kIconSize);
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    g_signal_connect(icon, "draw", G_CALLBACK(DrawStopIcon), nullptr);
    gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
  }
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(content), row, TRUE, TRUE, 0);

  GtkWidget* ok = gtk_button_new_with_mnemonic("_OK");
  gtk_widget_set_size_request(ok, 88, -1);
  gtk_widget_set_halign(ok, GTK_ALIGN_CENTER);
  gtk_widget_set_can_default(ok, TRUE);
  gtk_box_pack_start(GTK_BOX(content), ok, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), content);

  Box box{g_main_loop_new(nullptr, FALSE)};
  // OK, Escape, Enter and the window's Close all close the box.
  g_signal_connect_swapped(ok, "clicked", G_CALLBACK(Close), &box);
  g_signal_connect(window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                     Close(static_cast<Box*>(data));
                     return TRUE;
                   }),
                   &box);
  g_signal_connect(window, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer data) -> gboolean {
                     if (event->keyval != GDK_KEY_Escape) {
                       return FALSE;
                     }
                     Close(static_cast<Box*>(data));
                     return TRUE;
                   }),
                   &box);

  gtk_widget_show_all(window);
  gtk_window_set_default(GTK_WINDOW(window), ok);
  gtk_widget_grab_focus(ok);
  gtk_window_present(GTK_WINDOW(window));
  g_main_loop_run(box.loop);
  g_main_loop_unref(box.loop);
  gtk_widget_destroy(window);
}

}  // namespace pantoline::ui::gtk
