#include "core/contact.h"

#include <QTest>

class TestContact : public QObject
{
    Q_OBJECT

private slots:
    void settingOneTextKeepsTheOthers_data();
    void settingOneTextKeepsTheOthers();
};

using Texts = std::array<QString, 4>;

void TestContact::settingOneTextKeepsTheOthers_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    const QString longer = QStringLiteral("更长的一段文字😀");
    for (int field = 0; field < 4; ++field) {
        QTest::addRow("%d longer", field) << field << longer;
        QTest::addRow("%d shorter", field) << field << QStringLiteral("x");
        QTest::addRow("%d empty", field) << field << QString();
    }
}

// The texts share one string: a change of one length moves the boundaries of
// those behind it, and the boundaries count in equality.
void TestContact::settingOneTextKeepsTheOthers()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    Texts expected{QStringLiteral("13958700001"), QStringLiteral("张三"), QStringLiteral("先生"),
                   QStringLiteral("备注")};
    Contact contact(expected[0], expected[1], expected[2], expected[3], 5, false);
    using Setter = void (Contact::*)(QStringView);
    constexpr Setter setters[4] = {&Contact::setMobile, &Contact::setName, &Contact::setSalutation,
                                   &Contact::setRemark};
    (contact.*setters[field])(text);
    expected[size_t(field)] = text;

    const std::array<QStringView, 4> texts = contact.texts();
    for (size_t i = 0; i < 4; ++i)
        QCOMPARE(texts[i], expected[i]);
    QCOMPARE(contact, Contact(expected[0], expected[1], expected[2], expected[3], 5, false));

    // The same characters with a boundary elsewhere are another contact.
    QVERIFY(Contact(u"ab", u"c", {}, {}) != Contact(u"a", u"bc", {}, {}));
}

QTEST_GUILESS_MAIN(TestContact)
#include "test_contact.moc"
