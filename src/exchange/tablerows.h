#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Rows of text handed to a table writer one by one (lists other than the
// contacts: the send log, the follow-up records). The sink returns false once
// the file cannot take more; the producer returns false on a failure of its
// own, its reason in error.
using RowSink = std::function<bool(const QStringList &row)>;
using RowProducer = std::function<bool(const RowSink &sink, QString *error)>;
