// The Item base class and the Smoother animation.

#include "enginefixture.h"
#include "item.h"

#include <QThread>

namespace {

const QString skrin = QStringLiteral("skrin");

class Probe : public Item
{
public:
    Probe(Id id, const QString &members, const QString &smooth = QString())
        : Item(id)
    {
        watchMembers(members);
        if (!smooth.isEmpty())
            setSmooth(smooth);
    }

    int inits = 0;
    int removes = 0;
    QList<QPair<QString, QVariant>> sets;
    std::function<void()> initHook;
    std::function<void(const QString &, const QVariant &)> setHook;

    QList<double> valuesOf(const QString &member) const
    {
        QList<double> values;
        for (const auto &set : sets) {
            if (set.first == member)
                values.append(set.second.toDouble());
        }
        return values;
    }

protected:
    void init() override
    {
        ++inits;
        if (initHook)
            initHook();
    }
    void set(const QString &member, const QVariant &value) override
    {
        sets.append({member, value});
        if (setHook)
            setHook(member, value);
    }
    void remove() override { ++removes; }
};

class Glider : public Smoother
{
public:
    QList<QPair<QString, double>> calls;
    std::function<void(const QString &, double)> hook;

protected:
    void smoothed(const QString &name, double value) override
    {
        calls.append({name, value});
        if (hook)
            hook(name, value);
    }
};

} // namespace

class TestItemBase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void initRunsOnceTheRowIsComplete();
    void memberListsAreTrimmed();
    void ownWritesAreNotHeardBack();
    void writesWhileApplyingAreDropped();
    void removalAndReturn();
    void animatedMembersReachTheirTarget();
    void colours();
    void destroyedWhileANotificationIsQueued();

    void smoothToStartsRestartsAndKeeps();
    void jumpTo();
    void namesInOrderAndTimerUpkeep();
    void restartInsideFinalCallbackSurvives();
    void destroyingAnimatingSmoother();

private:
    EngineStore *store = nullptr;
};

void TestItemBase::init()
{
    store = new EngineStore;
    QVERIFY(store->opened);
}

void TestItemBase::cleanup()
{
    settle();
    delete store;
    store = nullptr;
    QVERIFY(!SmootherMaster::instance()->isTimerActive());
}

void TestItemBase::initRunsOnceTheRowIsComplete()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("t"));
    Probe complete(id, QStringLiteral("title"));
    QCOMPARE(complete.inits, 1);
    QVERIFY(complete.isInitialised());

    Probe waiting(id, QStringLiteral("title,desc"));
    QCOMPARE(waiting.inits, 0);
    setMember(id, QStringLiteral("desc"), QStringLiteral("d"));
    QCOMPARE(waiting.inits, 1);
    QCOMPARE(complete.sets, (QList<QPair<QString, QVariant>>{{QStringLiteral("desc"), QStringLiteral("d")}}));
}

void TestItemBase::memberListsAreTrimmed()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("t"));
    setMember(id, QStringLiteral("modified"), QDateTime::currentDateTime());
    Probe spaced(id, QStringLiteral("title, modified"));
    QCOMPARE(spaced.inits, 1);
    // A trailing comma must not leave the item waiting for a member "".
    Probe trailing(id, QStringLiteral("title,"));
    QCOMPARE(trailing.inits, 1);
    Probe untitled(createItem(skrin), QStringLiteral(" title ,"));
    QCOMPARE(untitled.inits, 0);
}

void TestItemBase::ownWritesAreNotHeardBack()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("t"));
    Probe probe(id, QStringLiteral("title"));
    probe.setMember(QStringLiteral("desc"), QStringLiteral("own"));
    QCOMPARE(getMember(id, QStringLiteral("desc")).toString(), QStringLiteral("own"));
    QVERIFY(probe.sets.isEmpty());

    probe.setMember(QStringLiteral("desc"), QStringLiteral("local"), true);
    QCOMPARE(probe.sets, (QList<QPair<QString, QVariant>>{{QStringLiteral("desc"), QStringLiteral("local")}}));
    probe.sets.clear();
    probe.setMember(QStringLiteral("desc"), QStringLiteral("plain"), false);
    QCOMPARE(probe.sets, (QList<QPair<QString, QVariant>>{{QStringLiteral("desc"), QStringLiteral("plain")}}));

    probe.sets.clear();
    probe.setFileMember(QStringLiteral("file"), "bytes");
    QVERIFY(probe.sets.isEmpty());
    QCOMPARE(probe.fileData(QStringLiteral("file")), QByteArray("bytes"));
    probe.writeFileMember(QStringLiteral("file"), "more");
    QCOMPARE(probe.sets.size(), 1);
    QCOMPARE(probe.memberString(QStringLiteral("title")), QStringLiteral("t"));
}

void TestItemBase::writesWhileApplyingAreDropped()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("t"));
    Probe probe(id, QStringLiteral("title"));
    probe.initHook = [&] { probe.setMember(QStringLiteral("desc"), QStringLiteral("from init")); };
    probe.setHook = [&](const QString &, const QVariant &) {
        probe.setMember(QStringLiteral("desc"), QStringLiteral("from set"));
    };
    probe.watchMembers(QStringLiteral("title"));
    QCOMPARE(probe.inits, 2);
    setMember(id, QStringLiteral("x"), 1.0);
    QCOMPARE(probe.sets.size(), 1);
    QCOMPARE(getMember(id, QStringLiteral("desc")), QVariant());
}

void TestItemBase::removalAndReturn()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("t"));
    Probe probe(id, QStringLiteral("title"));
    setMember(id, QStringLiteral("title"), QVariant());
    QCOMPARE(probe.removes, 1);
    QVERIFY(probe.isWatching());
    setMember(id, QStringLiteral("title"), QStringLiteral("back"));
    QCOMPARE(probe.inits, 2);
    probe.removeItem();
    QCOMPARE(probe.removes, 2);
    QCOMPARE(itemType(id), QString());
}

void TestItemBase::animatedMembersReachTheirTarget()
{
    const Id id = createItem(QStringLiteral("skrin_pen"));
    setMember(id, QStringLiteral("x"), 10.0);
    setMember(id, QStringLiteral("y"), 5.0);
    Probe probe(id, QStringLiteral("x, y"), QStringLiteral("x, y"));
    QCOMPARE(probe.inits, 1);

    setMember(id, QStringLiteral("x"), 20.0);
    QCOMPARE(probe.valuesOf(QStringLiteral("x")), QList<double>{10.0}); // starts where it was
    QVERIFY(probe.isSmoothing(QStringLiteral("x")));
    QTRY_VERIFY(!probe.isSmoothing(QStringLiteral("x")));
    const QList<double> values = probe.valuesOf(QStringLiteral("x"));
    QCOMPARE(values.last(), 20.0);
    for (qsizetype i = 1; i < values.size(); ++i)
        QVERIFY(values.at(i) >= values.at(i - 1) && values.at(i) <= 20.0);
    QCOMPARE(values.count(20.0), 1);

    // An own write stops the animation of that member; the next change from
    // elsewhere starts from the last target.
    setMember(id, QStringLiteral("x"), 40.0);
    probe.setMember(QStringLiteral("x"), 25.0);
    QVERIFY(!probe.isSmoothing(QStringLiteral("x")));
    probe.sets.clear();
    setMember(id, QStringLiteral("x"), 30.0);
    QCOMPARE(probe.valuesOf(QStringLiteral("x")).first(), 40.0);
    probe.jumpTo(QStringLiteral("x"), 30.0);
}

void TestItemBase::colours()
{
    QCOMPARE(colorToVariant(QColor(Qt::transparent)), QVariant(QString(QLatin1String(""))));
    QCOMPARE(colorToVariant(QColor(255, 0, 0)), QVariant(QStringLiteral("#ff0000")));
    QCOMPARE(colorToVariant(QColor(255, 0, 0, 128)), QVariant(QStringLiteral("#ff0000")));
    QCOMPARE(variantToColor(QString()), QColor(Qt::transparent));
    QCOMPARE(variantToColor(QStringLiteral("#00ff00")), QColor(0, 255, 0));
    QVERIFY(!variantToColor(QStringLiteral("no colour")).isValid());

    const Id id = createItem(QStringLiteral("skrin_pen"));
    setMember(id, QStringLiteral("x"), 1.0);
    Probe probe(id, QStringLiteral("x"));
    probe.setColor(QStringLiteral("color"), QColor(0, 0, 255));
    QCOMPARE(probe.color(QStringLiteral("color")), QColor(0, 0, 255));
    QCOMPARE(probe.sets.size(), 1);
    probe.setColor(QStringLiteral("color"), QColor(Qt::transparent));
    QCOMPARE(probe.memberString(QStringLiteral("color")), QString(QLatin1String("")));
    QCOMPARE(probe.color(QStringLiteral("color")), QColor(Qt::transparent));
}

void TestItemBase::destroyedWhileANotificationIsQueued()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("t"));
    auto *probe = new Probe(id, QStringLiteral("title"), QStringLiteral("x"));
    QThread *writer = QThread::create([id] { setMember(id, QStringLiteral("x"), 3.0); });
    writer->start();
    writer->wait();
    delete writer;
    delete probe; // before the queued notification is walked
    settle();
    QCOMPARE(getMember(id, QStringLiteral("x")).toDouble(), 3.0);
}

void TestItemBase::smoothToStartsRestartsAndKeeps()
{
    Glider glider;
    glider.smoothTo(QStringLiteral("a"), 0.0, 10.0);
    QCOMPARE(glider.calls, (QList<QPair<QString, double>>{{QStringLiteral("a"), 0.0}}));
    QVERIFY(SmootherMaster::instance()->contains(&glider));
    glider.smoothTo(QStringLiteral("a"), 0.0, 10.0);
    QCOMPARE(glider.calls.size(), 1);
    // Restarts from the running target; the given start is not used.
    glider.smoothTo(QStringLiteral("a"), 3.0, 20.0);
    QCOMPARE(glider.calls.last().second, 10.0);
    QTRY_VERIFY(!glider.isSmoothing(QStringLiteral("a")));
    QCOMPARE(glider.calls.last().second, 20.0);
    for (const auto &call : std::as_const(glider.calls))
        QVERIFY(call.second >= 0.0 && call.second <= 20.0);
    QVERIFY(!glider.stop(QStringLiteral("a")));
}

void TestItemBase::jumpTo()
{
    Glider glider;
    glider.smoothTo(QStringLiteral("a"), 0.0, 10.0);
    QVERIFY(glider.jumpTo(QStringLiteral("a"), 5.0));
    QCOMPARE(glider.calls.last().second, 5.0);
    QVERIFY(!glider.isSmoothing(QStringLiteral("a")));
    QVERIFY(!SmootherMaster::instance()->contains(&glider));
    QVERIFY(!glider.jumpTo(QStringLiteral("b"), 7.0));
    QCOMPARE(glider.calls.size(), 3);
    QCOMPARE(glider.calls.last(), qMakePair(QStringLiteral("b"), 7.0));
}

void TestItemBase::namesInOrderAndTimerUpkeep()
{
    Glider glider;
    glider.smoothTo(QStringLiteral("b"), 0.0, 1.0);
    glider.smoothTo(QStringLiteral("a"), 0.0, 1.0);
    glider.calls.clear();
    QVERIFY(glider.advance());
    QCOMPARE(glider.calls.size(), 2);
    QCOMPARE(glider.calls.at(0).first, QStringLiteral("a"));
    QCOMPARE(glider.calls.at(1).first, QStringLiteral("b"));
    QVERIFY(glider.stop(QStringLiteral("a")));
    QVERIFY(SmootherMaster::instance()->contains(&glider));
    QVERIFY(SmootherMaster::instance()->isTimerActive());
    QTRY_VERIFY(!glider.isSmoothing(QStringLiteral("b")));
    QVERIFY(!SmootherMaster::instance()->isTimerActive());
    glider.smoothTo(QStringLiteral("c"), 0.0, 1.0);
    QVERIFY(SmootherMaster::instance()->isTimerActive());
    glider.stop(QStringLiteral("c"));
    QVERIFY(!SmootherMaster::instance()->isTimerActive());
}

// Fault 3: a restart made inside the final callback of the same name is kept.
void TestItemBase::restartInsideFinalCallbackSurvives()
{
    Glider glider;
    bool restarted = false;
    glider.hook = [&](const QString &name, double value) {
        if (!restarted && value == 10.0) {
            restarted = true;
            glider.smoothTo(name, 10.0, 20.0);
        }
    };
    glider.smoothTo(QStringLiteral("a"), 0.0, 10.0);
    QTRY_VERIFY(restarted);
    QVERIFY(glider.isSmoothing(QStringLiteral("a")));
    QTRY_VERIFY(!glider.isSmoothing(QStringLiteral("a")));
    QCOMPARE(glider.calls.last().second, 20.0);
}

void TestItemBase::destroyingAnimatingSmoother()
{
    auto *doomed = new Glider;
    Glider other;
    other.hook = [&](const QString &, double) {
        delete doomed;
        doomed = nullptr;
    };
    doomed->smoothTo(QStringLiteral("a"), 0.0, 1.0);
    other.smoothTo(QStringLiteral("a"), 0.0, 1.0); // deletes doomed at once
    QVERIFY(!doomed);
    QTRY_VERIFY(!other.isSmoothing(QStringLiteral("a")));
    QVERIFY(!SmootherMaster::instance()->isTimerActive());
}

QTEST_MAIN(TestItemBase)
#include "tst_itembase.moc"
