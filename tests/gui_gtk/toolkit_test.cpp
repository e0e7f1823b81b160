// The GTK layer's window for the main dialog, looked at from inside while
// it runs: what its template gives that the screen alone does not show
// (the hidden controls and the combo box's items, focus and default, the
// status line's kind and text colours, the window menu's items), the
// progress bar's range, and what a repaint leaves on the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "reset/reset_display.h"
#include "tests/gui_gtk/desktop.h"
#include "ui/gtk/toolkit.h"
#include "ui/reset_dialog.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {
namespace {

// The main dialog with a look at its window once it is on the screen,
// after which it ends.
class ProbedResetDialog : public ResetDialog {
 public:
  std::function<void(ProbedResetDialog&)> probe;

 protected:
  bool OnInitDialog() override {
    const bool focusFirst = ResetDialog::OnInitDialog();
    // Runs in the modal loop, after the first frame.
    g_idle_add(
        +[](gpointer self) -> gboolean {
          auto* dialog = static_cast<ProbedResetDialog*>(self);
          dialog->probe(*dialog);
          dialog->EndDialog(IDCANCEL);
          return G_SOURCE_REMOVE;
        },
        this);
    return focusFirst;
  }
};

std::vector<std::string> ComboItems(GtkWidget* combo) {
  std::vector<std::string> items;
  GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
  GtkTreeIter row;
  for (gboolean more = gtk_tree_model_get_iter_first(model, &row); more; more = gtk_tree_model_iter_next(model, &row)) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, &row, gtk_combo_box_get_entry_text_column(GTK_COMBO_BOX(combo)), &text, -1);
    items.emplace_back(text != nullptr ? text : "");
    g_free(text);
  }
  return items;
}

// The colour attributes of an entry's or a button's text, as "fg RRGGBB"
// and "bg RRGGBB" in Pango's 16-bit channels cut to 8.
std::vector<std::string> TextColours(GtkWidget* widget) {
  PangoAttrList* list = nullptr;
  if (GTK_IS_ENTRY(widget)) {
    list = gtk_entry_get_attributes(GTK_ENTRY(widget));
  } else if (GTK_IS_BUTTON(widget)) {
    list = gtk_label_get_attributes(GTK_LABEL(gtk_bin_get_child(GTK_BIN(widget))));
  } else if (GTK_IS_FRAME(widget)) {
    list = gtk_label_get_attributes(GTK_LABEL(gtk_frame_get_label_widget(GTK_FRAME(widget))));
  }
  std::vector<std::string> colours;
  if (list == nullptr) {
    return colours;
  }
  PangoAttrIterator* it = pango_attr_list_get_iterator(list);
  for (PangoAttrType type : {PANGO_ATTR_FOREGROUND, PANGO_ATTR_BACKGROUND}) {
    if (PangoAttribute* attribute = pango_attr_iterator_get(it, type)) {
      const PangoColor& c = reinterpret_cast<PangoAttrColor*>(attribute)->color;
      char text[16];
      std::snprintf(text, sizeof text, "%s %02X%02X%02X", type == PANGO_ATTR_FOREGROUND ? "fg" : "bg", c.red >> 8,
                    c.green >> 8, c.blue >> 8);
      colours.emplace_back(text);
    }
  }
  pango_attr_iterator_destroy(it);
  return colours;
}

// The pixels of `box` (screen coordinates) that differ between two
// screenshots of the screen.
int DifferingPixels(const testing::Screenshot& a, const testing::Screenshot& b, const testing::Box& box) {
  int differing = 0;
  for (int y = std::max(box.y, 0); y < std::min(box.y + box.height, a.height); ++y) {
    for (int x = std::max(box.x, 0); x < std::min(box.x + box.width, a.width); ++x) {
      differing += a.Pixel(x, y) != b.Pixel(x, y) ? 1 : 0;
    }
  }
  return differing;
}

// GTK's and GDK's warnings and criticals while it lives, which the
// toolkit otherwise only prints.
class LogWatch {
 public:
  LogWatch() {
    for (const char* domain : kDomains) {
      handlers_.push_back(g_log_set_handler(
          domain, static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
          +[](const gchar* domain, GLogLevelFlags, const gchar* message, gpointer self) {
            static_cast<LogWatch*>(self)->messages.push_back(std::string(domain) + ": " + message);
          },
          this));
    }
  }
  ~LogWatch() {
    for (std::size_t i = 0; i < handlers_.size(); ++i) {
      g_log_remove_handler(kDomains[i], handlers_[i]);
    }
  }
  LogWatch(const LogWatch&) = delete;
  LogWatch& operator=(const LogWatch&) = delete;

  std::vector<std::string> messages;

 private:
  static constexpr const char* kDomains[] = {"Gtk", "Gdk"};
  std::vector<guint> handlers_;
};

class GtkToolkit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    display_ = new testing::VirtualDisplay;
    ready_ = display_->ok() && gtk_init_check(nullptr, nullptr);
  }
  static void TearDownTestSuite() {
    delete display_;
    display_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ready_) << "no virtual display: is Xvfb installed?"; }

  static testing::VirtualDisplay* display_;
  static bool ready_;
};

testing::VirtualDisplay* GtkToolkit::display_ = nullptr;
bool GtkToolkit::ready_ = false;

TEST_F(GtkToolkit, MainDialogWindowFollowsItsTemplate) {
  ProbedResetDialog dialog;
  bool probed = false;
  dialog.probe = [&probed](ProbedResetDialog& d) {
    probed = true;
    const Dialog::Window& w = *d.window();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), "Lodestria - Reset Lodestria");

    for (int id : {IDOK, IDCANCEL, IDC_STATUS, IDC_PROGRESS, IDC_INSTRUCTIONS}) {
      ASSERT_NE(w.Control(id), nullptr) << id;
      EXPECT_TRUE(gtk_widget_get_visible(w.Control(id))) << id;
    }
    for (int id : {IDC_PORTS, IDC_FILE, IDC_BROWSE}) {
      ASSERT_NE(w.Control(id), nullptr) << id << " must exist";
      EXPECT_FALSE(gtk_widget_get_visible(w.Control(id))) << id << " must never show";
    }
    std::vector<std::string> ports{"Scan Ports"};
    for (int n = 1; n <= 18; ++n) {
      ports.push_back("Com" + std::to_string(n));
    }
    EXPECT_EQ(ComboItems(w.Control(IDC_PORTS)), ports);

    GtkWidget* reset = w.Control(IDOK);
    EXPECT_TRUE(gtk_widget_has_focus(reset));
    EXPECT_TRUE(gtk_widget_has_default(reset));

    GtkWidget* status = w.Control(IDC_STATUS);
    EXPECT_FALSE(gtk_editable_get_editable(GTK_EDITABLE(status)));
    EXPECT_FALSE(gtk_entry_get_has_frame(GTK_ENTRY(status)));
    EXPECT_FLOAT_EQ(gtk_entry_get_alignment(GTK_ENTRY(status)), 0.5f);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(status)), ResetDialog::kGreeting);
    // Red on light yellow for the status line, the platform's colours for
    // every other control.
    EXPECT_EQ(TextColours(status), (std::vector<std::string>{"fg FF0000", "bg FFFF64"}));
    for (int id : {IDOK, IDCANCEL, IDC_INSTRUCTIONS}) {
      EXPECT_TRUE(TextColours(w.Control(id)).empty()) << id;
    }

    // The window menu: its Close, then the About item after a separator.
    ASSERT_NE(w.menu, nullptr);
    GList* items = gtk_container_get_children(GTK_CONTAINER(w.menu));
    ASSERT_EQ(g_list_length(items), 3u);
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(g_list_nth_data(items, 0))), "_Close");
    EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(g_list_nth_data(items, 1)));
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(g_list_nth_data(items, 2))), "_About Pantoline...");
    EXPECT_TRUE(gtk_menu_item_get_use_underline(GTK_MENU_ITEM(g_list_nth_data(items, 2))));
    g_list_free(items);

    // The bar counts in the range the reset gives it, staying inside it.
    GtkProgressBar* bar = GTK_PROGRESS_BAR(w.Control(IDC_PROGRESS));
    static_cast<ResetDisplay&>(d).SetProgressRange(4);
    d.ShowProgress(1028 * 3);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 0.75);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(status)), "3084 bytes Sent");
    static_cast<ResetDisplay&>(d).SetProgressRange(2);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 1.0);
    d.ShowProgress(-1);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 0.0);
  };

  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_TRUE(probed);
  EXPECT_EQ(dialog.window(), nullptr);
}

// The reset shows a status and then waits on the unit for seconds with no
// main loop running: what UpdateWindow left on the screen is all the user
// sees meanwhile. It must be the whole window as GTK itself draws it, with
// no warning from GTK on the way, also after the bar has emptied (which
// restyles the bar, so that laying out the window takes GTK more than one
// round).
TEST_F(GtkToolkit, StatusShownBeforeAPauseIsOnTheScreenDuringIt) {
  ProbedResetDialog dialog;
  LogWatch log;
  bool probed = false;
  dialog.probe = [&probed](ProbedResetDialog& d) {
    probed = true;
    const Dialog::Window& w = *d.window();
    const auto onScreen = testing::WindowOnScreen(std::to_string(gtk::WindowXid(w.window)));
    ASSERT_TRUE(onScreen);
    const std::filesystem::path shots = PANTOLINE_ARTEFACTS;
    std::filesystem::create_directories(shots);
    const auto before = testing::TakeScreenshot(shots / "status-before-pause.png");

    static_cast<ResetDisplay&>(d).SetProgressRange(2);
    d.ShowProgress(2056);
    d.ShowProgress(-1);
    d.ShowStatus("...Lodestria NOT Found...");
    // The pause: nothing runs in this program until the screenshot is in.
    const auto during = testing::TakeScreenshot(shots / "status-during-pause.png");

    // The same window drawn by GTK's own frame, from scratch.
    gtk_widget_queue_draw(w.window);
    gtk::WaitForFrame(w.window);
    const auto drawnByGtk = testing::TakeScreenshot(shots / "status-drawn-by-gtk.png");

    ASSERT_TRUE(before && during && drawnByGtk);
    EXPECT_EQ(DifferingPixels(*during, *drawnByGtk, *onScreen), 0)
        << "the window during the pause is not the window GTK draws";
    EXPECT_GT(DifferingPixels(*before, *drawnByGtk, *onScreen), 0) << "the new status is not to be seen";
  };

  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_TRUE(probed);
  EXPECT_EQ(log.messages, std::vector<std::string>{});
}

}  // namespace
}  // namespace pantoline::ui

// Under AddressSanitizer: fontconfig, which GTK loads, keeps its caches for
// the life of the process and never frees them. Only this program's leak
// check is told so; nothing of the program's own is suppressed.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) {
  // No accessibility bus or settings daemon on the virtual display.
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
