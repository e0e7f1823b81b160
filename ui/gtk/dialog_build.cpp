// Building a dialog's window on GTK 3: the window and its title bar, and
// the controls of its layout placed in dialog units, with their signals
// connected to the dialog's dispatch.
#include <gtk/gtk.h>

#include <algorithm>
#include <string>
#include <utility>

#include "ui/gtk/dialog_parts.h"

namespace pantoline::ui {
namespace {

// A source that sleeps until its ready time is set to 0 from any thread.
GSourceFuncs kWakeFuncs = {
    nullptr, nullptr,
    [](GSource* source, GSourceFunc callback, gpointer data) -> gboolean {
      g_source_set_ready_time(source, -1);  // asleep until the next wake
      return callback(data);
    },
    nullptr, nullptr, nullptr};

GtkWidget* MakeControl(const gtk::ControlLayout& c) {
  using gtk::ControlKind;
  switch (c.kind) {
    case ControlKind::kButton:
      return gtk_button_new_with_label(c.text);
    case ControlKind::kEdit: {
      GtkWidget* entry = gtk_entry_new();
      gtk_entry_set_text(GTK_ENTRY(entry), c.text);
      gtk_entry_set_has_frame(GTK_ENTRY(entry), (c.style & gtk::kBorder) != 0);
      gtk_editable_set_editable(GTK_EDITABLE(entry), (c.style & gtk::kReadOnly) == 0);
      gtk_entry_set_alignment(GTK_ENTRY(entry), (c.style & gtk::kCentred) ? 0.5f : 0.0f);
      gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);  // as wide as its template says
      gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
      return entry;
    }
    case ControlKind::kProgressBar:
      return gtk::NewProgressBar();
    case ControlKind::kGroupBox: {
      GtkWidget* frame = gtk_frame_new(c.text);
      gtk_frame_set_label_align(GTK_FRAME(frame), (c.style & gtk::kCentred) ? 0.5f : 0.0f, 0.5f);
      gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_ETCHED_IN);
      return frame;
    }
    case ControlKind::kComboBox:
      return gtk_combo_box_text_new_with_entry();
    case ControlKind::kIcon: {
      const Icon icon = Icon::Load(c.iconId);
      GtkWidget* image = icon ? gtk_image_new_from_pixbuf(gtk::ImagesOf(icon)->large) : gtk_image_new();
      gtk_widget_set_halign(image, GTK_ALIGN_START);
      gtk_widget_set_valign(image, GTK_ALIGN_START);
      return image;
    }
    case ControlKind::kStaticText: {
      GtkWidget* label = gtk_label_new(c.text);  // shown as written: no access keys
      gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
      gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
      gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
      return label;
    }
  }
  return gtk_label_new(c.text);
}

}  // namespace

void DialogDispatch::Build(Dialog& dialog, GtkWindow* owner) {
  Dialog::Window& w = *dialog.window_;
  const gtk::DialogLayout& layout = *w.layout;

  w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(w.window);
  gtk_window_set_title(window, layout.title);
  gtk_window_set_resizable(window, FALSE);
  if (owner != nullptr) {
    gtk_window_set_transient_for(window, owner);
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
  } else {
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  }

  // The title bar: drawn by the program itself, so that the dialog looks
  // the same with or without a window manager. Close only: a dialog has
  // no minimise or maximise box.
  w.headerBar = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(w.headerBar), layout.title);
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(w.headerBar), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(w.headerBar), "icon:close");
  gtk_window_set_titlebar(window, w.headerBar);
  gtk_widget_show(w.headerBar);

  w.client = gtk_fixed_new();
  gtk_style_context_add_class(gtk_widget_get_style_context(w.client), "pantoline-client");
  gtk_container_add(GTK_CONTAINER(window), w.client);

  PangoFontDescription* font = gtk::DialogFont(layout.fontPoints);
  gtk::InstallDialogStyle(font);
  w.units = gtk::MeasureBaseUnits(w.client, font);
  pango_font_description_free(font);
  const auto px = [&w](int x, int y) {
    return std::pair{gtk::UnitsToPixels(x, w.units.x, 4), gtk::UnitsToPixels(y, w.units.y, 8)};
  };
  const auto [clientWidth, clientHeight] = px(layout.width, layout.height);
  gtk_widget_set_size_request(w.client, clientWidth, clientHeight);
  gtk_widget_show(w.client);

  std::string css;
  GList* focusChain = nullptr;
  for (const gtk::ControlLayout& c : layout.controls) {
    GtkWidget* control = MakeControl(c);
    const auto [left, top] = px(c.x, c.y);
    const auto [right, bottom] = px(c.x + c.width, c.y + c.height);
    // A combo box's height is that of its drop-down list.
    gtk_widget_set_size_request(control, right - left, c.kind == gtk::ControlKind::kComboBox ? -1 : bottom - top);
    gtk_fixed_put(GTK_FIXED(w.client), control, left, top);
    const std::string name = "pantoline-" + std::to_string(layout.templateId) + "-" + std::to_string(c.id);
    gtk_widget_set_name(control, name.c_str());
    if (c.kind == gtk::ControlKind::kProgressBar) {
      // The bar fills its control inside the border, as the platform's does.
      const int inner = std::max(bottom - top - 2, 1);
      css += "#" + name + " trough, #" + name + " progress { min-height: " + std::to_string(inner) + "px; }\n";
    }
    if (c.kind == gtk::ControlKind::kButton) {
      g_object_set_data(G_OBJECT(control), "pantoline-id", GINT_TO_POINTER(c.id));
      g_signal_connect(control, "clicked", G_CALLBACK(OnClicked), &dialog);
      if (c.style & gtk::kDefaultButton) {
        gtk_widget_set_can_default(control, TRUE);
        gtk_window_set_default(window, control);
      }
    }
    if (c.style & gtk::kTabStop) {
      focusChain = g_list_append(focusChain, control);
    }
    if (c.style & gtk::kVisible) {
      gtk_widget_show(control);  // the rest exist but are never shown
    }
    w.controls.push_back({c.id, control, {}});
  }
  // Tab moves through the tab stops in template order, as on the platform.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(w.client), focusChain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(focusChain);
  if (!css.empty()) {
    w.css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(w.css, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(w.css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
  }

  g_signal_connect(w.window, "delete-event", G_CALLBACK(OnDelete), &dialog);
  g_signal_connect(w.window, "key-press-event", G_CALLBACK(OnKeyPress), &dialog);
  g_signal_connect(w.window, "draw", G_CALLBACK(OnDraw), &dialog);
  w.wake = g_source_new(&kWakeFuncs, sizeof(GSource));
  g_source_set_callback(w.wake, &OnWake, &dialog, nullptr);
  g_source_set_ready_time(w.wake, -1);
  g_source_attach(w.wake, nullptr);

  gtk_widget_realize(w.window);
}

void DialogDispatch::AddMenuItem(Dialog& dialog, const char* mnemonicText, unsigned command) {
  GtkWidget* item = gtk_menu_item_new_with_mnemonic(mnemonicText);
  g_object_set_data(G_OBJECT(item), "pantoline-command", GUINT_TO_POINTER(command));
  g_signal_connect(item, "activate", G_CALLBACK(OnMenuItem), &dialog);
  gtk_menu_shell_append(GTK_MENU_SHELL(dialog.window_->menu), item);
  gtk_widget_show(item);
}

}  // namespace pantoline::ui
