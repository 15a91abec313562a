#pragma once

// Whether a window can be shown: Qt aborts the program when its platform
// plugin finds no display, so the programs ask first and say what to do.
namespace platform {

// True when DISPLAY or WAYLAND_DISPLAY is set, or when QT_QPA_PLATFORM names
// a platform that needs neither (offscreen, minimal, vnc, the frame buffer).
bool ecran_disponible();

} // namespace platform
