#include "sending/batchrecipients.h"
#include "sending/optoutreply.h"
#include "sending/sendpacer.h"
#include "sending/sendplan.h"
#include "support/testsupport.h"

#include <QTest>

using TestSupport::makeContact;

class TestSendRules : public QObject
{
    Q_OBJECT

private slots:
    void personalText_data();
    void personalText();
    void valuesAreNotReadAsPlaceholders();
    void recipientsLeaveOutWhatMustNotBeSent();
    void emptyPlaceholdersAreCounted();
    void optOutLineIsAddedOnce();
    void unknownPlaceholdersAreNamed_data();
    void unknownPlaceholdersAreNamed();
    void pace_data();
    void pace();
    void intervalGoesByTheProgramsOwnMeasure();
    void unreadableHistoryDecidesNothing();
    void plan_data();
    void plan();
    void optOutReplies_data();
    void optOutReplies();
};

void TestSendRules::personalText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all four") << QStringLiteral("{称呼}{姓名}：{备注}，号码{手机号}")
                              << QStringLiteral("王先生王五：老客户，号码13800138000");
    QTest::newRow("repeated") << QStringLiteral("{姓名}{姓名}") << QStringLiteral("王五王五");
    QTest::newRow("unknown stays") << QStringLiteral("{生日}快乐 {姓名}")
                                   << QStringLiteral("{生日}快乐 王五");
    QTest::newRow("unclosed") << QStringLiteral("{姓名") << QStringLiteral("{姓名");
    QTest::newRow("brace before placeholder") << QStringLiteral("{{姓名}}")
                                              << QStringLiteral("{王五}");
    QTest::newRow("no placeholder") << QStringLiteral("今天下雨") << QStringLiteral("今天下雨");
}

void TestSendRules::personalText()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const Contact contact = makeContact(QStringLiteral(" 13800138000 "), QStringLiteral("王五"),
                                        QStringLiteral("王先生"), QStringLiteral("老客户"));
    QCOMPARE(PersonalText::fill(text, contact), expected);
}

void TestSendRules::valuesAreNotReadAsPlaceholders()
{
    const Contact tricky = makeContact(QStringLiteral("13800138000"), QStringLiteral("{备注}"),
                                       QString(), QStringLiteral("{姓名}"));
    QCOMPARE(PersonalText::fill(QStringLiteral("{备注}{姓名}"), tricky),
             QStringLiteral("{姓名}{备注}"));
}

void TestSendRules::recipientsLeaveOutWhatMustNotBeSent()
{
    const ContactList contacts = {
        makeContact(QStringLiteral("13800000001"), QStringLiteral("甲")),
        makeContact(QStringLiteral("13800000002"), QStringLiteral("乙"), {}, {}, false),
        makeContact(QStringLiteral("1380000000"), QStringLiteral("十位")),
        makeContact(QStringLiteral("1380000000x"), QStringLiteral("字母")),
        makeContact(QStringLiteral("13800000003"), QStringLiteral("退订的")),
        makeContact(QStringLiteral(" 13800000001"), QStringLiteral("重复的")),
        makeContact(QStringLiteral("13800000004"), QStringLiteral("丁")),
    };
    const BatchRecipients selected = BatchRecipients::select(
        contacts, QStringLiteral("{姓名}好"), false, {QStringLiteral("13800000003")});
    QCOMPARE(selected.recipients.size(), 2);
    QCOMPARE(selected.recipients.at(0).mobile, QStringLiteral("13800000001"));
    QCOMPARE(selected.recipients.at(0).text, QStringLiteral("甲好"));
    QCOMPARE(selected.recipients.at(1).mobile, QStringLiteral("13800000004"));
    QCOMPARE(selected.optedOut, 1);
    QCOMPARE(selected.repeated, 1);
    QCOMPARE(selected.invalid, 2);
    QCOMPARE(selected.invalidExamples,
             (QStringList{QStringLiteral("1380000000"), QStringLiteral("1380000000x")}));
    const QString summary = selected.summary();
    for (const char *part : {"2 人", "退订名单", "重复", "1380000000x"})
        QVERIFY2(summary.contains(QString::fromUtf8(part)), part);
}

void TestSendRules::emptyPlaceholdersAreCounted()
{
    const ContactList contacts = {
        makeContact(QStringLiteral("13800000001"), QStringLiteral("甲"), QStringLiteral("先生")),
        makeContact(QStringLiteral("13800000002"), QStringLiteral(" "), QString()),
        makeContact(QStringLiteral("13800000003"), QString(), QString()),
    };
    // 70 characters make one UCS-2 message, 71 two.
    const QString text = QStringLiteral("{姓名}{称呼}") + QString(69, u'好');
    const BatchRecipients selected = BatchRecipients::select(contacts, text, false, {});
    QCOMPARE(selected.emptyPlaceholders,
             (QList<QPair<QString, qsizetype>>{{QStringLiteral("{姓名}"), 2},
                                               {QStringLiteral("{称呼}"), 2}}));
    QCOMPARE(selected.totalParts, 2 + 1 + 1);
    QVERIFY(selected.placeholderWarning().contains(QStringLiteral("{称呼}")));
}

void TestSendRules::optOutLineIsAddedOnce()
{
    const ContactList contacts = {makeContact(QStringLiteral("13800000001"), QStringLiteral("甲"))};
    for (const QString &typed : {QStringLiteral("促销"), QStringLiteral("促销回T退订")}) {
        const BatchRecipients selected = BatchRecipients::select(contacts, typed, true, {});
        QCOMPARE(selected.recipients.first().text, QStringLiteral("促销回T退订"));
    }
}

void TestSendRules::pace_data()
{
    QTest::addColumn<QTime>("now");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("perHour");
    QTest::addColumn<int>("perDay");
    QTest::addColumn<QTime>("windowStart"); // invalid: no window
    QTest::addColumn<QTime>("windowEnd");
    QTest::addColumn<QList<int>>("sentMinutesAgo"); // newest first
    QTest::addColumn<int>("waitSeconds");
    QTest::addColumn<int>("reason");

    using R = SendPacer::Reason;
    const QList<int> none;
    QTest::newRow("free") << QTime(10, 0) << 20 << 0 << 0 << QTime() << QTime() << none << 0
                          << int(R::None);
    QTest::newRow("interval") << QTime(10, 0) << 120 << 0 << 0 << QTime() << QTime()
                              << QList<int>{1} << 60 << int(R::Interval);
    QTest::newRow("interval passed") << QTime(10, 0) << 30 << 0 << 0 << QTime() << QTime()
                                     << QList<int>{1} << 0 << int(R::None);
    QTest::newRow("hour cap reached") << QTime(10, 0) << 0 << 2 << 0 << QTime() << QTime()
                                      << QList<int>{5, 50} << 10 * 60 << int(R::HourCap);
    QTest::newRow("hour cap, oldest out of the hour") << QTime(10, 0) << 0 << 2 << 0 << QTime()
                                                      << QTime() << QList<int>{5, 61} << 0
                                                      << int(R::None);
    QTest::newRow("day cap") << QTime(10, 0) << 0 << 0 << 3 << QTime() << QTime()
                             << QList<int>{1, 2, 23 * 60} << 60 * 60 << int(R::DayCap);
    QTest::newRow("before the window") << QTime(7, 30) << 0 << 0 << 0 << QTime(8, 0)
                                       << QTime(21, 0) << none << 30 * 60 << int(R::Window);
    QTest::newRow("after the window") << QTime(21, 0) << 0 << 0 << 0 << QTime(8, 0)
                                      << QTime(21, 0) << none << 11 * 3600 << int(R::Window);
    QTest::newRow("inside a window across midnight") << QTime(23, 0) << 0 << 0 << 0
                                                     << QTime(22, 0) << QTime(6, 0) << none << 0
                                                     << int(R::None);
    QTest::newRow("outside a window across midnight") << QTime(12, 0) << 0 << 0 << 0
                                                      << QTime(22, 0) << QTime(6, 0) << none
                                                      << 10 * 3600 << int(R::Window);
    // The cap ends at 21:45, outside the window: the next start of the window.
    QTest::newRow("cap runs past the window") << QTime(20, 50) << 0 << 1 << 0 << QTime(8, 0)
                                              << QTime(21, 0) << QList<int>{5} << 11 * 3600 + 10 * 60
                                              << int(R::Window);
}

void TestSendRules::pace()
{
    QFETCH(QTime, now);
    QFETCH(int, interval);
    QFETCH(int, perHour);
    QFETCH(int, perDay);
    QFETCH(QTime, windowStart);
    QFETCH(QTime, windowEnd);
    QFETCH(QList<int>, sentMinutesAgo);
    QFETCH(int, waitSeconds);
    QFETCH(int, reason);

    const QDateTime at(QDate(2026, 12, 7), now);
    BatchSettings settings;
    settings.intervalSeconds = interval;
    settings.perHour = perHour;
    settings.perDay = perDay;
    settings.windowOn = windowStart.isValid();
    settings.windowStart = windowStart;
    settings.windowEnd = windowEnd;
    const SendPacer pacer(settings, [&](int n, QDateTime *out, QString *) {
        *out = n <= sentMinutesAgo.size() ? at.addSecs(-60 * sentMinutesAgo.at(n - 1)) : QDateTime();
        return LogResult::Ok;
    });
    SendPacer::Decision decision;
    QCOMPARE(pacer.next(at, std::nullopt, &decision, nullptr), LogResult::Ok);
    QCOMPARE(at.secsTo(decision.notBefore), waitSeconds);
    QCOMPARE(int(decision.reason), reason);
    QCOMPARE(decision.describe().isEmpty(), reason == int(SendPacer::Reason::None));
}

void TestSendRules::intervalGoesByTheProgramsOwnMeasure()
{
    BatchSettings settings;
    settings.intervalSeconds = 20;
    const QDateTime now(QDate(2026, 12, 7), QTime(10, 0));
    // The log's last message an hour "ahead": the clock was set back.
    const SendPacer pacer(settings, [&](int n, QDateTime *out, QString *) {
        *out = n == 1 ? now.addSecs(3600) : QDateTime();
        return LogResult::Ok;
    });
    SendPacer::Decision decision;
    QCOMPARE(pacer.next(now, std::nullopt, &decision, nullptr), LogResult::Ok);
    QCOMPARE(now.secsTo(decision.notBefore), 20);
    // Measured by the program: 15 s ago, whatever the log says.
    QCOMPARE(pacer.next(now, now.addSecs(-15), &decision, nullptr), LogResult::Ok);
    QCOMPARE(now.secsTo(decision.notBefore), 5);
}

void TestSendRules::unreadableHistoryDecidesNothing()
{
    BatchSettings settings;
    settings.perHour = 1;
    for (const LogResult failure : {LogResult::Busy, LogResult::Failed}) {
        const SendPacer pacer(settings, [failure](int, QDateTime *out, QString *error) {
            *out = QDateTime();
            *error = QStringLiteral("数据库正忙");
            return failure;
        });
        SendPacer::Decision decision;
        QString error;
        QCOMPARE(pacer.next(QDateTime::currentDateTime(), std::nullopt, &decision, &error), failure);
        QVERIFY(!error.isEmpty());
    }
}

void TestSendRules::plan_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("perHour");
    QTest::addColumn<double>("secondsPerMessage");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<int>("endSeconds");
    QTest::addColumn<QList<int>>("shares");

    QTest::newRow("one device, by the interval") << 1 << 10 << 0 << 0.0 << 6 << 50 << QList<int>{6};
    QTest::newRow("two devices share it") << 2 << 10 << 0 << 0.0 << 6 << 20 << QList<int>{3, 3};
    QTest::newRow("an hourly cap") << 1 << 0 << 2 << 0.0 << 3 << 3600 << QList<int>{3};
    QTest::newRow("a slow device") << 1 << 1 << 0 << 2.5 << 3 << 7 << QList<int>{3};
    QTest::newRow("caps split the rest") << 3 << 0 << 1 << 0.0 << 4 << 3600 << QList<int>{2, 1, 1};
}

void TestSendRules::plan()
{
    QFETCH(int, devices);
    QFETCH(int, interval);
    QFETCH(int, perHour);
    QFETCH(double, secondsPerMessage);
    QFETCH(int, remaining);
    QFETCH(int, endSeconds);
    QFETCH(QList<int>, shares);
    BatchSettings settings;
    settings.intervalSeconds = interval;
    settings.perHour = perHour;
    const QDateTime now(QDate(2026, 12, 7), QTime(10, 0));
    QList<SendPlan::Device> planned(devices);
    for (SendPlan::Device &device : planned)
        device.secondsPerMessage = secondsPerMessage;
    const SendPlan::Result result = SendPlan::estimate(settings, planned, remaining, now);
    QCOMPARE(now.secsTo(result.end), endSeconds);
    QCOMPARE(result.shares, shares);
}

void TestSendRules::unknownPlaceholdersAreNamed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("unknown");
    QTest::newRow("none") << QStringLiteral("{姓名}您好，{称呼}") << QStringList();
    QTest::newRow("unknown name") << QStringLiteral("{未知}您好") << QStringList{QStringLiteral("{未知}")};
    QTest::newRow("doubled braces") << QStringLiteral("{{姓名}}") << QStringList{QStringLiteral("{{姓名}}")};
    QTest::newRow("space inside") << QStringLiteral("{姓名 }好")
                                  << QStringList{QStringLiteral("{姓名"), QStringLiteral("}")};
    QTest::newRow("each once") << QStringLiteral("{x}{x}") << QStringList{QStringLiteral("{x}")};
}

void TestSendRules::unknownPlaceholdersAreNamed()
{
    QFETCH(QString, text);
    QFETCH(QStringList, unknown);
    QCOMPARE(PersonalText::unknownPlaceholders(text), unknown);
    const BatchRecipients selected = BatchRecipients::select(
        {makeContact(QStringLiteral("13800000001"), QStringLiteral("甲"))}, text, false, {});
    QCOMPARE(selected.placeholderWarning().contains(QStringLiteral("不是能替换的内容")),
             !unknown.isEmpty());
}

void TestSendRules::optOutReplies_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("refuses");
    const QStringList refusals = {
        QStringLiteral("T"),       QStringLiteral("td"),       QStringLiteral("N"),
        QStringLiteral("退订"),    QStringLiteral("取消"),     QStringLiteral(" t "),
        QStringLiteral("Ｔ"),      QStringLiteral("ｔｄ"),     QStringLiteral("退订。"),
        QStringLiteral("取消！"),  QStringLiteral("T."),       QStringLiteral("TD退订"),
        QStringLiteral("回T退订"), QStringLiteral("退订 谢谢"), QStringLiteral("【退订】"),
    };
    for (const QString &reply : refusals)
        QTest::newRow(qPrintable(QStringLiteral("refuses: ") + reply)) << reply << true;
    const QStringList others = {
        QStringLiteral("N0"),        QStringLiteral("unsubscribe"), QStringLiteral("好的"),
        QStringLiteral("谢谢"),      QStringLiteral(""),            QStringLiteral("。"),
        QStringLiteral("不要退订"),  QStringLiteral("T恤多少钱"),   QStringLiteral("10086"),
    };
    for (const QString &reply : others)
        QTest::newRow(qPrintable(QStringLiteral("keeps: ") + reply)) << reply << false;
}

void TestSendRules::optOutReplies()
{
    QFETCH(QString, reply);
    QFETCH(bool, refuses);
    QCOMPARE(isOptOutReply(reply), refuses);
}

QTEST_GUILESS_MAIN(TestSendRules)
#include "test_sendrules.moc"
