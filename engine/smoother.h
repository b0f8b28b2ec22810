#pragma once

// Linear animation of named values: each travels from a start to a target in
// 250 ms, delivered through smoothed() once per 20 ms tick and last with the
// exact target. One process-wide timer runs while any animation is under way.
// GUI thread only.

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class Smoother
{
public:
    Smoother() = default;
    virtual ~Smoother();

    Smoother(const Smoother &) = delete;
    Smoother &operator=(const Smoother &) = delete;

    void smoothTo(const QString &name, double from, double to);
    bool stop(const QString &name);
    bool jumpTo(const QString &name, double value);
    bool isSmoothing(const QString &name) const { return running.contains(name); }

    // One tick; true while animations remain. Called by the master.
    bool advance();

protected:
    virtual void smoothed(const QString &name, double value);

private:
    struct SmoothEntry
    {
        double from = 0;
        double to = 0;
        QElapsedTimer clock;
        quint64 generation = 0; // tells a restart apart from the entry it replaced
    };
    QMap<QString, SmoothEntry> running;
    quint64 nextGeneration = 0;
};

class SmootherMaster : public QObject
{
    Q_OBJECT
public:
    static SmootherMaster *instance();

    void add(Smoother *smoother);
    void remove(Smoother *smoother);
    bool contains(Smoother *smoother) const { return smoothers.contains(smoother); }
    bool isTimerActive() const { return timer.isActive(); }

private slots:
    void onTimer();

private:
    SmootherMaster();
    QSet<Smoother *> smoothers;
    QTimer timer;
};
