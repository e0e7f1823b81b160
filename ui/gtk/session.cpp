// Holding the desktop session during a run on Linux: the session's
// inhibitor for logout, suspend and idle, and the terminating signals
// turned into a request the run can finish soundly.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <string>
#include <utility>

#include "ui/gtk/toolkit.h"

namespace pantoline::ui {
namespace {

// What a desktop session sends a program it wants gone (logout, shutdown),
// and what a terminal sends on Ctrl-C or on hanging up.
constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};

struct Hold {
  bool held = false;
  std::function<void()> endRequested;
  guint watches[std::size(kEndSignals)] = {};
  GtkApplication* application = nullptr;  // only for the inhibitor
  guint cookie = 0;
};
Hold hold;
int endingSignal = 0;

// Only a session that has a bus can be asked; without one GLib would try
// to start a bus of its own on an X display, which is nobody's wish here.
bool SessionBusKnown() {
  if (g_getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) {
    return true;
  }
  const std::string socket = std::string(g_get_user_runtime_dir()) + "/bus";
  return g_file_test(socket.c_str(), G_FILE_TEST_EXISTS);
}

void Inhibit(const std::string& reason) {
  if (!SessionBusKnown()) {
    return;
  }
  if (hold.application == nullptr) {
    hold.application = gtk_application_new("org.pantoline.Pantoline", G_APPLICATION_NON_UNIQUE);
    if (!g_application_register(G_APPLICATION(hold.application), nullptr, nullptr)) {
      g_clear_object(&hold.application);
      return;
    }
  }
  // 0 when no session manager or portal takes it: nothing else to do.
  hold.cookie = gtk_application_inhibit(
      hold.application, nullptr,
      static_cast<GtkApplicationInhibitFlags>(GTK_APPLICATION_INHIBIT_LOGOUT | GTK_APPLICATION_INHIBIT_SUSPEND |
                                              GTK_APPLICATION_INHIBIT_IDLE),
      reason.c_str());
}

gboolean OnEndSignal(gpointer data) {
  const int signal = GPOINTER_TO_INT(data);
  if (endingSignal != 0) {
    // Asked twice: the user (or the desktop) will not wait.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return G_SOURCE_CONTINUE;
  }
  endingSignal = signal;
  if (hold.endRequested) {
    hold.endRequested();
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

namespace gtk {
int EndingSignal() { return endingSignal; }
}  // namespace gtk

void Dialog::HoldSession(const std::string& reason, std::function<void()> endRequested) {
  if (hold.held) {
    return;
  }
  hold.held = true;
  hold.endRequested = std::move(endRequested);
  // GLib's watches run on the main loop, so the request reaches the dialog
  // on its own thread; removing the last watch of a signal gives it back
  // its default action.
  for (std::size_t i = 0; i < std::size(kEndSignals); ++i) {
    hold.watches[i] = g_unix_signal_add(kEndSignals[i], &OnEndSignal, GINT_TO_POINTER(kEndSignals[i]));
  }
  Inhibit(reason);
}

void Dialog::ReleaseSession() {
  if (!hold.held) {
    return;
  }
  // The session is held for exactly the length of a run: scripts that
  // drive the window wait for this line to know the run is over.
  gtk::Trace("finished %d", templateId_);
  if (hold.cookie != 0) {
    gtk_application_uninhibit(hold.application, hold.cookie);
    hold.cookie = 0;
  }
  // A signal already taken stays taken: the program is ending because of
  // it, and the watches keep a second one from cutting that short.
  if (endingSignal == 0) {
    for (guint& watch : hold.watches) {
      g_source_remove(watch);
      watch = 0;
    }
  }
  hold.endRequested = nullptr;
  hold.held = false;
}

}  // namespace pantoline::ui
