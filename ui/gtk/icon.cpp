#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>
#include <span>

#include "ui/dialog.h"
#include "ui/gtk/toolkit.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {
namespace {

// The application icon, the same artwork as the Windows program's: a
// handheld GPS unit, its antenna up, whose screen shows a circular reset
// arrow, above its keys. Two images in the 16 colours of the classic
// desktop palette. One letter a pixel, '.' transparent:
//   k black  m maroon  G green   o olive   n navy  p purple   t teal  s silver
//   g grey   r red     l lime    y yellow  b blue  f fuchsia  a aqua  w white
constexpr const char* kLarge[32] = {
    ".....................kk.........",
    ".....................kk.........",
    ".....................kk.........",
    ".....................kk.........",
    ".....................kk.........",
    ".....................kk.........",
    "........kkkkkkkkkkkkkkkkkk......",
    ".......kbbbbbbbbbbbbbbbbbbk.....",
    ".......kbsssssssssssssssbnk.....",
    ".......kbskkkkkkkkkkkkkksnk.....",
    ".......kbskGGGGGGGGGGGGksnk.....",
    ".......kbskGGGGllllGGGGksnk.....",
    ".......kbskGGGllGGllGGGksnk.....",
    ".......kbskGGllGGGGllGGksnk.....",
    ".......kbskGGlGGGGllllGksnk.....",
    ".......kbskGGlGGGGGllGGksnk.....",
    ".......kbskGGlGGGGGGGGGksnk.....",
    ".......kbskGGllGGGGGlGGksnk.....",
    ".......kbskGGGllGGGllGGksnk.....",
    ".......kbskGGGGlllllGGGksnk.....",
    ".......kbskGGGGGGGGGGGGksnk.....",
    ".......kbskkkkkkkkkkkkkksnk.....",
    ".......kbssssssssssssssssnk.....",
    ".......kbbbbbbbbbbbbbbbbbnk.....",
    ".......kbbbbbbkkkkbbbbbbbnk.....",
    ".......kbbrrbkyyyykbwwbbbnk.....",
    ".......kbbrrbkykkykbwwbbbnk.....",
    ".......kbbbbbkyyyykbbbbbbnk.....",
    ".......kbbbbbbkkkkbbbbbbbnk.....",
    ".......kbbbbbbbbbbbbbbbbbnk.....",
    "........knnnnnnnnnnnnnnnnk......",
    ".........kkkkkkkkkkkkkkkk.......",
};

constexpr const char* kSmall[16] = {
    "..........k.....",
    "..........k.....",
    "..........k.....",
    "...kkkkkkkkkk...",
    "..kbbbbbbbbbbk..",
    "..kbkkkkkkkkbk..",
    "..kbkGGlllGkbk..",
    "..kbkGlGGllkbk..",
    "..kbkGlGGGGkbk..",
    "..kbkGGlllGkbk..",
    "..kbkkkkkkkkbk..",
    "..kbbbbbbbbbbk..",
    "..kbrbkyykbwbk..",
    "..kbbbbbbbbbbk..",
    "...knnnnnnnnk...",
    "....kkkkkkkk....",
};

std::uint32_t PaletteColour(char letter) {
  switch (letter) {
    case 'k': return 0x000000;
    case 'm': return 0x800000;
    case 'G': return 0x008000;
    case 'o': return 0x808000;
    case 'n': return 0x000080;
    case 'p': return 0x800080;
    case 't': return 0x008080;
    case 's': return 0xC0C0C0;
    case 'g': return 0x808080;
    case 'r': return 0xFF0000;
    case 'l': return 0x00FF00;
    case 'y': return 0xFFFF00;
    case 'b': return 0x0000FF;
    case 'f': return 0xFF00FF;
    case 'a': return 0x00FFFF;
    default: return 0xFFFFFF;  // 'w'
  }
}

GdkPixbuf* Paint(std::span<const char* const> rows) {
  const int size = static_cast<int>(rows.size());
  GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
  guchar* pixels = gdk_pixbuf_get_pixels(image);
  const int stride = gdk_pixbuf_get_rowstride(image);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const char letter = rows[static_cast<std::size_t>(y)][x];
      const std::uint32_t rgb = PaletteColour(letter);
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

Icon Icon::Load(int resourceId) {
  if (resourceId != IDR_MAINFRAME) {
    return {};
  }
  // Made once and kept for the life of the program, like a resource icon.
  static gtk::IconImages images{Paint(kLarge), Paint(kSmall)};
  return Icon(&images);
}

}  // namespace pantoline::ui
