// The Linux program's main dialog, built and driven inside the test
// process from its own main loop, on the display GDK_BACKEND names (CTest
// runs it on X11 and on Wayland): every course of a reset against the
// simulated unit, with the rules of a reset running beside the window.
#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "reset/file_error.h"
#include "reset/reset_procedure.h"
#include "tests/support/config_home_posix.h"
#include "tests/support/dialog_courses.h"
#include "ui/gtk/toolkit.h"
#include "ui/reset_dialog.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {
namespace {

using namespace std::chrono_literals;
using testing::Script;
using testing::Seen;
using testing::Step;

GtkWidget* Control(Dialog& dialog, int id) { return dialog.window()->Control(id); }

bool Focused(Dialog& dialog, int id) {
  return gtk_window_get_focus(GTK_WINDOW(dialog.window()->window)) == Control(dialog, id);
}

// The visible window with the title `title`, or null. Message boxes have
// the program's name as their title: none in a test.
GtkWindow* FindWindow(const char* title) {
  GtkWindow* found = nullptr;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l != nullptr; l = l->next) {
    GtkWindow* w = GTK_WINDOW(l->data);
    if (gtk_widget_get_visible(GTK_WIDGET(w)) && g_strcmp0(gtk_window_get_title(w), title) == 0) {
      found = w;
    }
  }
  g_list_free(all);
  return found;
}

// The texts of the labels inside `widget`, one after another.
std::string Labels(GtkWidget* widget) {
  if (GTK_IS_LABEL(widget)) {
    return gtk_label_get_text(GTK_LABEL(widget));
  }
  std::string text;
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* l = children; l != nullptr; l = l->next) {
      text += Labels(GTK_WIDGET(l->data));
    }
    g_list_free(children);
  }
  return text;
}

// Every text the status line shows from now on goes to `seen`.
Step WatchStatus(Dialog& dialog, Seen& seen) {
  return [&dialog, &seen] {
    auto changed = +[](GtkEditable* entry, gpointer seen) {
      static_cast<Seen*>(seen)->Status(gtk_entry_get_text(GTK_ENTRY(entry)));
    };
    GtkWidget* status = Control(dialog, IDC_STATUS);
    changed(GTK_EDITABLE(status), &seen);
    g_signal_connect(status, "changed", G_CALLBACK(changed), &seen);
    return true;
  };
}

class GtkDialog : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display: run through with_display.sh"; }
};

// The main dialog whose run, after the reset itself, waits until the test
// lets it go on and then, if asked, fails on a file.
class HeldResetDialog : public ResetDialog {
 public:
  bool fileError = false;
  std::atomic<bool> goOn{false};

 protected:
  void OnOK() override {
    RunReset(*this, [this](ResetDisplay& display) {
      OnReset(display);
      while (!goOn) {
        std::this_thread::sleep_for(1ms);
      }
      if (fileError) {
        throw FileError(FileError::Cause::kDiskFull, "/nowhere/ResetSystemLog.doc");
      }
    });
  }
};

// How each course ends the dialog while its run goes on: EXIT (after
// which the run fails on a file), Escape, the title bar's close.
void (*const kClosings[])(Dialog&) = {
    [](Dialog& d) { gtk_button_clicked(GTK_BUTTON(Control(d, IDCANCEL))); },
    [](Dialog& d) {
      GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
      event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(d.window()->window)));
      event->key.keyval = GDK_KEY_Escape;
      gboolean handled = FALSE;
      g_signal_emit_by_name(d.window()->window, "key-press-event", event, &handled);
      gdk_event_free(event);
    },
    [](Dialog& d) { gtk_window_close(GTK_WINDOW(d.window()->window)); },
};

TEST_F(GtkDialog, EveryCourseOfTheResetShowsItsTextsInOrderAndHoldsTheCommandsThatEndTheDialog) {
  testing::ConfigHome config;  // where the unit's port goes
  int index = 0;
  testing::RunCourses("--port 1", [&](const testing::ResetCourse& course) {
    HeldResetDialog dialog;
    dialog.fileError = index == 0;
    const auto close = kClosings[index++];
    Seen seen;
    Script script(
        course.name,
        {WatchStatus(dialog, seen),
         [&dialog] {
           EXPECT_TRUE(Focused(dialog, IDOK));
           gtk_button_clicked(GTK_BUTTON(Control(dialog, IDOK)));
           return true;
         },
         // The run waits for its message boxes.
         [&] {
           if (GtkWindow* box = FindWindow("")) {
             EXPECT_FALSE(Shown(course, seen));
             seen.boxes.push_back(Labels(GTK_WIDGET(box)));
             gtk_window_close(box);
           }
           return Shown(course, seen);
         },
         // While the run goes on, RESET is disabled, EXIT has the focus and
         // the window menu's About opens.
         [&] {
           EXPECT_FALSE(gtk_widget_is_sensitive(Control(dialog, IDOK)));
           EXPECT_TRUE(Focused(dialog, IDCANCEL));
           ExpectShown(course, seen, "OK");
           // The bar counts in the range the reset gives and stays inside.
           GtkProgressBar* bar = GTK_PROGRESS_BAR(Control(dialog, IDC_PROGRESS));
           static_cast<ResetDisplay&>(dialog).SetProgressRange(4);
           dialog.ShowProgress(1028 * 3);
           EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 0.75);
           EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(Control(dialog, IDC_STATUS))), "3084 bytes Sent");
           static_cast<ResetDisplay&>(dialog).SetProgressRange(2);
           EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 1.0);
           // The window menu's items: Close, a separator, About.
           GList* items = gtk_container_get_children(GTK_CONTAINER(dialog.window()->menu));
           g_idle_add(+[](gpointer item) -> gboolean {
             gtk_menu_item_activate(GTK_MENU_ITEM(item));
             return G_SOURCE_REMOVE;
           }, g_list_nth_data(items, 2));
           g_list_free(items);
           return true;
         },
         [] {
           GtkWindow* about = FindWindow("About Pantoline");
           if (about != nullptr) {
             gtk_window_close(about);
           }
           return about != nullptr;
         },
         // The command is held: the dialog is still there.
         [&] {
           if (FindWindow("About Pantoline") != nullptr) {
             return false;
           }
           close(dialog);
           EXPECT_FALSE(dialog.window()->ended);
           dialog.goOn = true;
           return true;
         },
         // A file error is reported before the held command takes effect.
         [&] {
           if (!dialog.fileError) {
             return true;
           }
           GtkWindow* box = FindWindow("");
           if (box != nullptr) {
             EXPECT_EQ(Labels(GTK_WIDGET(box)), "The disk is full.\n/nowhere/ResetSystemLog.docOK");
             EXPECT_FALSE(dialog.window()->ended);
             gtk_window_close(box);
           }
           return box != nullptr;
         }});
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(script.done());
  });
}

}  // namespace
}  // namespace pantoline::ui

namespace pantoline::testing {
int RunOnHost(const std::string& command) { return std::system(command.c_str()); }
std::uintptr_t StartTimer(Script* script) {
  return g_timeout_add(10, [](gpointer script) -> gboolean {
    static_cast<Script*>(script)->Tick();
    return G_SOURCE_CONTINUE;
  }, script);
}
void StopTimer(std::uintptr_t timer) { g_source_remove(static_cast<guint>(timer)); }
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
