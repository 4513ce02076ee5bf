#pragma once

#include "core/contact.h"
#include "exchange/contactimport.h"

#include <QElapsedTimer>
#include <QVector>

#include <algorithm>
#include <ctime>
#include <sys/resource.h>

// Small helpers for the timing programs: median of repeated runs, peak memory.
namespace BenchUtil {

// Contacts an import of path yields; 0 when it fails.
inline qsizetype importedCount(const QString &path)
{
    ContactList contacts;
    QString error;
    return importContacts(path, &contacts, &error) ? contacts.size() : 0;
}

// CPU time of the calling thread in milliseconds, user and system: unlike
// the wall time it does not count the waits while other processes run.
inline double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The same for all threads of the process: work handed to a worker counts.
inline double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

template<typename Function>
double medianMs(int runs, Function &&function)
{
    QVector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        function();
        times.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The same in CPU time of the calling thread (threadCpuMs).
template<typename Function>
double medianCpuMs(int runs, Function &&function)
{
    QVector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = threadCpuMs();
        function();
        times.append(threadCpuMs() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The fastest of three runs, in milliseconds.
template<typename Function>
double bestOfThreeMs(Function &&function)
{
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        function();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

// count contacts with distinct mobiles from firstMobile on, names 客户N, the
// two salutations in turn and remarks of remarkKinds kinds.
inline ContactList generatedContacts(int count, qint64 firstMobile, const QString &oddSalutation,
                                     const QString &evenSalutation, const QString &remarkPattern, int remarkKinds)
{
    ContactList contacts;
    contacts.reserve(count);
    for (int i = 0; i < count; ++i) {
        contacts.append(Contact(QString::number(firstMobile + i), QStringLiteral("客户%1").arg(i),
                                i % 2 ? oddSalutation : evenSalutation, remarkPattern.arg(i % remarkKinds)));
    }
    return contacts;
}

// count contacts with distinct mobiles and short Chinese names and remarks.
inline ContactList makeContacts(int count)
{
    return generatedContacts(count, 13000000000LL, QStringLiteral("先生"), QStringLiteral("女士"),
                             QStringLiteral("备注%1"), 1000);
}

// count rows as a user's workbook holds them: distinct mobiles, 男/女 in the
// salutation column, remarks of a dozen characters.
inline ContactList workbookContacts(int count)
{
    return generatedContacts(count, 13900000000LL, QStringLiteral("男"), QStringLiteral("女"),
                             QStringLiteral("房间%1号，回访备注"), 997);
}

// The CSV line of a contact, line end included; every fifth remark (by
// position) quoted with a separator and a doubled quote inside.
inline void appendCsvLine(QString &text, const Contact &contact, qsizetype position)
{
    for (QStringView field : {contact.mobile(), contact.name(), contact.salutation()}) {
        text += field;
        text += u',';
    }
    if (position % 5)
        text += contact.remark();
    else
        text += QStringLiteral("\"%1, \"\"VIP\"\"\"").arg(contact.remark());
    text += QStringLiteral("\r\n");
}

inline long peakMemoryKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline double peakMemoryMb()
{
    return peakMemoryKb() / 1024.0;
}

} // namespace BenchUtil
