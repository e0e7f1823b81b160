// pantoline-desktop-bench: the Linux program's main dialog (the program's
// own ResetDialog on its GTK layer) resetting the simulated unit at line
// rate with the largest package, on the display GDK_BACKEND names. RESET is
// pressed from the main loop, as a click would; the transfer is timed on
// the main thread from the status line's "0 bytes Sent" to its "-1 bytes
// Sent", and the bytes that crossed the line meanwhile (counted by the
// unit) give its bound at 11,520 bytes a second. Meanwhile the main
// thread's CPU time and the window's painted frames show whether the main
// thread idles between frames. Run it through
// tests/gui_gtk/with_display.sh (x11 or wayland); the desktop-bench target
// runs it on both.
#include <gtk/gtk.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "reset/reset_procedure.h"
#include "tools/bench/bench_package.h"
#include "tools/simunit/sim_unit.h"
#include "ui/gtk/toolkit.h"
#include "ui/reset_dialog.h"
#include "ui/resource_ids.h"

namespace {

namespace fs = std::filesystem;
using pantoline::ui::ResetDialog;
using pantoline::bench::NowSeconds;

constexpr double kLineBytesPerSecond = pantoline::kUnitBytesPerSecond;

double ThreadCpu() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

struct Measure {
  ResetDialog* dialog = nullptr;
  pantoline::simunit::SimUnit* unit = nullptr;
  double start = 0, end = 0, startCpu = 0, endCpu = 0;
  std::uint64_t startLine = 0, endLine = 0;
  long frames = 0, startFrames = 0, endFrames = 0;
  bool updated = false;
};

std::uint64_t LineBytes(const pantoline::simunit::SimUnit& unit) {
  const auto counts = unit.Counts();
  return counts.received + counts.sent;
}

void OnStatus(GtkEditable* entry, gpointer data) {
  auto& m = *static_cast<Measure*>(data);
  const std::string text = gtk_entry_get_text(GTK_ENTRY(entry));
  if (text == "0 bytes Sent" && m.start == 0) {
    m.start = NowSeconds();
    m.startCpu = ThreadCpu();
    m.startLine = LineBytes(*m.unit);
    m.startFrames = m.frames;
  } else if (text == "-1 bytes Sent") {
    m.end = NowSeconds();
    m.endCpu = ThreadCpu();
    m.endLine = LineBytes(*m.unit);
    m.endFrames = m.frames;
  } else if (text.starts_with("Lodestria Updated")) {
    m.updated = true;
    // EXIT, as a user ends the dialog: held until the run is over.
    gtk_button_clicked(GTK_BUTTON(m.dialog->window()->Control(pantoline::ui::IDCANCEL)));
  }
}

gboolean PressReset(gpointer data) {
  auto& m = *static_cast<Measure*>(data);
  const pantoline::ui::Dialog::Window& w = *m.dialog->window();
  g_signal_connect(w.Control(pantoline::ui::IDC_STATUS), "changed", G_CALLBACK(OnStatus), &m);
  g_signal_connect_swapped(gtk_widget_get_frame_clock(w.window), "after-paint",
                           G_CALLBACK(+[](long* frames) { ++*frames; }), &m.frames);
  gtk_button_clicked(GTK_BUTTON(w.Control(pantoline::ui::IDOK)));
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "pantoline-desktop-bench: no display; run it through with_display.sh\n");
    return 2;
  }
  std::string folder = (fs::temp_directory_path() / "pantoline-desktop-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror("pantoline-desktop-bench: mkdtemp");
    return 2;
  }
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  fs::current_path(folder);
  {
    const std::vector<std::uint8_t> bytes = pantoline::bench::MakePackage(pantoline::kPackageCapacity);
    std::ofstream("ResetPack.qv5", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  pantoline::simunit::Options options;
  options.lineRate = true;
  pantoline::simunit::SimUnit unit(options);
  std::string error;
  if (!unit.Start(&error) || !unit.PlacePortLink(1, folder, &error)) {
    std::fprintf(stderr, "pantoline-desktop-bench: %s\n", error.c_str());
    return 2;
  }

  ResetDialog dialog;
  Measure m;
  m.dialog = &dialog;
  m.unit = &unit;
  g_timeout_add(500, PressReset, &m);
  dialog.DoModal();
  pantoline::simunit::Transfer received;
  const bool completed = unit.WaitForTransfers(1, 10'000, &received) &&
                         received.end == pantoline::simunit::TransferEnd::kCompleted &&
                         received.data.size() == (pantoline::kPackageCapacity + 127u) / 128 * 128;
  unit.Stop();
  unit.RemoveLinks();
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(folder);

  const double wall = m.end - m.start;
  const double bound = static_cast<double>(m.endLine - m.startLine) / kLineBytesPerSecond;
  const double cpu = m.endCpu - m.startCpu;
  const long frames = m.endFrames - m.startFrames;
  std::printf("pantoline-desktop-bench on %s: %d bytes at line rate\n",
              G_OBJECT_TYPE_NAME(gdk_display_get_default()), pantoline::kPackageCapacity);
  std::printf("  transfer wall time   %.3f s   on the main thread, \"0 bytes Sent\" to \"-1 bytes Sent\"\n", wall);
  std::printf("  line-rate bound      %.3f s   %llu bytes on the line at 11,520 bytes a second\n", bound,
              static_cast<unsigned long long>(m.endLine - m.startLine));
  std::printf("  ratio                %.4f    goal <= 1.01   %s\n", wall / bound, wall / bound <= 1.01 ? "PASS" : "MISS");
  std::printf("  main thread CPU      %.3f s = %.1f %% of the transfer\n", cpu, 100 * cpu / wall);
  std::printf("  frames painted       %ld = %.1f a second, %.2f ms of main-thread CPU each\n", frames,
              static_cast<double>(frames) / wall, frames > 0 ? 1000 * cpu / static_cast<double>(frames) : 0.0);
  std::printf("  package received     %s\n", completed && m.updated ? "whole" : "NOT WHOLE");
  return completed && m.updated ? 0 : 1;
}
