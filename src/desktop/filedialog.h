#pragma once

#include <QString>

class QWidget;

// File dialogs of the exchange commands. Tests name the next file in advance.
class FileDialog
{
public:
    // Returns the chosen path, or an empty string on cancel. selectedFilter
    // receives the filter the user picked, when asked for.
    static QString openFileName(QWidget *parent, const QString &title, const QString &folder,
                                const QString &filters);
    static QString saveFileName(QWidget *parent, const QString &title, const QString &folder,
                                const QString &filters, QString *selectedFilter = nullptr);

    // Test seam: the next dialog is not shown and returns these values
    // (an empty name stands for cancel).
    static void setNextFileName(const QString &path, const QString &filter = QString());
    static QString lastTitle();
    static QString lastFilters();

private:
    static bool takePrepared(const QString &title, const QString &filters, QString &path,
                             QString *selectedFilter);
};
