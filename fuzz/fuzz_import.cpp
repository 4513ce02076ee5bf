// Workbook bytes in, contact list out: the import as the user triggers it.
#include "exchange/contactimport.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The readers work on files, so the input goes through one.
    static const QString path =
        QStringLiteral("/dev/shm/lanzhou-fuzz-%1.xls").arg(qint64(::getpid()));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    ContactList imported;
    QString error;
    const bool ok = importContacts(path, &imported, &error);
    // Failure and contacts never come together.
    if (!ok && !imported.isEmpty())
        __builtin_trap();
    for (const Contact &contact : imported) {
        if (contact.rowId >= 0 || !contact.ticked)
            __builtin_trap();
    }
    return 0;
}
