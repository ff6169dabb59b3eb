#pragma once

#include <QFont>

// Makes the monitor's typefaces usable on any machine. Call once after the
// application object exists and before any window is built.
// If no "Tahoma" family is installed, loads Wine's Tahoma files
// (/usr/share/wine/fonts/tahoma.ttf, tahomabd.ttf) when they are present.
// Registers substitutes for "Tahoma" (DejaVu Sans Condensed, Liberation Sans,
// DejaVu Sans, ...) and for "Consolas" (DejaVu Sans Mono, Inconsolata,
// Liberation Mono, ...), so the window keeps a narrow sans-serif text face and
// monospaced readouts either way. Calling it again does no harm.
void installMonitorFonts();

// The window's text face: Tahoma, `pixelSize` pixels high, regular.
QFont monitorFont(int pixelSize);

// The readout face: Consolas bold, `pixelSize` pixels high, asking for a
// fixed-pitch face when a substitute is chosen; a substitute is narrowed to
// Consolas's character width.
QFont readoutFont(int pixelSize);
