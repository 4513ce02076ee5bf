#pragma once

#include <QString>
#include <QStringView>

// How long an SMS text is and how many messages it is sent as. A text made
// only of characters of the GSM 7-bit alphabet goes as 160 characters in one
// message, or 153 a part when it is split (the characters of its extension
// table, such as "€" or "[", take two places each). Any other text goes as
// UCS-2: 70 characters in one message, 67 a part when split.
namespace SmsLength {

struct Count
{
    qsizetype characters = 0; // what the user typed, a character each
    qsizetype messages = 0;   // 0 for an empty text
};

Count count(QStringView text);

// "N 字，M 条", as the main window shows it beside the SMS box.
QString describe(QStringView text);

} // namespace SmsLength
