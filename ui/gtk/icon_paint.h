// The program's icon (ui/icon_art.h) as a GdkPixbuf, for the window and
// for the desktop's icon theme.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace pantoline::ui::gtk {

// The icon `size` pixels square, a new reference owned by the caller.
// Painted from the larger image that `size` is a whole multiple of, each
// pixel a square block, so that every size stays crisp; scaled smoothly
// from the 32-pixel image where neither fits.
GdkPixbuf* PaintIcon(int size);

}  // namespace pantoline::ui::gtk
