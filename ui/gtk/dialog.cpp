// Dialogs on GTK 3: a window built from a layout table, run modally in a
// nested main loop, with the commands of its buttons, keys and window menu
// dispatched to the dialog's handlers. Other threads wake the main loop
// for the dialog through a source of the window's own.
#include <gdk/gdk.h>
#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ui/application.h"
#include "ui/gtk/toolkit.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {

using gtk::Trace;

namespace {

constexpr unsigned kCloseCommand = 0xF060;  // the window menu's Close item
constexpr int kSystemIconSize = 32;
// ---- Colours and painting ---------------------------------------------------

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

// ---- Building the window ------------------------------------------------------

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
gtk::BaseUnits MeasureBaseUnits(GtkWidget* widget, const PangoFontDescription* font) {
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

struct ProgressRange {
  int lower = 0;
  int upper = 100;  // the platform's default range
  int position = 0;
};

constexpr char kProgressKey[] = "pantoline-progress";

void ShowProgressRange(GtkWidget* bar, const ProgressRange& range) {
  const double fraction = range.upper > range.lower
                              ? static_cast<double>(range.position - range.lower) / (range.upper - range.lower)
                              : 0.0;
  // Setting a fraction lays out and redraws the bar even when it is the
  // one shown, and the reset sets the same position for several blocks.
  if (fraction != gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar))) {
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), fraction);
  }
}

// A source that sleeps until its ready time is set to 0 from any thread.
GSourceFuncs kWakeFuncs = {
    nullptr, nullptr,
    [](GSource* source, GSourceFunc callback, gpointer data) -> gboolean {
      g_source_set_ready_time(source, -1);  // asleep until the next wake
      return callback(data);
    },
    nullptr, nullptr, nullptr};

}  // namespace

// The platform's messages to the dialog's handlers.
struct DialogDispatch {
  // A command of the window's menu (its Close too) to OnSysCommand.
  static void SysCommand(Dialog& dialog, unsigned command) { dialog.OnSysCommand(command); }

  // A command from a button or a key: to OnOK or OnCancel. Other buttons'
  // commands are accepted and ignored.
  static void Command(Dialog& dialog, int id) {
    if (id == IDOK) {
      dialog.OnOK();
    } else if (id == IDCANCEL) {
      dialog.OnCancel();
    }
  }

  static gboolean OnWake(gpointer data) {
    static_cast<Dialog*>(data)->OnWake();
    return G_SOURCE_CONTINUE;
  }

  static gboolean OnFrame(GtkWidget*, GdkFrameClock* clock, gpointer data) {
    static_cast<Dialog*>(data)->OnTick(gdk_frame_clock_get_frame_time(clock));
    return G_SOURCE_CONTINUE;
  }

  static bool InitDialog(Dialog& dialog) { return dialog.OnInitDialog(); }

  static void OnClicked(GtkButton* button, gpointer data) {
    Command(*static_cast<Dialog*>(data), GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "pantoline-id")));
  }

  static void OnMenuItem(GtkMenuItem* item, gpointer data) {
    SysCommand(*static_cast<Dialog*>(data),
               GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "pantoline-command")));
  }

  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    SysCommand(*static_cast<Dialog*>(data), kCloseCommand);
    return TRUE;  // the dialog decides whether it ends
  }

  static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
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

  // Before the controls draw: their colours as OnCtlColor chooses them,
  // then the dialog's own painting.
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
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

  static void Build(Dialog& dialog, GtkWindow* owner);
  static void AddMenuItem(Dialog& dialog, const char* mnemonicText, unsigned command);
  static void TraceShown(Dialog& dialog);
};

namespace {

// GTK marks access keys with "_" where the platform uses "&".
std::string Mnemonic(const std::string& text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size() && text[i + 1] == '&') {
      result += '&';
      ++i;
    } else if (text[i] == '&') {
      result += '_';
    } else if (text[i] == '_') {
      result += "__";
    } else {
      result += text[i];
    }
  }
  return result;
}

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
    case ControlKind::kProgressBar: {
      GtkWidget* bar = gtk_progress_bar_new();
      g_object_set_data_full(G_OBJECT(bar), kProgressKey, new ProgressRange,
                             [](gpointer range) { delete static_cast<ProgressRange*>(range); });
      return bar;
    }
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

  PangoFontDescription* font = DialogFont(layout.fontPoints);
  InstallDialogStyle(font);
  w.units = MeasureBaseUnits(w.client, font);
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

void DialogDispatch::TraceShown(Dialog& dialog) {
  if (!gtk::Tracing()) {
    return;
  }
  const Dialog::Window& w = *dialog.window_;
  Trace("shown %d %lu", dialog.templateId_, gtk::WindowXid(w.window));
  for (const Dialog::Window::ControlEntry& control : w.controls) {
    if (gtk_widget_get_visible(control.widget)) {
      gtk::TraceGeometry("control", dialog.templateId_, control.id, control.widget);
    }
  }
  Trace("ready %d", dialog.templateId_);
}

// ---- Dialog ----------------------------------------------------------------------

Dialog::Window::Window() = default;

Dialog::Window::~Window() = default;

Dialog::Dialog(int templateId) : templateId_(templateId) {}

Dialog::~Dialog() = default;

int Dialog::DoModal() {
  const gtk::DialogLayout* layout = gtk::FindLayout(templateId_);
  if (layout == nullptr || window_ != nullptr) {
    return -1;
  }
  window_ = std::make_unique<Window>();
  Window& w = *window_;
  w.layout = layout;

  // The program's main window owns every other dialog while it runs.
  const Application* app = Application::Current();
  Dialog* owner = app != nullptr ? app->MainWindow() : nullptr;
  GtkWindow* ownerWindow =
      owner != nullptr && owner != this && owner->window_ != nullptr ? GTK_WINDOW(owner->window_->window) : nullptr;
  DialogDispatch::Build(*this, ownerWindow);

  if (DialogDispatch::InitDialog(*this)) {
    for (const gtk::ControlLayout& c : layout->controls) {
      GtkWidget* control = w.Control(c.id);
      if ((c.style & gtk::kTabStop) && control != nullptr && gtk_widget_get_visible(control) &&
          gtk_widget_is_sensitive(control)) {
        gtk_widget_grab_focus(control);
        break;
      }
    }
  }
  if (!w.ended) {
    w.loop = g_main_loop_new(nullptr, FALSE);
    gtk_widget_show(w.window);
    gtk_window_present(GTK_WINDOW(w.window));
    // Shows which control has the focus, as the platform's dialogs do
    // from the start (GTK waits for the first key otherwise).
    gtk_window_set_focus_visible(GTK_WINDOW(w.window), TRUE);
    DialogDispatch::TraceShown(*this);
    if (!w.ended) {
      g_main_loop_run(w.loop);
    }
    g_main_loop_unref(w.loop);
  }

  const int result = w.result;
  for (void** binding : w.bindings) {
    *binding = nullptr;
  }
  StopTicks();
  g_source_destroy(w.wake);
  g_source_unref(w.wake);
  gtk_widget_destroy(w.window);
  if (w.css != nullptr) {
    gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(w.css));
    g_object_unref(w.css);
  }
  window_.reset();
  return result;
}

void Dialog::EndDialog(int result) {
  if (window_ == nullptr) {
    return;
  }
  window_->result = result;
  window_->ended = true;
  if (window_->loop != nullptr) {
    g_main_loop_quit(window_->loop);
  }
}

bool Dialog::OnInitDialog() {
  const gtk::DialogLayout& layout = *window_->layout;
  if (GtkWidget* combo = window_->Control(layout.initialDataControl); combo != nullptr) {
    for (const char* item : layout.initialData) {
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), item);
    }
  }
  UpdateData();
  return true;
}

void Dialog::OnOK() { EndDialog(IDOK); }

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

void Dialog::OnSysCommand(unsigned command) {
  // Close is the cancel command; the window menu has no other item of the
  // platform's own.
  if ((command & 0xFFF0) == kCloseCommand) {
    OnCancel();
  }
}

void Dialog::OnPaint() {}  // GTK draws the window and its controls

void Dialog::UpdateData() {
  if (window_ == nullptr) {
    return;
  }
  DataExchange exchange(*this);
  DoDataExchange(exchange);
}

void Dialog::UpdateWindow() {}  // GTK's frame clock repaints what has changed

void Dialog::Wake() {
  if (window_ != nullptr) {
    g_source_set_ready_time(window_->wake, 0);  // wakes the main loop from any thread
  }
}

void Dialog::StartTicks() {
  if (window_ != nullptr && window_->tick == 0) {
    window_->tick = gtk_widget_add_tick_callback(window_->window, &DialogDispatch::OnFrame, this, nullptr);
  }
}

void Dialog::StopTicks() {
  if (window_ != nullptr && window_->tick != 0) {
    gtk_widget_remove_tick_callback(window_->window, window_->tick);
    window_->tick = 0;
  }
}

void Dialog::EnableItem(int id, bool enable) {
  if (window_ == nullptr) {
    return;
  }
  Window& w = *window_;
  GtkWidget* control = w.Control(id);
  if (control == nullptr) {
    return;
  }
  if (!enable && gtk_window_get_focus(GTK_WINDOW(w.window)) == control) {
    // The focus goes on to the next tab stop that can take it, as the
    // platform's dialog manager moves it.
    const auto& layout = w.layout->controls;
    std::size_t at = 0;
    while (w.controls[at].widget != control) {
      ++at;
    }
    for (std::size_t step = 1; step < w.controls.size(); ++step) {
      const std::size_t next = (at + step) % w.controls.size();
      GtkWidget* widget = w.controls[next].widget;
      if ((layout[next].style & gtk::kTabStop) && gtk_widget_get_visible(widget) &&
          gtk_widget_is_sensitive(widget)) {
        gtk_widget_grab_focus(widget);
        break;
      }
    }
  }
  gtk_widget_set_sensitive(control, enable);
}

bool Dialog::IsIconic() const {
  if (window_ == nullptr || !gtk_widget_get_realized(window_->window)) {
    return false;
  }
  return (gdk_window_get_state(gtk_widget_get_window(window_->window)) & GDK_WINDOW_STATE_ICONIFIED) != 0;
}

void Dialog::SetIcon(Icon icon, bool big) {
  (void)big;  // GTK takes every size of the icon at once and picks for itself
  if (window_ == nullptr || !icon) {
    return;
  }
  const gtk::IconImages* images = gtk::ImagesOf(icon);
  GList* list = g_list_append(g_list_append(nullptr, images->large), images->small);
  gtk_window_set_icon_list(GTK_WINDOW(window_->window), list);
  g_list_free(list);
}

bool Dialog::AppendSystemMenuItem(unsigned command, const std::string& text) {
  if (window_ == nullptr || window_->headerBar == nullptr) {
    return false;
  }
  Window& w = *window_;
  if (w.menu == nullptr) {
    // The window's own menu, behind the header bar's menu button where a
    // GTK user looks for it. Its standard item: Close.
    w.menu = gtk_menu_new();
    DialogDispatch::AddMenuItem(*this, "_Close", kCloseCommand);
    w.menuButton = gtk_menu_button_new();
    gtk_menu_button_set_popup(GTK_MENU_BUTTON(w.menuButton), w.menu);
    gtk_button_set_image(GTK_BUTTON(w.menuButton),
                         gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_BUTTON));
    gtk_widget_set_tooltip_text(w.menuButton, "Menu");
    gtk_widget_set_can_focus(w.menuButton, FALSE);
    gtk_header_bar_pack_end(GTK_HEADER_BAR(w.headerBar), w.menuButton);
    gtk_widget_show(w.menuButton);
  }
  GtkWidget* separator = gtk_separator_menu_item_new();
  gtk_menu_shell_append(GTK_MENU_SHELL(w.menu), separator);
  gtk_widget_show(separator);
  DialogDispatch::AddMenuItem(*this, Mnemonic(text).c_str(), command);
  return true;
}

int Dialog::ClientWidth() const {
  return window_ != nullptr ? gtk_widget_get_allocated_width(window_->client) : 0;
}

int Dialog::ClientHeight() const {
  return window_ != nullptr ? gtk_widget_get_allocated_height(window_->client) : 0;
}

int Dialog::SystemIconWidth() { return kSystemIconSize; }

int Dialog::SystemIconHeight() { return kSystemIconSize; }

PaintContext& Dialog::BeginPaint() { return paintContext; }

void Dialog::EndPaint() {}

void Dialog::MessageBox(const std::string& text, MessageStyle style, const char* caption) {
  const Application* app = Application::Current();
  const std::string title = caption != nullptr ? caption : app != nullptr ? app->AppName() : std::string();
  gtk::RunMessageBox(window_ != nullptr ? GTK_WINDOW(window_->window) : nullptr, text, style, title);
}

// ---- Data exchange and control objects ---------------------------------------------

void DataExchange::Control(int id, ProgressBar& control) {
  Dialog::Window* w = dialog_.window_.get();
  if (control.control_ == nullptr && w != nullptr) {
    if (GtkWidget* widget = w->Control(id); widget != nullptr && GTK_IS_PROGRESS_BAR(widget)) {
      control.control_ = widget;
      w->bindings.push_back(&control.control_);
    }
  }
}

void DataExchange::Text(int id, const std::string& text) {
  Dialog::Window* w = dialog_.window_.get();
  GtkWidget* widget = w != nullptr ? w->Control(id) : nullptr;
  if (widget == nullptr || !GTK_IS_ENTRY(widget) || text == gtk_entry_get_text(GTK_ENTRY(widget))) {
    return;
  }
  gtk_entry_set_text(GTK_ENTRY(widget), text.c_str());
  Trace("text %d %d %s", dialog_.templateId_, id, text.c_str());
}

void ProgressBar::SetRange(int lower, int upper) {
  if (control_ == nullptr) {
    return;
  }
  GtkWidget* bar = static_cast<GtkWidget*>(control_);
  auto* range = static_cast<ProgressRange*>(g_object_get_data(G_OBJECT(bar), kProgressKey));
  range->lower = lower;
  range->upper = upper;
  range->position = std::clamp(range->position, lower, std::max(lower, upper));
  ShowProgressRange(bar, *range);
}

void ProgressBar::SetPos(int position) {
  if (control_ == nullptr) {
    return;
  }
  GtkWidget* bar = static_cast<GtkWidget*>(control_);
  auto* range = static_cast<ProgressRange*>(g_object_get_data(G_OBJECT(bar), kProgressKey));
  // The bar stays inside its range, as the platform's does.
  range->position = std::clamp(position, range->lower, std::max(range->lower, range->upper));
  ShowProgressRange(bar, *range);
}

}  // namespace pantoline::ui
