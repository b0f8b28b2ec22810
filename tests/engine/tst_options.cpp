// Server options and the account values read from them; share handles,
// base-36 ids, addresses, the password hash and the syntax checks.

#include "enginefixture.h"
#include "serveroptions.h"
#include "shareaddress.h"

#include <QCryptographicHash>

#include <limits>

namespace {

// A server option as a commit answer leaves it: an items row and a
// server_option row under a server id, nothing uncommitted.
void storeServerOption(Id id, const QString &name, const QVariant &value)
{
    insertRow("items", {{"id", id}, {"type", "server_option"}, {"owner", qint64(7)}});
    insertRow("server_option", {{"id", id}, {"name", name}, {"value", value}});
}

QList<Id> optionIds(const QString &name)
{
    QList<Id> ids = findItems({{"type", "server_option"}, {"name", name}});
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

class TestOptions : public EngineTest
{
    Q_OBJECT

private slots:
    // A new name gets one item, a known name has every item written; an equal
    // value records nothing, and a name is required.
    void settingServerOptions()
    {
        setServerOption("quality", 90);
        QCOMPARE(optionIds("quality"), QList<Id>{-1});
        const auto recorded = rowsWhere("uncommitted_set", "member", "value");
        setServerOption("quality", 90);
        QCOMPARE(rowsWhere("uncommitted_set", "member", "value"), recorded);
        storeServerOption(40, "ext", ".png");
        storeServerOption(41, "ext", ".bmp");
        setServerOption("ext", ".jpg");
        QCOMPARE(getMember(40, "value").toString() + getMember(41, "value").toString(), ".jpg.jpg");
        QCOMPARE(rowsOf("uncommitted_create"), 1);
        for (const QString &name : {QString(), QString("")}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("without a name"));
            setServerOption(name, 1);
        }
        QCOMPARE(rowsOf("server_option"), 3);
    }

    // Every client must keep the same copy, or two clients would each remove
    // the other's and lose the option: the smallest server id stays, and a
    // copy the server has not seen yet gives way to one it has. The others go
    // to the service as removals. Two rows carrying one id are one item:
    // removing "the duplicate" would take the kept option with it.
    void duplicatesKeepTheSmallestServerId()
    {
        storeServerOption(50, "quality", 60);
        storeServerOption(20, "quality", 70);
        storeServerOption(30, "Quality", 75);
        setServerOption("view", "{}");
        setServerOption("ext", ".png");
        storeServerOption(70, "quality", 80);
        storeServerOption(40, "ext", ".jpg");
        storeServerOption(60, "lang", "pl");
        insertRow("server_option", {{"id", Id(60)}, {"name", "lang"}});
        store->requests.clear();
        removeDuplicateServerOptions();
        QCOMPARE(optionIds("quality"), QList<Id>{20});
        QCOMPARE(optionIds("Quality"), QList<Id>{30});
        QCOMPARE(optionIds("view"), QList<Id>{-1});
        QCOMPARE(optionIds("ext"), QList<Id>{40});
        QCOMPARE(itemType(60), "server_option");
        QCOMPARE(serverOptionValue("quality").toInt(), 70);
        QCOMPARE(rowsOf("uncommitted_remove"), 3);
        for (const Id removed : {Id(50), Id(70), Id(-2)})
            QCOMPARE(rowsWhere("uncommitted_remove", "id", removed).size(), 1);
        QCOMPARE(store->requests.count("commit"), 0); // no store operation asks for a commit itself
    }

    void accountExpiry_data()
    {
        QTest::addColumn<QVariant>("userType");
        QTest::addColumn<QVariant>("daysLeft");
        QTest::addColumn<bool>("paid");
        QTest::addColumn<bool>("expired");
        QTest::newRow("no options") << QVariant() << QVariant() << false << false;
        QTest::newRow("text type") << QVariant("pro") << QVariant(3) << false << false;
        QTest::newRow("paid, days left") << QVariant(1) << QVariant(12) << true << false;
        QTest::newRow("paid as text") << QVariant("2") << QVariant("5") << true << false;
        QTest::newRow("paid, no days") << QVariant(1) << QVariant(0) << true << true;
        QTest::newRow("paid, days absent") << QVariant(1) << QVariant() << true << true;
    }
    void accountExpiry()
    {
        QFETCH(QVariant, userType);
        QFETCH(QVariant, daysLeft);
        QFETCH(bool, paid);
        QFETCH(bool, expired);
        if (userType.isValid())
            setServerOption("user_type", userType);
        if (daysLeft.isValid())
            setServerOption("days_left", daysLeft);
        QCOMPARE(isPaidAccount(), paid);
        QCOMPARE(isAccountExpired(), expired);
        QCOMPARE(isPaidAccountActive(), paid && !expired);
    }

    // A null or empty name is no option: the default comes back and nothing
    // is written, whatever rows the options tables hold.
    void emptyOptionNames()
    {
        setOption("alpha", 1);
        setServerOption("beta", 2);
        const int rows = rowsOf("options");
        for (const QString &name : {QString(), QStringLiteral("")}) {
            QCOMPARE(optionValue(name, 99), QVariant(99));
            QCOMPARE(serverOptionValue(name, 98), QVariant(98));
            setOption(name, 77);
        }
        QCOMPARE(optionValue("alpha"), QVariant(1));
        QCOMPARE(rowsOf("options"), rows);
        const int options = Database::tableId("options");
        QVERIFY(isNullValue(Database::lookupValue(options, 0, QVariant(QString()), 1)));
        QVERIFY(!Database::insertUnique(options, Conditions{{0, QVariant(QString())}, {1, 5}}));
        QCOMPARE(rowsOf("options"), rows);
    }

    // The mail falls back to the local option; values come back as text after
    // a restart; a file limit beyond int is not 0 (which would hold back every
    // file); trashed screenshots count.
    void accountValues()
    {
        QCOMPARE(userMail(), QString());
        setOption("mail", "local@example.com");
        setServerOption("mail", "");
        QCOMPARE(userMail(), "local@example.com");
        setServerOption("mail", QVariant(QString()));
        QCOMPARE(userMail(), "local@example.com");
        setServerOption("mail", "server@example.com");
        QCOMPARE(userMail(), "server@example.com");
        setServerOption("user_type", 1);
        setServerOption("days_left", 0);
        setServerOption("file_limit", 10485760);
        QVERIFY(store->restart());
        QCOMPARE(serverOptionValue("file_limit").typeId(), int(QMetaType::QString));
        QVERIFY(isPaidAccount() && isAccountExpired());
        QCOMPARE(fileLimit(), 10485760);
        setServerOption("file_limit", "lots");
        QCOMPARE(fileLimit(), 0);
        setServerOption("file_limit", "10737418240");
        QCOMPARE(fileLimit(), std::numeric_limits<int>::max());
        setMember(createItem("skrin"), "trashed", 1);
        createItem("skrin_text");
        QCOMPARE(skrinCount(), 1);
    }

    // The four shortcut keys prefer the running platform's own entry.
    void shortcutKeysPreferThePlatformEntry()
    {
#if defined(Q_OS_LINUX)
        QCOMPARE(platformName(), "linux");
#endif
        const QString key = "shortcut_capture", own = platformName() + "_shortcut_capture";
        QCOMPARE(shortcutOptionValue(key, "Ctrl+Shift+S").toString(), "Ctrl+Shift+S");
        setServerOption(key, "Ctrl+F1");
        setServerOption("other_shortcut_capture", "Ctrl+F3"); // another platform's entry is not ours
        QCOMPARE(shortcutOptionValue(key, "Ctrl+Shift+S").toString(), "Ctrl+F1");
        setShortcutOption(key, "Ctrl+F2");
        QCOMPARE(serverOptionValue(own).toString() + serverOptionValue(key).toString(), "Ctrl+F2Ctrl+F1");
        QCOMPARE(shortcutOptionValue(key, "Ctrl+Shift+S").toString(), "Ctrl+F2");
    }

    void base36_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "0";
        QTest::newRow("10") << qint64(10) << "0q";
        QTest::newRow("36") << qint64(36) << "10";
        // Twelve times the last digit, behind the "0".
        QTest::newRow("36^12-1") << qint64(4738381338321616895LL) << "0mmmmmmmmmmmm";
        // No caller passes a negative id; if one does, a minus sign goes in
        // front of the text of the magnitude, so that two ids never share a text.
        QTest::newRow("-10") << qint64(-10) << "-0q";
        const qint64 max = std::numeric_limits<qint64>::max();
        QTest::newRow("min") << (-max - 1) << '-' + encodeBase36(max).chopped(1) + '8';
    }
    void base36()
    {
        QFETCH(qint64, value);
        QFETCH(QString, text);
        QCOMPARE(encodeBase36(value), text);
    }

    // Handles are random; one is in use as soon as a row holds it, before any
    // commit, and free again once that row is gone.
    void handles()
    {
        QSet<QString> drawn;
        for (int i = 0; i < 200; ++i)
            drawn.insert(randomHandle());
        QVERIFY(drawn.size() > 190); // 36^5 handles: repeats are rare
        const auto inAlphabet = [](QChar c) { return handleAlphabet.contains(c); };
        for (const QString &handle : std::as_const(drawn))
            QVERIFY(handle.size() == 5 && std::all_of(handle.cbegin(), handle.cend(), inAlphabet));
        const Id skrin = createItem("skrin");
        setMember(skrin, "handle", "ab1cd");
        QVERIFY(isHandleInUse("ab1cd") && !isHandleInUse("AB1CD"));
        removeItem(skrin);
        QVERIFY(!isHandleInUse("ab1cd"));
    }

    void shareAndPageAddresses()
    {
        const Id own = createItem("skrin");
        QCOMPARE(shareUrl(own, "ab1cd"), QString()); // no template yet
        setOption("user", qint64(36)); // owner 0 stands for the logged-in user
        insertRow("items", {{"id", Id(900)}, {"type", "skrin"}, {"owner", qint64(100)}});
        setServerOption("handle_url", "x/%user%/%handle%%options%");
        QCOMPARE(shareUrl(900, "ab1cd"), "x/2l/ab1cd");
        // Every occurrence is replaced, case-sensitively.
        setServerOption("handle_url", "http://h/%handle%/%HANDLE%/%user%-%user%?%options%&o=%options%");
        QCOMPARE(shareUrl(own, "q1w2e"), "http://h/q1w2e/%HANDLE%/10-10?&o=");
        // A handle from the service cannot break the address or fill in a placeholder.
        setServerOption("handle_url", "http://h/s?h=%handle%%options%");
        QCOMPARE(shareUrl(own, "a&b=%options%"), "http://h/s?h=a%26b%3D%25options%25");
        // The "server" option moves the sync endpoint, not the pages.
        const QString base = defaultServerUrl();
        setServerOption("server", "http://127.0.0.1:1/tavrin-engine");
        QCOMPARE(resendPageUrl(), base + "/p/resend?uid=10");
        QCOMPARE(sharePageUrl(36, "%TYPE%", "face book"), base + "/p/_share?uid=10&handle=%25TYPE%25&type=face%20book");
    }

    void passwordHash()
    {
        QCOMPARE(sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
        // Latin-1, not UTF-8: "é" is the one byte E9. Beyond Latin-1 every
        // UTF-16 unit hashes like a question mark.
        const QByteArray latin1Hash = QCryptographicHash::hash("caf\xe9", QCryptographicHash::Sha1).toHex();
        QCOMPARE(sha1Hex("caf\u00e9"), QString::fromLatin1(latin1Hash));
        QCOMPARE(sha1Hex("has\u0142o"), sha1Hex("has?o"));
        QCOMPARE(sha1Hex(QString::fromUtf8("x\xf0\x9f\x98\x80")), sha1Hex("x??"));
    }

    void syntax_data()
    {
        QTest::addColumn<bool>("mail");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("mail") << true << "ann@example.com" << true;
        QTest::newRow("mail: capitals, dots") << true << "Ann.Marie_O-Neil@Mail.Example.CO.UK" << true;
        QTest::newRow("mail: six-letter last label") << true << "a@example.museum" << true;
        QTest::newRow("mail: seven-letter last label") << true << "a@example.abcdefg" << false;
        QTest::newRow("mail: trailing newline") << true << "a@example.com\n" << false;
        QTest::newRow("mail: one-character label") << true << "a@x.com" << false;
        QTest::newRow("mail: two at signs") << true << "a@b@example.com" << false;
        QTest::newRow("mail: plus sign") << true << "a+b@example.com" << false;
        QTest::newRow("password: four characters") << false << "abcd" << false;
        QTest::newRow("password: ab-12") << false << "ab-12" << true;
        QTest::newRow("password: space") << false << "abc de" << false;
        QTest::newRow("password: trailing newline") << false << "abcde\n" << false;
        QTest::newRow("password: non-ASCII letter") << false << "h\u0105s\u0142o1" << false;
    }
    void syntax()
    {
        QFETCH(bool, mail);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(mail ? isValidMail(text) : isValidPassword(text), valid);
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
