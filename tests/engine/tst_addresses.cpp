// Share handles, base-36 ids, share links and page addresses, the password
// hash and the syntax checks.

#include "enginefixture.h"
#include "serveroptions.h"
#include "shareaddress.h"

#include <QCryptographicHash>

#include <limits>

class TestAddresses : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void base36_data();
    void base36();
    void base36NeverStartsWithALetter();
    void base36OfNegativeValues();

    void handles();
    void shareLinks();
    void pageAddresses();

    void passwordHash();
    void mailSyntax_data();
    void mailSyntax();
    void passwordSyntax_data();
    void passwordSyntax();

private:
    EngineStore *store = nullptr;
};

void TestAddresses::init()
{
    store = new EngineStore;
    QVERIFY(store->opened);
}

void TestAddresses::cleanup()
{
    delete store;
    store = nullptr;
}

void TestAddresses::base36_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << QStringLiteral("0");
    QTest::newRow("9") << qint64(9) << QStringLiteral("9");
    QTest::newRow("10") << qint64(10) << QStringLiteral("0q");
    QTest::newRow("35") << qint64(35) << QStringLiteral("0m");
    QTest::newRow("36") << qint64(36) << QStringLiteral("10");
    QTest::newRow("100") << qint64(100) << QStringLiteral("2l");
    QTest::newRow("12345") << qint64(12345) << QStringLiteral("9ob");
    QTest::newRow("46656") << qint64(46656) << QStringLiteral("1000");
    // 36^12 - 1 = 4738381338321616895: twelve times the last digit, behind the "0".
    QTest::newRow("36^12-1") << qint64(4738381338321616895LL) << QStringLiteral("0mmmmmmmmmmmm");
}

void TestAddresses::base36()
{
    QFETCH(qint64, value);
    QFETCH(QString, text);
    QCOMPARE(encodeBase36(value), text);
}

void TestAddresses::base36NeverStartsWithALetter()
{
    const QList<qint64> values{1, 11, 20, 35, 360, 1295, 1296, 1679615, std::numeric_limits<qint64>::max()};
    for (const qint64 value : values) {
        const QString text = encodeBase36(value);
        QVERIFY2(text.at(0).isDigit(), qPrintable(text));
        // Decoding gives the value back.
        quint64 decoded = 0;
        for (const QChar c : text)
            decoded = decoded * 36 + quint64(handleAlphabet.indexOf(c));
        QCOMPARE(decoded, quint64(value));
    }
}

void TestAddresses::base36OfNegativeValues()
{
    // No caller passes a negative id; if one does, the text says so with a
    // minus sign in front of the text of the magnitude, so that two ids never
    // share a text.
    QCOMPARE(encodeBase36(-10), QStringLiteral("-0q"));
    QCOMPARE(encodeBase36(-36), QStringLiteral("-10"));
    QCOMPARE(encodeBase36(std::numeric_limits<qint64>::min()),
             QLatin1Char('-') + encodeBase36(std::numeric_limits<qint64>::max()).chopped(1) + QLatin1Char('8'));
}

void TestAddresses::handles()
{
    QCOMPARE(handleAlphabet.size(), 36);
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMember(skrin, QStringLiteral("handle"), QStringLiteral("ab1cd"));
    QVERIFY(isHandleInUse(QStringLiteral("ab1cd")));
    QVERIFY(!isHandleInUse(QStringLiteral("AB1CD")));
    QVERIFY(!isHandleInUse(QStringLiteral("zzzzz")));

    QSet<QString> drawn;
    for (int i = 0; i < 200; ++i) {
        const QString handle = randomHandle();
        QCOMPARE(handle.size(), 5);
        for (const QChar c : handle)
            QVERIFY(handleAlphabet.contains(c));
        QVERIFY(handle != QStringLiteral("ab1cd"));
        drawn.insert(handle);
    }
    QVERIFY(drawn.size() > 190); // 36^5 handles: repeats are rare

    // A handle is in use as soon as a row holds it, before any commit, and
    // free again once that row is gone.
    const QString handle = randomHandle();
    const Id other = createItem(QStringLiteral("skrin"));
    setMember(other, QStringLiteral("handle"), handle);
    QVERIFY(isHandleInUse(handle));
    removeItem(other);
    QVERIFY(!isHandleInUse(handle));
}

void TestAddresses::shareLinks()
{
    const Id own = createItem(QStringLiteral("skrin"));
    QCOMPARE(shareUrl(own, QStringLiteral("ab1cd")), QString()); // no template yet

    setServerOption(QStringLiteral("handle_url"), QStringLiteral("x/%user%/%handle%%options%"));
    // The user's own item: owner 0 stands for the logged-in user.
    setOption(QStringLiteral("user"), qint64(36));
    QCOMPARE(shareUrl(own, QStringLiteral("ab1cd")), QStringLiteral("x/10/ab1cd"));

    // Someone else's item keeps its owner.
    const int items = Database::tableId(QStringLiteral("items"));
    Database::insertRow(items, {{Database::columnId(items, QStringLiteral("id")), QVariant(Id(900))},
                                {Database::columnId(items, QStringLiteral("type")), QStringLiteral("skrin")},
                                {Database::columnId(items, QStringLiteral("owner")), QVariant(qint64(100))}});
    QCOMPARE(shareUrl(900, QStringLiteral("ab1cd")), QStringLiteral("x/2l/ab1cd"));

    // Every occurrence is replaced, case-sensitively.
    setServerOption(QStringLiteral("handle_url"),
                    QStringLiteral("http://h/%handle%/%HANDLE%/%user%-%user%?%options%&o=%options%"));
    QCOMPARE(shareUrl(own, QStringLiteral("q1w2e")), QStringLiteral("http://h/q1w2e/%HANDLE%/10-10?&o="));

    // A handle is text from the service: it cannot break the address or fill
    // in a placeholder.
    setServerOption(QStringLiteral("handle_url"), QStringLiteral("http://h/s?h=%handle%%options%"));
    QCOMPARE(shareUrl(own, QStringLiteral("a&b=%options%")), QStringLiteral("http://h/s?h=a%26b%3D%25options%25"));
}

void TestAddresses::pageAddresses()
{
    const QString base = defaultServerUrl();
    QVERIFY(base.startsWith(QStringLiteral("http://")));
    QVERIFY(!base.endsWith(QLatin1Char('/')));
    // The "server" option moves the sync endpoint, not the pages.
    setServerOption(QStringLiteral("server"), QStringLiteral("http://127.0.0.1:1/tavrin-engine"));

    QCOMPARE(upgradePageUrl(), base + QStringLiteral("/p/upgrade?uid=0"));
    setOption(QStringLiteral("user"), qint64(46656));
    QCOMPARE(upgradePageUrl(), base + QStringLiteral("/p/upgrade?uid=1000"));
    QCOMPARE(resendPageUrl(), base + QStringLiteral("/p/resend?uid=1000"));
    QCOMPARE(loginPageUrl(), base + QStringLiteral("/p/_login"));

    QCOMPARE(sharePageUrl(36, QStringLiteral("ab1cd"), QStringLiteral("twitter")),
             base + QStringLiteral("/p/_share?uid=10&handle=ab1cd&type=twitter"));
    QCOMPARE(sharePageUrl(36, QStringLiteral("%TYPE%"), QStringLiteral("face book")),
             base + QStringLiteral("/p/_share?uid=10&handle=%25TYPE%25&type=face%20book"));
}

void TestAddresses::passwordHash()
{
    QCOMPARE(sha1Hex(QString()), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    QCOMPARE(sha1Hex(QStringLiteral("")), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    QCOMPARE(sha1Hex(QStringLiteral("abc")), QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
    // Latin-1, not UTF-8: "é" is the one byte E9.
    QCOMPARE(sha1Hex(QStringLiteral("caf\u00e9")),
             QString::fromLatin1(QCryptographicHash::hash("caf\xe9", QCryptographicHash::Sha1).toHex()));
    // Beyond Latin-1 every UTF-16 unit hashes like a question mark.
    QCOMPARE(sha1Hex(QStringLiteral("has\u0142o")), sha1Hex(QStringLiteral("has?o")));
    QCOMPARE(sha1Hex(QString::fromUtf8("x\xf0\x9f\x98\x80")), sha1Hex(QStringLiteral("x??")));
    QCOMPARE(sha1Hex(QStringLiteral("ABC")).size(), 40);
    QCOMPARE(sha1Hex(QStringLiteral("ABC")), sha1Hex(QStringLiteral("ABC")).toLower());
}

void TestAddresses::mailSyntax_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QStringLiteral("ann@example.com") << true;
    QTest::newRow("capitals, dots, underscores") << QStringLiteral("Ann.Marie_O-Neil@Mail.Example.CO.UK") << true;
    QTest::newRow("six-letter last label") << QStringLiteral("a@example.museum") << true;
    QTest::newRow("seven-letter last label") << QStringLiteral("a@example.abcdefg") << false;
    QTest::newRow("ends in a dot") << QStringLiteral("a@example.com.") << false;
    QTest::newRow("trailing newline") << QStringLiteral("a@example.com\n") << false;
    QTest::newRow("leading space") << QStringLiteral(" a@example.com") << false;
    QTest::newRow("one-character label") << QStringLiteral("a@x.com") << false;
    QTest::newRow("label starts with a hyphen") << QStringLiteral("a@-ab.com") << false;
    QTest::newRow("no local part") << QStringLiteral("@example.com") << false;
    QTest::newRow("two at signs") << QStringLiteral("a@b@example.com") << false;
    QTest::newRow("space inside") << QStringLiteral("a b@example.com") << false;
    QTest::newRow("plus sign") << QStringLiteral("a+b@example.com") << false;
    QTest::newRow("digit in last label") << QStringLiteral("a@example.c0m") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestAddresses::mailSyntax()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidMail(text), valid);
}

void TestAddresses::passwordSyntax_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("four characters") << QStringLiteral("abcd") << false;
    QTest::newRow("four digits") << QStringLiteral("1234") << false;
    QTest::newRow("ab-12") << QStringLiteral("ab-12") << true;
    QTest::newRow("mixed case") << QStringLiteral("AbCdEf99") << true;
    QTest::newRow("space") << QStringLiteral("abc de") << false;
    QTest::newRow("trailing newline") << QStringLiteral("abcde\n") << false;
    QTest::newRow("non-ASCII letter") << QStringLiteral("h\u0105s\u0142o1") << false;
    QTest::newRow("underscore") << QStringLiteral("ab_cd") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestAddresses::passwordSyntax()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidPassword(text), valid);
}

QTEST_MAIN(TestAddresses)
#include "tst_addresses.moc"
