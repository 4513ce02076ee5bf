#include "dialogs/qrcode.h"

#include <qrencode.h>

#include <memory>

namespace QrCode {

namespace {

constexpr int QuietZone = 4; // modules of white around the symbol

// The symbol with its quiet zone, one pixel a module.
QImage symbol(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code)
        return QImage();

    const int modules = code->width + 2 * QuietZone;
    QImage image(modules, modules, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < code->width; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y + QuietZone)) + QuietZone;
        for (int x = 0; x < code->width; ++x) {
            if (code->data[y * code->width + x] & 1) // bit 0: dark module
                line[x] = qRgb(0, 0, 0);
        }
    }
    return image;
}

} // namespace

QImage render(const QString &text, int pixelSize)
{
    return render(text, QSize(pixelSize, pixelSize));
}

QImage render(const QString &text, const QSize &size)
{
    if (size.isEmpty())
        return QImage();
    // Nearest-neighbour scaling keeps the modules sharp and fills the
    // picture exactly, even when they come out a pixel wider here and there.
    const QImage image = symbol(text);
    return image.isNull() ? image
                          : image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace QrCode
