// Server options and the account values read from them, on the real store in
// a temporary folder.

#include "enginefixture.h"
#include "serveroptions.h"

#include <QSignalSpy>

#include <limits>

namespace {

const QString serverOption = QStringLiteral("server_option");

// A server option as a commit answer leaves it: an items row and a
// server_option row under a server id, nothing uncommitted.
void storeServerOption(Id id, const QString &name, const QVariant &value)
{
    const int items = Database::tableId(QStringLiteral("items"));
    Database::insertRow(items, {{Database::columnId(items, QStringLiteral("id")), QVariant(id)},
                                {Database::columnId(items, QStringLiteral("type")), serverOption},
                                {Database::columnId(items, QStringLiteral("owner")), QVariant(qint64(7))}});
    const int table = Database::tableId(serverOption);
    Database::insertRow(table, {{Database::columnId(table, QStringLiteral("id")), QVariant(id)},
                                {Database::columnId(table, QStringLiteral("name")), name},
                                {Database::columnId(table, QStringLiteral("value")), value}});
}

QList<Id> optionIds(const QString &name)
{
    QList<Id> ids = findItems({{QStringLiteral("type"), serverOption}, {QStringLiteral("name"), name}});
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void settingCreatesOneItemAndRecordsChangesOnce();
    void settingWritesEveryItemOfTheName();
    void settingWithoutNameIsRefused();
    void duplicatesKeepTheFirstInRowOrder();
    void duplicatesAfterTheirOwnRemoval();

    void accountExpiry_data();
    void accountExpiry();
    void accountValuesAfterRestart();
    void userMailFallsBackToTheLocalOption();
    void limitsAndCounts();

    void shortcutKeysPreferThePlatformEntry();

private:
    EngineStore *store = nullptr;
};

void TestOptions::init()
{
    store = new EngineStore;
    QVERIFY(store->opened);
}

void TestOptions::cleanup()
{
    delete store;
    store = nullptr;
}

void TestOptions::settingCreatesOneItemAndRecordsChangesOnce()
{
    setServerOption(QStringLiteral("quality"), 90);
    const QList<Id> ids = optionIds(QStringLiteral("quality"));
    QCOMPARE(ids.size(), 1);
    QVERIFY(ids.first() < 0);
    QCOMPARE(serverOptionValue(QStringLiteral("quality"), 85).toInt(), 90);
    QCOMPARE(rowsOf("uncommitted_create"), 1);
    QCOMPARE(rowsOf("uncommitted_set"), 2);

    const QVariant before = rowsWhere("uncommitted_set", "member", QStringLiteral("value")).first().value(2);
    setServerOption(QStringLiteral("quality"), 90);
    QCOMPARE(rowsOf("server_option"), 1);
    QCOMPARE(rowsOf("uncommitted_create"), 1);
    QCOMPARE(rowsOf("uncommitted_set"), 2);
    QCOMPARE(rowsWhere("uncommitted_set", "member", QStringLiteral("value")).first().value(2), before);

    setServerOption(QStringLiteral("quality"), 70);
    QCOMPARE(rowsOf("server_option"), 1);
    QCOMPARE(serverOptionValue(QStringLiteral("quality")).toInt(), 70);
}

void TestOptions::settingWritesEveryItemOfTheName()
{
    storeServerOption(40, QStringLiteral("ext"), QStringLiteral(".png"));
    storeServerOption(41, QStringLiteral("ext"), QStringLiteral(".bmp"));
    setServerOption(QStringLiteral("ext"), QStringLiteral(".jpg"));
    QCOMPARE(rowsOf("server_option"), 2);
    QCOMPARE(getMember(40, QStringLiteral("value")).toString(), QStringLiteral(".jpg"));
    QCOMPARE(getMember(41, QStringLiteral("value")).toString(), QStringLiteral(".jpg"));
    QCOMPARE(rowsWhere("uncommitted_set", "member", QStringLiteral("value")).size(), 2);
    QCOMPARE(rowsOf("uncommitted_create"), 0);
}

void TestOptions::settingWithoutNameIsRefused()
{
    storeServerOption(40, QStringLiteral("ext"), QStringLiteral(".png"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("without a name")));
    setServerOption(QString(), 1);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("without a name")));
    setServerOption(QStringLiteral(""), 1);
    QCOMPARE(rowsOf("server_option"), 1);
    QCOMPARE(serverOptionValue(QStringLiteral("ext")).toString(), QStringLiteral(".png"));
}

void TestOptions::duplicatesKeepTheFirstInRowOrder()
{
    // Row order, not id order, decides which one stays.
    storeServerOption(50, QStringLiteral("quality"), 60);
    storeServerOption(20, QStringLiteral("quality"), 70);
    storeServerOption(30, QStringLiteral("Quality"), 75);
    setServerOption(QStringLiteral("view"), QStringLiteral("{}"));
    storeServerOption(70, QStringLiteral("quality"), 80);
    const Id view = optionIds(QStringLiteral("view")).first();

    QSignalSpy commits(TavrinConnector::instance(), &TavrinConnector::commitSignal);
    removeDuplicateServerOptions();

    QCOMPARE(optionIds(QStringLiteral("quality")), QList<Id>{50});
    QCOMPARE(optionIds(QStringLiteral("Quality")), QList<Id>{30});
    QCOMPARE(optionIds(QStringLiteral("view")), QList<Id>{view});
    QCOMPARE(serverOptionValue(QStringLiteral("quality")).toInt(), 60);
    QCOMPARE(rowsOf("server_option"), 3);
    // The removed ones go to the service as removals.
    QCOMPARE(rowsOf("uncommitted_remove"), 2);
    QCOMPARE(rowsWhere("uncommitted_remove", "id", QVariant(Id(20))).size(), 1);
    QCOMPARE(rowsWhere("uncommitted_remove", "id", QVariant(Id(70))).size(), 1);
    QCOMPARE(itemType(70), QString());
    QCOMPARE(commits.size(), 0); // no store operation asks for a commit itself
}

void TestOptions::duplicatesAfterTheirOwnRemoval()
{
    // Two rows carrying one id are one item: removing "the duplicate" would
    // take the kept option with it.
    storeServerOption(60, QStringLiteral("lang"), QStringLiteral("pl"));
    const int table = Database::tableId(serverOption);
    Database::insertRow(table, {{Database::columnId(table, QStringLiteral("id")), QVariant(Id(60))},
                                {Database::columnId(table, QStringLiteral("name")), QStringLiteral("lang")}});
    removeDuplicateServerOptions();
    QCOMPARE(itemType(60), serverOption);
    QCOMPARE(rowsOf("uncommitted_remove"), 0);

    // Without duplicates nothing changes.
    removeDuplicateServerOptions();
    QCOMPARE(rowsOf("server_option"), 2);
}

void TestOptions::accountExpiry_data()
{
    QTest::addColumn<QVariant>("userType");
    QTest::addColumn<QVariant>("daysLeft");
    QTest::addColumn<bool>("paid");
    QTest::addColumn<bool>("expired");

    QTest::newRow("no options") << QVariant() << QVariant() << false << false;
    QTest::newRow("free, days left") << QVariant(0) << QVariant(30) << false << false;
    QTest::newRow("free, no days") << QVariant(0) << QVariant(0) << false << false;
    QTest::newRow("text type") << QVariant(QStringLiteral("pro")) << QVariant(3) << false << false;
    QTest::newRow("paid, days left") << QVariant(1) << QVariant(12) << true << false;
    QTest::newRow("paid as text") << QVariant(QStringLiteral("2")) << QVariant(QStringLiteral("5")) << true << false;
    QTest::newRow("paid, no days") << QVariant(1) << QVariant(0) << true << true;
    QTest::newRow("paid, days absent") << QVariant(1) << QVariant() << true << true;
}

void TestOptions::accountExpiry()
{
    QFETCH(QVariant, userType);
    QFETCH(QVariant, daysLeft);
    QFETCH(bool, paid);
    QFETCH(bool, expired);
    if (userType.isValid())
        setServerOption(QStringLiteral("user_type"), userType);
    if (daysLeft.isValid())
        setServerOption(QStringLiteral("days_left"), daysLeft);
    QCOMPARE(isPaidAccount(), paid);
    QCOMPARE(isAccountExpired(), expired);
    QCOMPARE(isPaidAccountActive(), paid && !expired);
}

void TestOptions::accountValuesAfterRestart()
{
    // Stored values come back as text from the file.
    setServerOption(QStringLiteral("user_type"), 1);
    setServerOption(QStringLiteral("days_left"), 0);
    setServerOption(QStringLiteral("file_limit"), 10485760);
    QVERIFY(store->restart());
    QCOMPARE(serverOptionValue(QStringLiteral("file_limit")).typeId(), int(QMetaType::QString));
    QVERIFY(isPaidAccount());
    QVERIFY(isAccountExpired());
    QCOMPARE(fileLimit(), 10485760);

    setServerOption(QStringLiteral("days_left"), 4);
    QVERIFY(isPaidAccountActive());
    QCOMPARE(rowsOf("server_option"), 3);
}

void TestOptions::userMailFallsBackToTheLocalOption()
{
    QCOMPARE(userMail(), QString());
    setOption(QStringLiteral("mail"), QStringLiteral("local@example.com"));
    QCOMPARE(userMail(), QStringLiteral("local@example.com"));
    setServerOption(QStringLiteral("mail"), QStringLiteral(""));
    QCOMPARE(userMail(), QStringLiteral("local@example.com"));
    setServerOption(QStringLiteral("mail"), QVariant(QString()));
    QCOMPARE(userMail(), QStringLiteral("local@example.com"));
    setServerOption(QStringLiteral("mail"), QStringLiteral("server@example.com"));
    QCOMPARE(userMail(), QStringLiteral("server@example.com"));
    setOption(QStringLiteral("mail"), QVariant());
    QCOMPARE(userMail(), QStringLiteral("server@example.com"));
}

void TestOptions::limitsAndCounts()
{
    QCOMPARE(fileLimit(), 5242880);
    QCOMPARE(userId(), Id(0));
    QCOMPARE(minPasswordLength(), 5);

    setServerOption(QStringLiteral("file_limit"), 1000);
    QCOMPARE(fileLimit(), 1000);
    setServerOption(QStringLiteral("file_limit"), QStringLiteral("lots"));
    QCOMPARE(fileLimit(), 0);
    // A limit beyond the int range is not read as 0 (which would hold back
    // every file).
    setServerOption(QStringLiteral("file_limit"), QStringLiteral("10737418240"));
    QCOMPARE(fileLimit(), std::numeric_limits<int>::max());

    QCOMPARE(skrinCount(), 0);
    const Id first = createItem(QStringLiteral("skrin"));
    createItem(QStringLiteral("skrin"));
    createItem(QStringLiteral("skrin_text"));
    setMember(first, QStringLiteral("trashed"), 1);
    QCOMPARE(skrinCount(), 2);
}

void TestOptions::shortcutKeysPreferThePlatformEntry()
{
#if defined(Q_OS_WIN)
    QCOMPARE(platformName(), QStringLiteral("win"));
#elif defined(Q_OS_MACOS)
    QCOMPARE(platformName(), QStringLiteral("mac"));
#elif defined(Q_OS_LINUX)
    QCOMPARE(platformName(), QStringLiteral("linux"));
#endif
    const QString key = QStringLiteral("shortcut_capture");
    const QString own = platformName() + QStringLiteral("_shortcut_capture");
    QCOMPARE(platformOptionKey(key), own);

    QCOMPARE(shortcutOptionValue(key, QStringLiteral("Ctrl+Shift+S")).toString(), QStringLiteral("Ctrl+Shift+S"));
    setServerOption(key, QStringLiteral("Ctrl+F1"));
    QCOMPARE(shortcutOptionValue(key, QStringLiteral("Ctrl+Shift+S")).toString(), QStringLiteral("Ctrl+F1"));
    // Another platform's entry is not ours.
    setServerOption(QStringLiteral("other_shortcut_capture"), QStringLiteral("Ctrl+F3"));
    QCOMPARE(shortcutOptionValue(key, QVariant()).toString(), QStringLiteral("Ctrl+F1"));

    setShortcutOption(key, QStringLiteral("Ctrl+F2"));
    QCOMPARE(serverOptionValue(own).toString(), QStringLiteral("Ctrl+F2"));
    QCOMPARE(serverOptionValue(key).toString(), QStringLiteral("Ctrl+F1"));
    QCOMPARE(shortcutOptionValue(key, QStringLiteral("Ctrl+Shift+S")).toString(), QStringLiteral("Ctrl+F2"));
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
