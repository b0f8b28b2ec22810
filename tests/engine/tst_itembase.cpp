// The Item base class and the Smoother animation.

#include "enginefixture.h"
#include "item.h"

#include <QThread>

namespace {

const QString skrin = QStringLiteral("skrin");

// An Item that logs what it is told: "init", "set title=t", "remove".
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

    QStringList log;
    std::function<void()> hook;

    QList<double> valuesOf(const QString &member) const
    {
        QList<double> values;
        for (const QString &entry : log) {
            if (entry.startsWith("set " + member + '='))
                values.append(entry.section('=', 1).toDouble());
        }
        return values;
    }

protected:
    void init() override { record("init"); }
    void set(const QString &member, const QVariant &value) override
    {
        record("set " + member + '=' + value.toString());
    }
    void remove() override { record("remove"); }

private:
    void record(const QString &entry)
    {
        log.append(entry);
        if (hook)
            hook();
    }
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

Id titledSkrin()
{
    const Id id = createItem(skrin);
    setMember(id, "title", "t");
    return id;
}

} // namespace

class TestItemBase : public EngineTest
{
    Q_OBJECT

    void afterEach() override
    {
        QVERIFY(!SmootherMaster::instance()->isTimerActive());
    }

private slots:
    // Member lists are trimmed: a trailing comma must not leave the item
    // waiting for a member "".
    void initRunsOnceTheRowIsComplete()
    {
        const Id id = titledSkrin();
        Probe complete(id, "title,"), waiting(id, " title, desc"), untitled(createItem(skrin), " title ,");
        QCOMPARE(complete.log, QStringList{"init"});
        QVERIFY(complete.isInitialised());
        QVERIFY(waiting.log.isEmpty() && untitled.log.isEmpty());
        setMember(id, "desc", "d");
        QCOMPARE(waiting.log, QStringList{"init"});
        QCOMPARE(complete.log, (QStringList{"init", "set desc=d"}));
        // Naming "id" among the members keeps the item on its own row.
        Probe named(id, "id, title");
        QCOMPARE(named.log, QStringList{"init"});
        setMember(createItem(skrin), "title", "other");
        QCOMPARE(named.log, QStringList{"init"});
        // A row that loses a watched member is removed for the item, and comes back.
        setMember(id, "title", QVariant());
        QVERIFY(named.isWatching());
        setMember(id, "title", "back");
        named.removeItem();
        QCOMPARE(named.log, (QStringList{"init", "remove", "init", "remove"}));
        QCOMPARE(itemType(id), QString());
    }

    // Init reads the whole row once; a write to the row during init is still
    // what the item reads next.
    void initSeesWritesMadeDuringIt()
    {
        const Id id = titledSkrin();
        Probe probe(id, "title,desc");
        QVariant before, after;
        probe.hook = [&] {
            if (probe.log == QStringList{"init"}) {
                before = probe.member("title");
                setMember(id, "title", "changed");
                after = probe.member("title");
            }
        };
        setMember(id, "desc", "d");
        QCOMPARE(before.toString(), "t");
        QCOMPARE(after.toString(), "changed");
        QCOMPARE(probe.member("desc").toString(), "d");
    }

    // An item made while a new row is announced reads the row as announced,
    // unless a watcher told earlier has changed it meanwhile.
    void itemsMadeOnArrivalReadTheLatestRow()
    {
        struct TitleReader : Item
        {
            explicit TitleReader(Id id)
                : Item(id)
            {
                watchMembers("title,desc");
            }
            void init() override { seen = memberString("title"); }
            QString seen;
        };
        InterfaceRecorder first;
        first.watch({{"type", skrin}});
        std::unique_ptr<TitleReader> reader;
        bool changeFirst = false;
        first.hook = [&](const QString &event) {
            if (!event.startsWith("plus "))
                return;
            const Id id = event.section(' ', 1).toLongLong();
            if (changeFirst)
                setMember(id, "title", "changed");
            reader = std::make_unique<TitleReader>(id);
        };
        for (const bool change : {false, true}) {
            changeFirst = change;
            createItemWithMembers(skrin, {{"title", "announced"}, {"desc", "d"}});
            QCOMPARE(reader->seen, change ? "changed" : "announced");
        }
    }

    // Own writes are not heard back unless asked for; writes made while the
    // item applies a change are dropped.
    void ownWritesAreNotHeardBack()
    {
        const Id id = titledSkrin();
        Probe probe(id, "title");
        probe.log.clear();
        probe.setMember("desc", "own");
        QCOMPARE(getMember(id, "desc").toString(), "own");
        probe.setFileMember("file", "bytes");
        QCOMPARE(probe.fileData("file"), QByteArray("bytes"));
        QVERIFY(probe.log.isEmpty());
        probe.setMember("desc", "local", true);
        probe.setMember("desc", "plain", false);
        probe.writeFileMember("file", "more");
        QCOMPARE(probe.log.size(), 3);
        QCOMPARE(probe.log.mid(0, 2), (QStringList{"set desc=local", "set desc=plain"}));

        probe.hook = [&] { probe.setMember("desc", "from a callback"); };
        probe.watchMembers("title");
        setMember(id, "x", 1.0);
        QCOMPARE(probe.log.mid(3), (QStringList{"init", "set x=1"}));
        QCOMPARE(getMember(id, "desc").toString(), "plain");
    }

    void animatedMembersReachTheirTarget()
    {
        const Id id = createItem("skrin_pen");
        setMember(id, "x", 10.0);
        setMember(id, "y", 5.0);
        Probe probe(id, "x, y", "x, y");
        QCOMPARE(probe.log.first(), "init");
        setMember(id, "x", 20.0);
        QCOMPARE(probe.valuesOf("x"), QList<double>{10.0}); // starts where it was
        QTRY_VERIFY(!probe.isSmoothing("x"));
        const QList<double> values = probe.valuesOf("x");
        QCOMPARE(values.last(), 20.0);
        QCOMPARE(values.count(20.0), 1);
        for (qsizetype i = 1; i < values.size(); ++i)
            QVERIFY(values.at(i) >= values.at(i - 1) && values.at(i) <= 20.0);

        // An own write stops the animation of that member; the next change
        // from elsewhere starts from the last target.
        setMember(id, "x", 40.0);
        probe.setMember("x", 25.0);
        QVERIFY(!probe.isSmoothing("x"));
        probe.log.clear();
        setMember(id, "x", 30.0);
        QCOMPARE(probe.valuesOf("x").first(), 40.0);
        probe.jumpTo("x", 30.0);
    }

    // A pool thread's change is walked on the GUI thread after the item has gone.
    void destroyedWhileANotificationIsQueued()
    {
        const Id id = titledSkrin();
        auto *probe = new Probe(id, "title", "x");
        std::unique_ptr<QThread> writer(QThread::create([id] { setMember(id, "x", 3.0); }));
        writer->start();
        writer->wait();
        delete probe;
        settle();
        QCOMPARE(getMember(id, "x").toDouble(), 3.0);
    }

    // smoothTo with the running target changes nothing; with a new one it
    // restarts from the running target, not the given start. jumpTo ends an
    // animation at once.
    void smoothToAndJumpTo()
    {
        Glider glider;
        glider.smoothTo("a", 0.0, 10.0);
        glider.smoothTo("a", 0.0, 10.0);
        QCOMPARE(glider.calls, (QList<QPair<QString, double>>{{"a", 0.0}}));
        glider.smoothTo("a", 3.0, 20.0);
        QCOMPARE(glider.calls.last().second, 10.0);
        QTRY_VERIFY(!glider.isSmoothing("a"));
        QCOMPARE(glider.calls.last().second, 20.0);
        for (const auto &call : std::as_const(glider.calls))
            QVERIFY(call.second >= 0.0 && call.second <= 20.0);
        QVERIFY(!glider.stop("a"));
        glider.calls.clear();
        glider.smoothTo("b", 0.0, 10.0);
        QVERIFY(glider.jumpTo("b", 5.0));
        QVERIFY(!glider.isSmoothing("b"));
        QVERIFY(!SmootherMaster::instance()->contains(&glider));
        QVERIFY(!SmootherMaster::instance()->isTimerActive()); // nothing left to animate
        QVERIFY(!glider.jumpTo("c", 7.0));
        QCOMPARE(glider.calls, (QList<QPair<QString, double>>{{"b", 0.0}, {"b", 5.0}, {"c", 7.0}}));
    }

    // A restart made inside the final callback of the same name is kept.
    void restartInsideFinalCallbackSurvives()
    {
        Glider glider;
        bool restarted = false;
        glider.hook = [&](const QString &name, double value) {
            if (!restarted && value == 10.0) {
                restarted = true;
                glider.smoothTo(name, 10.0, 20.0);
            }
        };
        glider.smoothTo("a", 0.0, 10.0);
        QTRY_VERIFY(restarted);
        QVERIFY(glider.isSmoothing("a"));
        QTRY_VERIFY(!glider.isSmoothing("a"));
        QCOMPARE(glider.calls.last().second, 20.0);
    }

    void destroyingAnimatingSmoother()
    {
        auto *doomed = new Glider;
        Glider other;
        other.hook = [&](const QString &, double) { delete std::exchange(doomed, nullptr); };
        doomed->smoothTo("a", 0.0, 1.0);
        other.smoothTo("a", 0.0, 1.0); // deletes doomed at once
        QVERIFY(!doomed);
        QTRY_VERIFY(!other.isSmoothing("a"));
        QVERIFY(!SmootherMaster::instance()->isTimerActive());
    }
};

QTEST_MAIN(TestItemBase)
#include "tst_itembase.moc"
