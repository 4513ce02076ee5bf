#include "commands/exportcommand.h"
#include "commands/groupcommands.h"
#include "commands/importcommand.h"
#include "commands/phonebookcommand.h"
#include "commands/workerconnection.h"
#include "exchange/xls/xlswriter.h"
#include "exchange/xlsx/xlsxwriter.h"
#include "storage/contactstore.h"
#include "storage/database.h"
#include "support/testsupport.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

namespace {

// Enough rows that the work outlasts the moment between its first report and the cancel.
constexpr int bigCount = 120000;

ContactList bigList()
{
    ContactList contacts;
    contacts.reserve(bigCount);
    for (int i = 0; i < bigCount; ++i)
        contacts.append(TestSupport::makeContact(QString::number(13900000000LL + i),
                                                 QStringLiteral("客户%1").arg(i),
                                                 QStringLiteral("先生"),
                                                 QStringLiteral("备注%1").arg(i % 977)));
    return contacts;
}

enum class CancelAt {
    Once,       // right after the start, before the work got anywhere
    FirstRows,  // once the work has reported its first rows or bytes
    LastRows,   // with the last rows reported: a writer is finishing its file
};

// A contact database in a folder of its own, with a small group and a big one.
class Fixture
{
public:
    Fixture()
    {
        const QString path = databasePath();
        m_ready = m_dir.isValid() && m_database.create(path) == Database::OpenResult::Ok
                  && (m_database.isOpen() || m_database.open(path) == Database::OpenResult::Ok);
        m_store = std::make_unique<ContactStore>(m_database);
        m_ready = m_ready
                  && m_store->addGroupWithContacts(QStringLiteral("客户"),
                                                   {TestSupport::makeContact(
                                                       QStringLiteral("13958700001"), QStringLiteral("甲"))})
                         == StoreResult::Ok
                  && m_store->addGroupWithContacts(QStringLiteral("大组"), bigList()) == StoreResult::Ok;
    }

    bool isReady() const { return m_ready; }
    QString databasePath() const { return m_dir.filePath(QStringLiteral("contacts.dat")); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }

    // The program's own connection can write: no other one holds a transaction.
    bool canWrite() { return m_store->addGroup(QStringLiteral("之后")) == StoreResult::Ok; }

    // What the database holds: every group with its number of contacts.
    QStringList summary()
    {
        QStringList groups;
        QStringList out;
        m_store->groups(&groups);
        for (const QString &group : std::as_const(groups)) {
            ContactList contacts;
            m_store->contacts(group, QString(), QString(), &contacts);
            out << QStringLiteral("%1:%2").arg(group).arg(contacts.size());
        }
        return out;
    }

private:
    QTemporaryDir m_dir;
    Database m_database;
    std::unique_ptr<ContactStore> m_store;
    bool m_ready = false;
};

} // namespace

Q_DECLARE_METATYPE(CancelAt)

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cancelLeavesEverythingAsItWas_data();
    void cancelLeavesEverythingAsItWas();

private:
    // Runs command, cancels it at the given point and waits for its end.
    static void runAndCancel(Command &command, CancelAt at);

    QTemporaryDir m_workbooks;
    ContactList m_contacts;
};

void TestCommands::initTestCase()
{
    m_contacts = bigList();
    QString error;
    QVERIFY2(writeXlsx(m_workbooks.filePath(QStringLiteral("big.xlsx")), m_contacts, &error),
             qPrintable(error));
    QVERIFY2(writeXls(m_workbooks.filePath(QStringLiteral("big.xls")), m_contacts, &error),
             qPrintable(error));
    QByteArray csv;
    for (const Contact &contact : std::as_const(m_contacts))
        csv += contact.mobile().toUtf8() + ',' + contact.name().toUtf8() + "\r\n";
    QVERIFY(TestSupport::writeAll(m_workbooks.filePath(QStringLiteral("big.csv")), csv));
}

void TestCommands::runAndCancel(Command &command, CancelAt at)
{
    QSignalSpy finished(&command, &Command::finished);
    command.start();
    if (at != CancelAt::Once) {
        // Watched without waiting: the cancel follows the report at once.
        const auto reached = [&command, at] {
            const WorkProgress &progress = command.progress();
            return at == CancelAt::FirstRows ? progress.done() > 0
                                             : progress.done() * 1000 >= progress.total() * 998
                                                   && progress.total() > 0;
        };
        QDeadlineTimer deadline(20000);
        while (!reached() && !deadline.hasExpired())
            QThread::yieldCurrentThread();
    }
    command.cancel();
    QVERIFY(finished.wait(20000));
}

void TestCommands::cancelLeavesEverythingAsItWas_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<CancelAt>("at");
    for (const char *kind : {"import xlsx", "import xls", "import csv", "export xlsx", "export xls",
                             "phone file", "save as group", "delete group"}) {
        QTest::addRow("%s at once", kind) << QString::fromLatin1(kind) << CancelAt::Once;
        // A group is deleted by one statement, which reports no rows.
        if (QByteArray(kind) != "delete group")
            QTest::addRow("%s after the first rows", kind)
                << QString::fromLatin1(kind) << CancelAt::FirstRows;
        // The file writers go on with steps that cannot stop half-way.
        if (QByteArray(kind).startsWith("export") || QByteArray(kind) == "phone file")
            QTest::addRow("%s near the end", kind) << QString::fromLatin1(kind) << CancelAt::LastRows;
    }
}

void TestCommands::cancelLeavesEverythingAsItWas()
{
    QFETCH(QString, kind);
    QFETCH(CancelAt, at);
    Fixture fixture;
    QVERIFY(fixture.isReady());
    const QStringList databaseBefore = fixture.summary();
    // An older file of the name written to must survive.
    const QString target = fixture.filePath(QStringLiteral("out.file"));
    const QByteArray older("an older file of that name");
    QVERIFY(TestSupport::writeAll(target, older));
    const QStringList entriesBefore = TestSupport::entriesOf(fixture.folder());
    // Kept open after the command, as the window keeps it.
    const auto connection = std::make_shared<WorkerConnection>(fixture.databasePath());

    std::unique_ptr<Command> command;
    ImportCommand *import = nullptr;
    if (kind.startsWith(QLatin1String("import"))) {
        const QString file = QStringLiteral("big.") + kind.section(u' ', 1);
        command = std::make_unique<ImportCommand>(m_workbooks.filePath(file));
        import = static_cast<ImportCommand *>(command.get());
    } else if (kind == QLatin1String("export xlsx")) {
        command = std::make_unique<ExportCommand>(target, m_contacts, ExportCommand::Format::Xlsx);
    } else if (kind == QLatin1String("export xls")) {
        command = std::make_unique<ExportCommand>(target, m_contacts, ExportCommand::Format::Xls);
    } else if (kind == QLatin1String("phone file")) {
        QString recipients;
        for (const Contact &contact : std::as_const(m_contacts))
            recipients += QStringLiteral("%1 %2\r\n").arg(contact.mobile(), contact.name());
        command = std::make_unique<PhoneBookCommand>(target, QStringLiteral("短信"), recipients);
    } else if (kind == QLatin1String("save as group")) {
        command = std::make_unique<SaveAsGroupCommand>(connection, QStringLiteral("新组"), m_contacts);
    } else {
        command = std::make_unique<DeleteGroupCommand>(connection, QStringLiteral("大组"));
    }

    runAndCancel(*command, at);
    QVERIFY(command->wasCancelled());
    QVERIFY(!command->succeeded());
    QCOMPARE(command->error(), WorkProgress::cancelledMessage());
    if (import)
        QVERIFY(import->takeContacts().isEmpty());
    QCOMPARE(TestSupport::readAll(target), older);
    QCOMPARE(TestSupport::entriesOf(fixture.folder()), entriesBefore);
    QCOMPARE(fixture.summary(), databaseBefore);
    QVERIFY(fixture.canWrite());
}

QTEST_GUILESS_MAIN(TestCommands)
#include "test_commands.moc"
