#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// QR-code pictures of web addresses, black modules on white.
namespace QrCode {

// A square picture of pixelSize × pixelSize pixels: the symbol with a quiet
// zone of four modules around it, filling the picture. Null when the text does not fit into a symbol.
QImage render(const QString &text, int pixelSize);

// The same picture stretched to size; for picture boxes that are not quite
// square.
QImage render(const QString &text, const QSize &size);

} // namespace QrCode
