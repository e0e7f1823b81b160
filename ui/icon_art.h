// The program's icon, drawn once for every platform: a handheld GPS unit,
// its antenna up, whose screen shows a circular reset arrow, above its
// keys. Two images in the 16 colours of the classic desktop palette, one
// letter a pixel, '.' transparent:
//   k black  m maroon  G green   o olive   n navy  p purple   t teal  s silver
//   g grey   r red     l lime    y yellow  b blue  f fuchsia  a aqua  w white
// The Linux program paints it, the build makes the desktop's PNG icons
// from it and ui/win32/make_icon.py the Windows .ico.
#pragma once

#include <cstdint>

namespace pantoline::ui {

inline constexpr const char* kIconLarge[32] = {
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

inline constexpr const char* kIconSmall[16] = {
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

// 0xRRGGBB.
constexpr std::uint32_t IconColour(char letter) {
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

}  // namespace pantoline::ui
