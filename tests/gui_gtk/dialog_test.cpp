// The Linux program's main dialog, built and driven inside the test
// process from its own main loop, on the display GDK_BACKEND names (CTest
// runs it on X11 and on Wayland): every course of a reset against the
// simulated unit, the reset running beside the window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "tests/support/config_home_posix.h"
#include "tests/support/dialog_courses.h"
#include "ui/gtk/toolkit.h"

namespace pantoline::testing {
namespace {

// The window menu's item `n` (Close, a separator, About), activated.
void Activate(ui::Dialog& d, int n) {
  GList* items = gtk_container_get_children(GTK_CONTAINER(d.window()->menu));
  gtk_menu_item_activate(GTK_MENU_ITEM(g_list_nth_data(items, n)));
  g_list_free(items);
}

// `signal` with an event of `type` (the Escape key for a key press), as
// the display server's event would reach `window`, at once.
void Emit(GtkWidget* window, const char* signal, GdkEventType type) {
  GdkEvent* event = gdk_event_new(type);
  event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
  if (type == GDK_KEY_PRESS) event->key.keyval = GDK_KEY_Escape;
  gboolean handled = FALSE;
  g_signal_emit_by_name(window, signal, event, &handled);
  gdk_event_free(event);
}

// The first label's text inside `widget`: a message box's own text.
std::string FirstText(GtkWidget* widget) {
  if (GTK_IS_LABEL(widget)) return gtk_label_get_text(GTK_LABEL(widget));
  std::string text;
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* l = children; l != nullptr && text.empty(); l = l->next) text = FirstText(GTK_WIDGET(l->data));
    g_list_free(children);
  }
  return text;
}

}  // namespace

const char kBoxTitle[] = "";  // the program's name: none in a test

int RunOnHost(const std::string& command) { return std::system(command.c_str()); }
std::uintptr_t StartTimer(Script* script) {
  return g_timeout_add(10, [](gpointer script) -> gboolean {
    static_cast<Script*>(script)->Tick();
    return G_SOURCE_CONTINUE;
  }, script);
}
void StopTimer(std::uintptr_t timer) { g_source_remove(static_cast<guint>(timer)); }

bool WatchStatus(ui::ResetDialog& d, Seen& seen) {
  auto changed = +[](GtkEditable* entry, gpointer seen) {
    static_cast<Seen*>(seen)->Status(gtk_entry_get_text(GTK_ENTRY(entry)));
  };
  changed(GTK_EDITABLE(d.window()->Control(ui::IDC_STATUS)), &seen);
  g_signal_connect(d.window()->Control(ui::IDC_STATUS), "changed", G_CALLBACK(changed), &seen);
  return true;
}
bool Focused(ui::ResetDialog& d, int id) {
  return gtk_window_get_focus(GTK_WINDOW(d.window()->window)) == d.window()->Control(id);
}
void Click(ui::ResetDialog& d, int id) { gtk_button_clicked(GTK_BUTTON(d.window()->Control(id))); }
void Close(ui::ResetDialog& d, Closing how) {
  if (how == Closing::kExit) Click(d, ui::IDCANCEL);
  if (how == Closing::kEscape) Emit(d.window()->window, "key-press-event", GDK_KEY_PRESS);
  if (how == Closing::kTitleBarClose) Emit(d.window()->window, "delete-event", GDK_DELETE);
  if (how == Closing::kMenuClose) Activate(d, 0);
}
void OpenAbout(ui::ResetDialog& d) {
  g_idle_add(+[](gpointer d) -> gboolean {
    Activate(*static_cast<ui::ResetDialog*>(d), 2);
    return G_SOURCE_REMOVE;
  }, &d);
}
double BarFraction(ui::ResetDialog& d) {
  return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(d.window()->Control(ui::IDC_PROGRESS)));
}
bool Ended(ui::ResetDialog& d) { return d.window()->ended; }

std::optional<std::string> FindDialog(const std::string& title, bool close) {
  GList* all = gtk_window_list_toplevels();
  std::optional<std::string> text;
  for (GList* l = all; l != nullptr && !text; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (gtk_widget_get_visible(w) && g_strcmp0(gtk_window_get_title(GTK_WINDOW(w)), title.c_str()) == 0) {
      text = FirstText(w);
      if (close) Emit(w, "delete-event", GDK_DELETE);
    }
  }
  g_list_free(all);
  return text;
}

void RequestEnd(ui::ResetDialog&) { kill(getpid(), SIGTERM); }
std::optional<bool> SessionMayEnd(ui::ResetDialog&) { return std::nullopt; }

TEST(GtkDialog, EveryCourseOfTheResetShowsItsTextsInOrderAndHoldsTheCommandsThatEndTheDialog) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display: run through with_display.sh";
  ConfigHome config;  // where the unit's port goes
  RunCourses("--port 1");
}

TEST(GtkDialog, SignalDuringTheTransferEndsTheRunSoundly) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display: run through with_display.sh";
  ConfigHome config;
  RunEndedDuringTransfer("--port 1");
  EXPECT_EQ(ui::gtk::EndingSignal(), SIGTERM);
}

}  // namespace pantoline::testing

// Under AddressSanitizer: fontconfig, which GTK loads, keeps its caches for
// the life of the process and never frees them. Only this program's leak
// check is told so; nothing of the program's own is suppressed.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) {
  // No accessibility bus or settings daemon on the test's display.
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
