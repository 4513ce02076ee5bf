#pragma once

#include <QIcon>
#include <QPixmap>

// Pictures the windows carry, drawn in code so that no image files are needed.
namespace Artwork {

// A pencil on a notepad, 32 × 32.
QPixmap notepad();
// The application icon in 16 and 32 pixels.
QIcon applicationIcon();

} // namespace Artwork
