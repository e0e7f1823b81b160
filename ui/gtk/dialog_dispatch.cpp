// The platform's messages to a GTK dialog's handlers: its buttons, keys,
// window menu and Close, the wakes and frame ticks, and the drawing, in
// which the handler's colours reach the controls' text and the dialog
// paints through a Cairo paint context.
#include <gdk/gdk.h>
#include <gdk/gdkkeysyms.h>

#include "ui/gtk/dialog_parts.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {
namespace {

class RecordingColors final : public ColorContext {
 public:
  void SetTextBackground(Color color) override { colors.background = color; }
  void SetTextColor(Color color) override { colors.text = color; }
  gtk::TextColors colors;
};

PangoAttribute* ColorAttribute(Color color, PangoAttribute* (*make)(guint16, guint16, guint16)) {
  // 0x00BBGGRR; Pango takes 16 bits a channel.
  const auto channel = [color](int shift) { return static_cast<guint16>(((color >> shift) & 0xFF) * 257); };
  return make(channel(0), channel(8), channel(16));
}

// The colours of `widget`'s text: the characters' own background, as the
// platform's text background colour paints the character cells only.
void ApplyTextColors(GtkWidget* widget, const gtk::TextColors& colors) {
  PangoAttrList* attributes = pango_attr_list_new();
  if (colors.text) {
    pango_attr_list_insert(attributes, ColorAttribute(*colors.text, pango_attr_foreground_new));
  }
  if (colors.background) {
    pango_attr_list_insert(attributes, ColorAttribute(*colors.background, pango_attr_background_new));
  }
  if (GTK_IS_ENTRY(widget)) {
    gtk_entry_set_attributes(GTK_ENTRY(widget), attributes);
  } else {
    GtkWidget* label = widget;
    if (GTK_IS_FRAME(widget)) {
      label = gtk_frame_get_label_widget(GTK_FRAME(widget));
    } else if (GTK_IS_BUTTON(widget)) {
      label = gtk_bin_get_child(GTK_BIN(widget));
    }
    if (label != nullptr && GTK_IS_LABEL(label)) {
      gtk_label_set_attributes(GTK_LABEL(label), attributes);
    }
  }
  pango_attr_list_unref(attributes);
}

class CairoPaint final : public PaintContext {
 public:
  void EraseIconBackground() override {
    if (cr_ != nullptr) {
      gtk_render_background(gtk_widget_get_style_context(widget_), cr_, 0, 0,
                            gtk_widget_get_allocated_width(widget_), gtk_widget_get_allocated_height(widget_));
    }
  }
  void DrawIcon(int x, int y, Icon icon) override {
    if (cr_ != nullptr && icon) {
      gdk_cairo_set_source_pixbuf(cr_, gtk::ImagesOf(icon)->large, x, y);
      cairo_paint(cr_);
    }
  }
  void Begin(cairo_t* cr, GtkWidget* widget) {
    cr_ = cr;
    widget_ = widget;
  }
  void End() { cr_ = nullptr; }

 private:
  cairo_t* cr_ = nullptr;
  GtkWidget* widget_ = nullptr;
};
CairoPaint paintContext;

}  // namespace

void DialogDispatch::SysCommand(Dialog& dialog, unsigned command) { dialog.OnSysCommand(command); }

void DialogDispatch::Command(Dialog& dialog, int id) {
  if (id == IDOK) {
    dialog.OnOK();
  } else if (id == IDCANCEL) {
    dialog.OnCancel();
  }
}

gboolean DialogDispatch::OnWake(gpointer data) {
  static_cast<Dialog*>(data)->OnWake();
  return G_SOURCE_CONTINUE;
}

gboolean DialogDispatch::OnFrame(GtkWidget*, GdkFrameClock* clock, gpointer data) {
  static_cast<Dialog*>(data)->OnTick(gdk_frame_clock_get_frame_time(clock));
  return G_SOURCE_CONTINUE;
}

bool DialogDispatch::InitDialog(Dialog& dialog) { return dialog.OnInitDialog(); }

void DialogDispatch::OnClicked(GtkButton* button, gpointer data) {
  Command(*static_cast<Dialog*>(data), GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "pantoline-id")));
}

void DialogDispatch::OnMenuItem(GtkMenuItem* item, gpointer data) {
  SysCommand(*static_cast<Dialog*>(data),
             GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "pantoline-command")));
}

gboolean DialogDispatch::OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  SysCommand(*static_cast<Dialog*>(data), kCloseCommand);
  return TRUE;  // the dialog decides whether it ends
}

gboolean DialogDispatch::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  Dialog& dialog = *static_cast<Dialog*>(data);
  const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
  if (event->keyval == GDK_KEY_Escape && modifiers == 0) {
    Command(dialog, IDCANCEL);
    return TRUE;
  }
  // The window menu opens from the keyboard as the platform's system
  // menu does (Alt+Space) and as GTK's primary menus do (F10).
  const bool menuKey = (event->keyval == GDK_KEY_space && modifiers == GDK_MOD1_MASK) ||
                       (event->keyval == GDK_KEY_F10 && modifiers == 0);
  if (menuKey && dialog.window_->menuButton != nullptr) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(dialog.window_->menuButton), TRUE);
    return TRUE;
  }
  return FALSE;
}

gboolean DialogDispatch::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  Dialog& dialog = *static_cast<Dialog*>(data);
  Dialog::Window& w = *dialog.window_;
  RecordingColors dialogColors;
  dialog.OnCtlColor(dialogColors, 0);  // nothing of the dialog's own is text
  for (Dialog::Window::ControlEntry& control : w.controls) {
    if (!gtk_widget_get_visible(control.widget)) {
      continue;
    }
    RecordingColors chosen;
    dialog.OnCtlColor(chosen, control.id);
    // Applying queues another frame, so only a change is applied.
    if (chosen.colors != control.colors) {
      control.colors = chosen.colors;
      ApplyTextColors(control.widget, control.colors);
    }
  }
  paintContext.Begin(cr, widget);
  dialog.OnPaint();
  paintContext.End();
  return FALSE;  // GTK draws the window and its controls
}

PaintContext& Dialog::BeginPaint() { return paintContext; }

void Dialog::EndPaint() {}

}  // namespace pantoline::ui
