#include "core/fieldlimits.h"

namespace FieldLimits {

namespace {

QString tooLong(const QString &field, int limit, qsizetype count)
{
    return QStringLiteral("%1最多 %2 个字，现在有 %3 个字。").arg(field).arg(limit).arg(count);
}

} // namespace

qsizetype characterCount(QStringView text)
{
    qsizetype count = text.size();
    for (const QChar ch : text)
        if (ch.isLowSurrogate())
            --count;
    return count;
}

QString firstTooLong(const QString &group, const Contact &contact)
{
    const struct
    {
        const char *field;
        QStringView text;
        int limit;
    } fields[] = {
        {"手机号", contact.mobile(), Mobile},
        {"姓名", contact.name(), Name},
        {"称呼", contact.salutation(), Salutation},
        {"备注", contact.remark(), Remark},
    };
    for (const auto &field : fields) {
        const qsizetype count = characterCount(field.text);
        if (count > field.limit)
            return tooLong(QString::fromUtf8(field.field), field.limit, count);
    }
    const qsizetype keyCount = characterCount(group) + characterCount(contact.mobile());
    if (keyCount > Key)
        return tooLong(QStringLiteral("分组名称与手机号合计"), Key, keyCount);
    return QString();
}

QString groupNameTooLong(const QString &name)
{
    const qsizetype count = characterCount(name);
    return count > GroupName ? tooLong(QStringLiteral("分组名称"), GroupName, count) : QString();
}

} // namespace FieldLimits
