#include "sending/batchrecipients.h"
#include "sending/sendpacer.h"
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
    void pace_data();
    void pace();
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
    const SendPacer pacer(settings, [&](int n) {
        return n <= sentMinutesAgo.size() ? at.addSecs(-60 * sentMinutesAgo.at(n - 1)) : QDateTime();
    });
    const SendPacer::Decision decision = pacer.next(at);
    QCOMPARE(at.secsTo(decision.notBefore), waitSeconds);
    QCOMPARE(int(decision.reason), reason);
    QCOMPARE(decision.describe().isEmpty(), reason == int(SendPacer::Reason::None));
}

QTEST_GUILESS_MAIN(TestSendRules)
#include "test_sendrules.moc"
