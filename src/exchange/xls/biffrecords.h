#pragma once

#include <QtGlobal>

// Record numbers of the Excel 97-2003 workbook stream (BIFF8), shared by the
// reader and the writer.
namespace BiffRecord {

constexpr quint16 Bof = 0x0809;
constexpr quint16 Eof = 0x000A;
constexpr quint16 FilePass = 0x002F;
constexpr quint16 Codepage = 0x0042;
constexpr quint16 DateMode = 0x0022;
constexpr quint16 Window1 = 0x003D;
constexpr quint16 Window2 = 0x023E;
constexpr quint16 Font = 0x0031;
constexpr quint16 Format = 0x041E;
constexpr quint16 Xf = 0x00E0;
constexpr quint16 Style = 0x0293;
constexpr quint16 BoundSheet = 0x0085;
constexpr quint16 Sst = 0x00FC;
constexpr quint16 Continue = 0x003C;
constexpr quint16 ColInfo = 0x007D;
constexpr quint16 Dimensions = 0x0200;
constexpr quint16 LabelSst = 0x00FD;
constexpr quint16 Label = 0x0204;
constexpr quint16 Number = 0x0203;
constexpr quint16 Rk = 0x027E;
constexpr quint16 MulRk = 0x00BD;
constexpr quint16 BoolErr = 0x0205;
constexpr quint16 Formula = 0x0006;
constexpr quint16 String = 0x0207; // a formula's cached text
constexpr quint16 ShrFmla = 0x04BC;
constexpr quint16 Array = 0x0221;
constexpr quint16 Table = 0x0236;
constexpr quint16 ExtSst = 0x00FF;

} // namespace BiffRecord
