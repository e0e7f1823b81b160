// Dialogs on GTK 3: a window built from a layout table (dialog_build.cpp),
// run modally in a nested main loop, with the commands of its buttons,
// keys and window menu dispatched to the dialog's handlers
// (dialog_dispatch.cpp). Other threads wake the main loop for the dialog
// through a source of the window's own. Here: the dialog's run, its focus,
// window menu and icon.
#include <gdk/gdk.h>

#include <memory>
#include <string>

#include "ui/application.h"
#include "ui/gtk/dialog_parts.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {
namespace {

constexpr int kSystemIconSize = 32;

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

}  // namespace

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

void Dialog::MessageBox(const std::string& text, MessageStyle style, const char* caption) {
  const Application* app = Application::Current();
  const std::string title = caption != nullptr ? caption : app != nullptr ? app->AppName() : std::string();
  gtk::RunMessageBox(window_ != nullptr ? GTK_WINDOW(window_->window) : nullptr, text, style, title);
}

}  // namespace pantoline::ui
