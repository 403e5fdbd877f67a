// Which stored element a command line names: a MAC in its usual spellings, a stored address,
// a stored name; a name two elements share is refused with both.
#include "app/ElementLookup.h"

#include <QTest>

using namespace nms;

namespace {

ElementRecord Record(const QString& key, const QString& name, const QString& ip)
{
    ElementRecord record;
    record.key = key;
    record.name = name;
    record.ip = ip;
    return record;
}

// Padded to the width the database stores names in, as a discovery writes them.
const QList<ElementRecord> kRecords = {
    Record("00A0C9F81E24", "STUDIO TX       ", "10.0.0.5"),
    Record("00A0C9F81E25", "SITE RX         ", "10.0.0.6"),
    Record("00A0C9F81E26", "site rx", "10.0.0.7"),
    // A name that spells another element's MAC, and one that reads as an address.
    Record("00A0C9F81E27", "00A0C9F81E24    ", "10.0.0.8"),
    Record("00A0C9F81E28", "10.0.0.99       ", "10.0.0.9"),
    // Two elements left with one address (one was renumbered and not rediscovered).
    Record("00A0C9F81E29", "OLD TX          ", "10.0.0.10"),
    Record("00A0C9F81E2A", "NEW TX          ", "10.0.0.10"),
};

} // namespace

class TestElementLookup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void macForms_data();
    void macForms();
    void find_data();
    void find();
};

void TestElementLookup::macForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::newRow("colons") << "00:a0:c9:f8:1e:24"
                            << "00A0C9F81E24";
    QTest::newRow("dashes") << "00-A0-C9-F8-1E-24"
                            << "00A0C9F81E24";
    QTest::newRow("dotted groups of four") << "00a0.c9f8.1e24"
                                           << "00A0C9F81E24";
    QTest::newRow("bare, blanks around") << "  00a0C9f81E24 "
                                         << "00A0C9F81E24";
    QTest::newRow("mixed separators") << "00:a0-c9:f8:1e:24"
                                      << "";
    QTest::newRow("five pairs") << "00:a0:c9:f8:1e"
                                << "";
    QTest::newRow("not hex") << "00:a0:c9:f8:1e:2g"
                             << "";
    QTest::newRow("eleven digits") << "00a0c9f81e2"
                                   << "";
    QTest::newRow("a name") << "STUDIO TX"
                            << "";
}

void TestElementLookup::macForms()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QCOMPARE(MacTextToElementKey(text), key);
}

void TestElementLookup::find_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("keys");
    const int found = int(ElementMatch::Kind::Found), none = int(ElementMatch::Kind::NotFound),
              several = int(ElementMatch::Kind::Ambiguous);
    QTest::newRow("MAC") << "00-a0-c9-f8-1e-25" << found << QStringList {"00A0C9F81E25"};
    QTest::newRow("MAC before a name spelling it") << "00A0C9F81E24" << found << QStringList {"00A0C9F81E24"};
    QTest::newRow("address") << "10.0.0.6" << found << QStringList {"00A0C9F81E25"};
    QTest::newRow("address with leading zeros") << "10.0.0.06" << found << QStringList {"00A0C9F81E25"};
    QTest::newRow("address stored for two") << "10.0.0.10" << several << QStringList {"00A0C9F81E29", "00A0C9F81E2A"};
    QTest::newRow("name, padding ignored") << "STUDIO TX" << found << QStringList {"00A0C9F81E24"};
    QTest::newRow("name, any case, blanks typed") << " studio tx  " << found << QStringList {"00A0C9F81E24"};
    QTest::newRow("name two share") << "Site RX" << several << QStringList {"00A0C9F81E25", "00A0C9F81E26"};
    QTest::newRow("unknown MAC is no name") << "00:a0:c9:f8:1e:99" << none << QStringList {};
    QTest::newRow("address nobody has, a name has") << "10.0.0.99" << found << QStringList {"00A0C9F81E28"};
    QTest::newRow("part of a name") << "STUDIO" << none << QStringList {};
    QTest::newRow("nothing") << "  " << none << QStringList {};
}

void TestElementLookup::find()
{
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(QStringList, keys);
    const ElementMatch match = FindElement(kRecords, text);
    QCOMPARE(int(match.kind), kind);
    QStringList got;
    for (const ElementRecord& record : match.elements)
        got.append(record.key);
    QCOMPARE(got, keys);
}

QTEST_GUILESS_MAIN(TestElementLookup)
#include "tst_elementlookup.moc"
