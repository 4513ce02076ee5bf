// Sends a batch through the modem named on the command line into the send
// log of a database file, the way the program does, and exits when the batch
// is done; the test kills it in the middle.
//   batchdriver <database> start <modem id> <first mobile> <count>
//   batchdriver <database> continue <modem id>
// Exit status 0 when the batch finished, 1 otherwise.

#include "sending/sendinghub.h"
#include "storage/database.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int DeviceWaitMs = 10'000;

int fail(const QString &message)
{
    std::fprintf(stderr, "%s\n", message.toUtf8().constData());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 4)
        return fail(QStringLiteral("usage: batchdriver <database> start|continue <modem> ..."));
    Database database;
    QString error;
    if (database.open(arguments.at(1), Database::Access::ReadWrite, &error)
        != Database::OpenResult::Ok)
        return fail(error);
    SendingHub hub(database, QDBusConnection::systemBus(),
                   QDBusConnection(QStringLiteral("no session bus")), &QDateTime::currentDateTime);
    const SendDevice modem{BatchSettings::Channel::Modem, arguments.at(3), QString()};

    const auto runBatch = [&hub, &modem](qint64 batch) {
        BatchSummary summary;
        if (!hub.log().batch(batch, &summary, nullptr)) {
            QCoreApplication::exit(1);
            return;
        }
        BatchRunner *runner = hub.makeRunner(batch, summary.settings, modem);
        QObject::connect(runner, &BatchRunner::phaseChanged, runner, [runner] {
            if (runner->phase() == BatchRunner::Phase::Finished)
                QCoreApplication::exit(0);
            else if (runner->phase() == BatchRunner::Phase::Paused)
                QCoreApplication::exit(1);
        });
        runner->start();
    };
    const auto begin = [&] {
        if (arguments.at(2) == QLatin1String("start")) {
            QList<BatchRecipient> recipients;
            const qint64 first = arguments.value(4).toLongLong();
            for (int i = 0; i < arguments.value(5).toInt(); ++i) {
                const QString mobile = QString::number(first + i);
                recipients.append({mobile, QString(), QStringLiteral("您好 ") + mobile});
            }
            BatchSettings settings;
            settings.deviceId = modem.id;
            qint64 batch = 0;
            if (hub.log().createBatch(settings, recipients, QDateTime::currentDateTime(), &batch,
                                      nullptr)
                != LogWrite::Written) {
                QCoreApplication::exit(1);
                return;
            }
            runBatch(batch);
            return;
        }
        hub.settleInterrupted([&hub, runBatch] {
            QList<qint64> batches;
            int waiting = 0;
            if (!hub.log().interruptedBatches(&batches, &waiting, nullptr) || batches.isEmpty()) {
                QCoreApplication::exit(1);
                return;
            }
            runBatch(batches.last());
        });
    };
    // The modem is known once ModemManager has answered.
    bool begun = false;
    QObject::connect(&hub, &SendingHub::devicesChanged, &hub, [&] {
        if (!begun && !hub.devices().isEmpty()) {
            begun = true;
            begin();
        }
    });
    QTimer::singleShot(DeviceWaitMs, &hub, [&begun] {
        if (!begun)
            QCoreApplication::exit(1);
    });
    return application.exec();
}
