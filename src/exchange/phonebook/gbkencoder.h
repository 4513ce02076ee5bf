#pragma once

#include <QByteArray>
#include <QStringView>

// Fast conversion to GBK. The bytes of every character come from Qt's GBK
// encoder, read once into a table: a character GBK cannot hold becomes "?"
// (one "?" also for a surrogate pair), so the result is always valid GBK.
namespace GbkEncoder {

// At most this many bytes for each UTF-16 unit.
inline constexpr int MaxBytesPerUnit = 2;

// Writes the bytes of text from out on (room for MaxBytesPerUnit bytes a
// unit) and returns the end of what was written.
char *write(char *out, QStringView text);

QByteArray encode(QStringView text);

} // namespace GbkEncoder
