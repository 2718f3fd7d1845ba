#pragma once
// The main window's background and the program's mark, drawn at any size and scale (the window and
// res/art/drawart.cpp share them).

#include <QtCore/QRectF>
#include <QtCore/QSize>
#include <QtGui/QIcon>
#include <QtGui/QPalette>

class QPainter;

namespace pelloran {

// The title band, the command panel (panelWidth wide) and the frame of the list, for a window of that size.
// The band keeps its own colours; the rest is drawn in the palette's, light or dark.
void PaintBackdrop(QPainter& p, QSize size, const QPalette& palette, int panelWidth = 124);
// The program's mark: a rounded square with a wave turning into an arrow.
void PaintMark(QPainter& p, const QRectF& r);
// A picture of the resources with its twice-as-large twin (name@2x.png), whatever the scale at start.
QIcon ArtIcon(const QString& path);
// The caption button's glyph while the window is maximised: two windows, one behind the other, drawn like the
// maximise glyph at 1x and 2x.
QIcon RestoreIcon();

}  // namespace pelloran
