#pragma once

#include <QByteArrayView>

// The compound-document (OLE2) container that .xls workbooks and encrypted
// .xlsx packages are stored in.
namespace Ole2 {

inline constexpr char signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

// True when bytes start with the container's eight-byte signature.
inline bool hasSignature(QByteArrayView bytes)
{
    return bytes.startsWith(QByteArrayView(signature, 8));
}

} // namespace Ole2
