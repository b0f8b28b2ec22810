#include "smoother.h"

#include <QList>

namespace {

constexpr int tickMs = 20;
// Progress per elapsed millisecond: an animation takes 250 ms.
constexpr double progressPerMs = 0.004;

SmootherMaster *master = nullptr;

} // namespace

// --- Smoother -----------------------------------------------------------------------

Smoother::~Smoother()
{
    if (master)
        master->remove(this);
}

void Smoother::smoothed(const QString &, double) {}

void Smoother::smoothTo(const QString &name, double from, double to)
{
    const bool wasIdle = running.isEmpty();
    auto found = running.find(name);
    if (found == running.end()) {
        SmoothEntry entry;
        entry.from = from;
        entry.to = to;
        entry.clock.start();
        entry.generation = ++nextGeneration;
        running.insert(name, entry);
        smoothed(name, from);
    } else if (found->from == from && found->to == to) {
        return;
    } else {
        // Restart from where the running animation was heading.
        const double target = found->to;
        found->from = target;
        found->to = to;
        found->clock.start();
        found->generation = ++nextGeneration;
        smoothed(name, target);
    }
    if (wasIdle && !running.isEmpty())
        SmootherMaster::instance()->add(this);
}

bool Smoother::stop(const QString &name)
{
    if (running.remove(name) == 0)
        return false;
    if (running.isEmpty() && master)
        master->remove(this);
    return true;
}

bool Smoother::jumpTo(const QString &name, double value)
{
    const bool wasRunning = stop(name);
    smoothed(name, value);
    return wasRunning;
}

bool Smoother::advance()
{
    auto it = running.begin();
    while (it != running.end()) {
        const QString name = it.key();
        const double progress = double(it->clock.elapsed()) * progressPerMs;
        if (progress < 1.0) {
            smoothed(name, it->from + (it->to - it->from) * progress);
        } else {
            const quint64 generation = it->generation;
            smoothed(name, it->to);
            // A callback may have restarted this name: that animation stays.
            const auto still = running.find(name);
            if (still != running.end() && still->generation == generation)
                running.erase(still);
        }
        // Callbacks may have started or stopped names: look the next one up.
        it = running.upperBound(name);
    }
    return !running.isEmpty();
}

// --- SmootherMaster ----------------------------------------------------------------

SmootherMaster::SmootherMaster()
{
    timer.setInterval(tickMs);
    connect(&timer, &QTimer::timeout, this, &SmootherMaster::onTimer);
}

SmootherMaster *SmootherMaster::instance()
{
    // Lives until the process ends.
    if (!master)
        master = new SmootherMaster;
    return master;
}

void SmootherMaster::add(Smoother *smoother)
{
    if (!smoother)
        return;
    smoothers.insert(smoother);
    if (!timer.isActive())
        timer.start(tickMs);
}

void SmootherMaster::remove(Smoother *smoother)
{
    if (!smoother)
        return;
    smoothers.remove(smoother);
    if (smoothers.isEmpty() && timer.isActive())
        timer.stop();
}

void SmootherMaster::onTimer()
{
    const QList<Smoother *> snapshot(smoothers.cbegin(), smoothers.cend());
    for (Smoother *smoother : snapshot) {
        if (!smoothers.contains(smoother))
            continue; // finished or destroyed by an earlier callback
        if (!smoother->advance())
            remove(smoother);
    }
}
