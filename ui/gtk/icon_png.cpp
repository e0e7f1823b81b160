// pantoline-icon-png SIZE FILE: writes the program's icon SIZE pixels
// square as the PNG FILE. The build runs it to make the desktop's icons.
#include <cstdio>
#include <cstdlib>

#include "ui/gtk/icon_paint.h"

int main(int argc, char** argv) {
  const int size = argc == 3 ? std::atoi(argv[1]) : 0;
  if (size < 1 || size > 1024) {
    std::fputs("usage: pantoline-icon-png SIZE FILE\n", stderr);
    return 2;
  }
  GdkPixbuf* image = pantoline::ui::gtk::PaintIcon(size);
  GError* error = nullptr;
  const bool saved = gdk_pixbuf_save(image, argv[2], "png", &error, nullptr);
  g_object_unref(image);
  if (!saved) {
    std::fprintf(stderr, "pantoline-icon-png: %s: %s\n", argv[2], error->message);
    g_error_free(error);
    return 1;
  }
  return 0;
}
