#include "ui/gtk/icon_paint.h"

#include <cstdint>
#include <span>

#include "ui/icon_art.h"

namespace pantoline::ui::gtk {
namespace {

GdkPixbuf* Paint(std::span<const char* const> rows, int scale) {
  const int art = static_cast<int>(rows.size());
  const int size = art * scale;
  GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
  guchar* pixels = gdk_pixbuf_get_pixels(image);
  const int stride = gdk_pixbuf_get_rowstride(image);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const char letter = rows[static_cast<std::size_t>(y / scale)][x / scale];
      const std::uint32_t rgb = IconColour(letter);
      guchar* pixel = pixels + y * stride + x * 4;
      pixel[0] = static_cast<guchar>(rgb >> 16);
      pixel[1] = static_cast<guchar>(rgb >> 8);
      pixel[2] = static_cast<guchar>(rgb);
      pixel[3] = letter == '.' ? 0 : 255;
    }
  }
  return image;
}

}  // namespace

GdkPixbuf* PaintIcon(int size) {
  if (size % 32 == 0) {
    return Paint(kIconLarge, size / 32);
  }
  if (size % 16 == 0) {
    return Paint(kIconSmall, size / 16);
  }
  GdkPixbuf* large = Paint(kIconLarge, 1);
  GdkPixbuf* scaled = gdk_pixbuf_scale_simple(large, size, size, GDK_INTERP_HYPER);
  g_object_unref(large);
  return scaled;
}

}  // namespace pantoline::ui::gtk
