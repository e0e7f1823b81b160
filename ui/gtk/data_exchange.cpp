// Data exchange and control objects on GTK 3: member values put into a
// dialog's controls, and the progress bar whose range and position a
// ProgressBar keeps on the bar's widget.
#include <gtk/gtk.h>

#include <algorithm>
#include <string>

#include "ui/gtk/dialog_parts.h"

namespace pantoline::ui {

using gtk::Trace;

namespace {

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

}  // namespace

GtkWidget* gtk::NewProgressBar() {
  GtkWidget* bar = gtk_progress_bar_new();
  g_object_set_data_full(G_OBJECT(bar), kProgressKey, new ProgressRange,
                         [](gpointer range) { delete static_cast<ProgressRange*>(range); });
  return bar;
}

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
