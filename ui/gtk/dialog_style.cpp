// The dialogs' font and look on GTK 3: the dialog font, the dialog units
// it gives, and the style sheet every dialog's controls share.
#include <gtk/gtk.h>

#include <string>

#include "ui/gtk/dialog_parts.h"

namespace pantoline::ui::gtk {

// The dialog font: the desktop's own face at the template's size.
PangoFontDescription* DialogFont(int points) {
  gchar* desktopFont = nullptr;
  g_object_get(gtk_settings_get_default(), "gtk-font-name", &desktopFont, nullptr);
  PangoFontDescription* font = pango_font_description_from_string(desktopFont != nullptr ? desktopFont : "Sans");
  g_free(desktopFont);
  if (pango_font_description_get_family(font) == nullptr) {
    pango_font_description_set_family(font, "Sans");
  }
  pango_font_description_set_size(font, points * PANGO_SCALE);
  return font;
}

// The platform's dialog base units: the font's average width of the 52
// letters, rounded, and its height.
BaseUnits MeasureBaseUnits(GtkWidget* widget, const PangoFontDescription* font) {
  PangoLayout* layout =
      gtk_widget_create_pango_layout(widget, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  pango_layout_set_font_description(layout, font);
  int width = 0;
  int height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  g_object_unref(layout);
  return {(width / 26 + 1) / 2, height};
}

// The look of the dialogs' controls, shared by every dialog: controls as
// small as their template makes them, square bars and frames like the
// platform's, and a status line without a field of its own.
void InstallDialogStyle(const PangoFontDescription* font) {
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  const std::string css = std::string(".pantoline-client { font-family: \"") +
                          pango_font_description_get_family(font) + "\"; font-size: " +
                          std::to_string(pango_font_description_get_size(font) / PANGO_SCALE) +
                          "pt; }\n"
                          ".pantoline-client button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
                          ".pantoline-client entry { min-height: 0; min-width: 0; padding: 0 2px; }\n"
                          ".pantoline-client entry.flat { border-color: transparent; box-shadow: none;"
                          " background-image: none; background-color: transparent; }\n"
                          ".pantoline-client progressbar trough,"
                          " .pantoline-client progressbar progress { border-radius: 0; }\n"
                          ".pantoline-client frame > border { border-radius: 0; }\n";
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

}  // namespace pantoline::ui::gtk
