#include "gui/mainwindowfixture.h"

#include <QDate>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

MainWindowFixture::MainWindowFixture()
{
    AppFolder::setOverride(m_dir.path());
}

MainWindowFixture::~MainWindowFixture()
{
    m_window.reset();
    m_session.reset();
    AppFolder::setOverride(QString());
}

bool MainWindowFixture::start()
{
    m_session = std::make_unique<AppSession>(m_dir.path());
    QString message;
    if (!m_session->start(&message)) {
        qWarning() << message;
        return false;
    }
    m_window = std::make_unique<MainWindow>(m_session->store(), m_dir.path());
    m_window->setSmsText(m_session->initialSmsText());
    m_shutdown = std::make_unique<ShutdownSequence>(*m_session, [] { return QDate(2026, 12, 6); });
    m_window->setShutdownHandler([this](const QString &sms) { return m_shutdown->run(m_window.get(), sms); });
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window.get());
}

bool MainWindowFixture::restart()
{
    m_window->close();
    m_window.reset();
    m_session.reset();
    return start();
}

void MainWindowFixture::clickGroup(const QString &name)
{
    auto *list = child<QListWidget>(QStringLiteral("List1"));
    const QList<QListWidgetItem *> items = list->findItems(name, Qt::MatchExactly);
    QVERIFY2(!items.isEmpty(), qPrintable(name));
    const QRect rect = list->visualItemRect(items.first());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

void MainWindowFixture::clickButton(const QString &name)
{
    auto *button = child<QPushButton>(name);
    QVERIFY2(button, qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList MainWindowFixture::recipientLines()
{
    QString text = child<QPlainTextEdit>(QStringLiteral("Text2"))->toPlainText();
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString MainWindowFixture::countText()
{
    return child<QLabel>(QStringLiteral("Label3"))->text();
}
