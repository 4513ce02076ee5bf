#pragma once

#include <QString>

// Does a reply refuse further messages? Its whole text, read the way people
// type a refusal: T, TD, N, 退订 or 取消, in any width or case, alone or
// together ("TD退订"), after 回 ("回T退订"), with punctuation, spaces or a
// 谢谢 around them. Anything else ("N0", "unsubscribe", a sentence) is not.
bool isOptOutReply(const QString &text);
