#pragma once

// The requests from outside to end the program (a logout, a shutdown, `kill`,
// Ctrl+C in a terminal), turned into a Qt signal on the thread that made the
// object, so that the program ends through its normal quit: the store is
// written a last time and its lock released. On Unix these are SIGTERM,
// SIGHUP and SIGINT; where the platform has no such signals, nothing is heard
// and the platform's own session end reaches the program as Qt's quit.
//
// One object listens at a time; while it lives those signals no longer end
// the process at once. Destroying it gives them their earlier handling back,
// unless the program holds them for good (holdForProcess).

#include <QObject>

class QuitRequests : public QObject
{
    Q_OBJECT

public:
    explicit QuitRequests(QObject *parent = nullptr);
    ~QuitRequests() override;
    Q_DISABLE_COPY_MOVE(QuitRequests)

    // From now until the process ends those signals never end it at once:
    // each is kept until a listener hears it, the next one made if none
    // lives. For a program's first step, before anything a signal could cut
    // short; a signal ignored by whoever started the program (nohup) stays
    // ignored. False where the platform has no such signals or the system
    // refused.
    static bool holdForProcess();

    // False when nothing is heard: another object listens already, the
    // platform has no such signals, or the system refused.
    bool isListening() const { return listening; }

    // Emits `requested` at once for each request that came and was not yet
    // told, for code that runs before the event loop does (a long open).
    void deliverPending();

signals:
    // Once for each request; `signal` is the signal's number (SIGTERM...).
    void requested(int signal);

private:
    bool listening = false;
};
