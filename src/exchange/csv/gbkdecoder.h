#pragma once

#include <QByteArrayView>
#include <QString>

// Fast reading of GBK text (the one- and two-byte part of GB18030). The
// character of every two-byte code comes from Qt's GB18030 decoder, read once
// into a table.
namespace GbkDecoder {

// Decodes bytes made of ASCII and two-byte GBK codes only, into text's own
// buffer when it has one. False for anything else (a NUL byte, a four-byte
// GB18030 character, a byte no code starts with, a code cut short; text is
// then undefined): the caller then decodes with the full decoder, which also
// tells what is wrong.
bool decode(QByteArrayView bytes, QString *text);

} // namespace GbkDecoder
