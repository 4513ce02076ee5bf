// Sends a batch through the modem named on the command line into the send
// log of a database file, the way the program does (ModemManager on the
// system bus), and exits when the batch is done; the test kills it in the
// middle and starts it again to go on.
//   batchdriver <database> start <modem id> <first mobile> <count>
//   batchdriver <database> continue
// Exit status 0 when the batch finished, 1 otherwise.

#include "core/workprogress.h"
#include "phonelink/kdeconnectphones.h"
#include "sending/modemmanagerlink.h"
#include "sending/sendingservice.h"
#include "storage/database.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int DeviceWaitMs = 30'000;

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
    if (arguments.size() < 3)
        return fail(QStringLiteral("usage: batchdriver <database> start|continue ..."));
    Database database;
    QString error;
    if (database.open(arguments.at(1), Database::Access::ReadWrite, &error)
        != Database::OpenResult::Ok)
        return fail(error);
    ModemManagerLink modems;
    KdeConnectPhones phones(QDBusConnection(QStringLiteral("no session bus")));
    SendingService service(database, modems, phones, &QDateTime::currentDateTime);

    const auto runBatch = [&service](qint64 batch) {
        BatchRunner *runner = service.run(batch);
        if (!runner) {
            QCoreApplication::exit(1);
            return;
        }
        QObject::connect(runner, &BatchRunner::phaseChanged, runner, [runner] {
            if (runner->phase() == BatchRunner::Phase::Finished)
                QCoreApplication::exit(0);
            else if (runner->phase() == BatchRunner::Phase::Paused)
                QCoreApplication::exit(1);
        });
    };
    const auto begin = [&] {
        if (arguments.at(2) == QLatin1String("start")) {
            BatchSettings settings;
            settings.deviceIds = {arguments.value(3)};
            settings.text = QStringLiteral("您好");
            QList<BatchRecipient> recipients;
            const qint64 first = arguments.value(4).toLongLong();
            for (int i = 0; i < arguments.value(5).toInt(); ++i) {
                const QString mobile = QString::number(first + i);
                recipients.append({mobile, QString(), QStringLiteral("您好 ") + mobile});
            }
            WorkProgress progress;
            qint64 batch = 0;
            if (BatchLog::prepare(database, settings, recipients, QDateTime::currentDateTime(),
                                  QDateTime(), progress, &batch, nullptr)
                != LogResult::Ok) {
                QCoreApplication::exit(1);
                return;
            }
            runBatch(batch);
            return;
        }
        service.settleInterrupted([&service, runBatch] {
            QList<QPair<qint64, int>> unfinished;
            if (service.log().unfinishedBatches(&unfinished, nullptr) != LogResult::Ok
                || unfinished.isEmpty()) {
                QCoreApplication::exit(1);
                return;
            }
            runBatch(unfinished.last().first);
        });
    };
    // The modem is known once ModemManager has answered.
    bool begun = false;
    QObject::connect(&service, &SendingService::devicesChanged, &service, [&] {
        if (!begun && !service.devices().isEmpty()) {
            begun = true;
            begin();
        }
    });
    QTimer::singleShot(DeviceWaitMs, &service, [&begun] {
        if (!begun)
            QCoreApplication::exit(1);
    });
    return application.exec();
}
