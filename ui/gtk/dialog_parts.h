// How the GTK dialog's files share its work: the dispatch of the
// platform's messages to a dialog's handlers (dialog_dispatch.cpp), the
// window built from its layout (dialog_build.cpp) in the dialog font and
// look (dialog_style.cpp), and the progress bar a ProgressBar drives
// (data_exchange.cpp). Private to the GTK toolkit layer.
#pragma once

#include <gtk/gtk.h>

#include "ui/dialog.h"
#include "ui/gtk/toolkit.h"

namespace pantoline::ui {

constexpr unsigned kCloseCommand = 0xF060;  // the window menu's Close item

// The platform's messages to the dialog's handlers.
struct DialogDispatch {
  // A command of the window's menu (its Close too) to OnSysCommand.
  static void SysCommand(Dialog& dialog, unsigned command);
  // A command from a button or a key: to OnOK or OnCancel. Other buttons'
  // commands are accepted and ignored.
  static void Command(Dialog& dialog, int id);

  static gboolean OnWake(gpointer data);
  static gboolean OnFrame(GtkWidget*, GdkFrameClock* clock, gpointer data);
  static bool InitDialog(Dialog& dialog);
  static void OnClicked(GtkButton* button, gpointer data);
  static void OnMenuItem(GtkMenuItem* item, gpointer data);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data);
  static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data);
  // Before the controls draw: their colours as OnCtlColor chooses them,
  // then the dialog's own painting.
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data);

  // Creates the dialog's window and controls from its layout, hidden;
  // `owner` (may be null) is the window that owns it while it runs.
  static void Build(Dialog& dialog, GtkWindow* owner);
  static void AddMenuItem(Dialog& dialog, const char* mnemonicText, unsigned command);
  static void TraceShown(Dialog& dialog);
};

namespace gtk {

// The dialog font: the desktop's own face at the template's size. A new
// description, freed by the caller.
PangoFontDescription* DialogFont(int points);
// The platform's dialog base units: the font's average width of the 52
// letters, rounded, and its height.
BaseUnits MeasureBaseUnits(GtkWidget* widget, const PangoFontDescription* font);
// The look of the dialogs' controls, shared by every dialog: installed
// on the screen once, with the first dialog's font.
void InstallDialogStyle(const PangoFontDescription* font);

// A progress bar at the platform's default range (0 to 100), whose range
// and position a bound ProgressBar keeps on it.
GtkWidget* NewProgressBar();

}  // namespace gtk
}  // namespace pantoline::ui
