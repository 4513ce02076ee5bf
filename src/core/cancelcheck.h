#pragma once

#include "core/atomicfile.h"
#include "core/workprogress.h"

// The check an atomic write of cancellable work passes last: a file whose
// work was cancelled while the library finished it (a step that cannot be
// stopped half-way) never replaces the older one. None without progress.
inline AtomicFile::Check notCancelled(const WorkProgress *progress)
{
    if (!progress)
        return {};
    return [progress](const QString &, QString *error) {
        if (!progress->isCancelled())
            return true;
        *error = WorkProgress::cancelledMessage();
        return false;
    };
}
