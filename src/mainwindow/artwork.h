#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

// Pictures the windows carry, drawn in code so that no image files are needed.
namespace Artwork {

// A pencil on a notepad, 32 × 32.
QPixmap notepad();
// The application icon in 16 to 256 pixels.
QIcon applicationIcon();
// The application icon at one size, size × size (also written as the
// installed icon files).
QImage applicationIconImage(int size);
// The same drawing as an SVG document, for the scalable icon.
QByteArray applicationIconSvg();

} // namespace Artwork
