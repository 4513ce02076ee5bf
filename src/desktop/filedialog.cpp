#include "desktop/filedialog.h"

#include <QFileDialog>
#include <QQueue>

namespace {

struct PreparedAnswer
{
    QString path;
    QString filter;
};

QQueue<PreparedAnswer> &preparedAnswers()
{
    static QQueue<PreparedAnswer> answers;
    return answers;
}

QString g_lastTitle;
QString g_lastFilters;

} // namespace

QString FileDialog::openFileName(QWidget *parent, const QString &title, const QString &folder,
                                 const QString &filters)
{
    QString path;
    if (takePrepared(title, filters, path, nullptr))
        return path;
    return QFileDialog::getOpenFileName(parent, title, folder, filters);
}

QString FileDialog::saveFileName(QWidget *parent, const QString &title, const QString &folder,
                                 const QString &filters, QString *selectedFilter)
{
    QString path;
    if (takePrepared(title, filters, path, selectedFilter))
        return path;
    // The name typed is not the file written (an extension is always
    // appended), so the dialog must not ask about replacing it.
    return QFileDialog::getSaveFileName(parent, title, folder, filters, selectedFilter,
                                        QFileDialog::DontConfirmOverwrite);
}

void FileDialog::setNextFileName(const QString &path, const QString &filter)
{
    preparedAnswers().enqueue({path, filter});
}

QString FileDialog::lastTitle()
{
    return g_lastTitle;
}

QString FileDialog::lastFilters()
{
    return g_lastFilters;
}

bool FileDialog::takePrepared(const QString &title, const QString &filters, QString &path,
                              QString *selectedFilter)
{
    g_lastTitle = title;
    g_lastFilters = filters;
    if (preparedAnswers().isEmpty())
        return false;
    const PreparedAnswer answer = preparedAnswers().dequeue();
    path = answer.path;
    if (selectedFilter)
        *selectedFilter = answer.filter.isEmpty() ? filters.section(QStringLiteral(";;"), 0, 0)
                                                  : answer.filter;
    return true;
}
