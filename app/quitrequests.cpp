#include "quitrequests.h"

#include "applog.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QVarLengthArray>

#ifdef Q_OS_UNIX

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> quitSignals{SIGTERM, SIGHUP, SIGINT};

// A self-pipe: the handler may do next to nothing, so it writes the signal's
// number into the pipe and the event loop reads it. Made once and kept for
// the life of the process, so that a handler running on another thread while
// a listener goes never writes to a closed descriptor.
int pipeEnds[2] = {-1, -1};
std::atomic<bool> anyListener{false};
// Set by QuitRequests::holdForProcess: the handler stays when listeners go.
bool heldForGood = false;
// How each signal was handled before; whether it is ours now.
std::array<struct sigaction, quitSignals.size()> earlier{};
std::array<bool, quitSignals.size()> installed{};

void onQuitSignal(int number)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe holds requests enough already.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

bool makePipe()
{
    if (pipeEnds[0] >= 0)
        return true;
    int ends[2];
    if (::pipe(ends) != 0)
        return false;
    for (const int end : ends) {
        // Not inherited by the programs this one starts; never blocking.
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    pipeEnds[0] = ends[0];
    pipeEnds[1] = ends[1];
    return true;
}

// What the pipe holds; empty when nothing.
QVarLengthArray<int, 8> takeRequests()
{
    QVarLengthArray<int, 8> numbers;
    unsigned char bytes[32];
    ssize_t count = 0;
    while ((count = ::read(pipeEnds[0], bytes, sizeof bytes)) > 0 || (count < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < count; ++i)
            numbers.append(bytes[i]);
    }
    return numbers;
}

// Hands the signals not yet ours to the handler, keeping how each was
// handled before.
void installHandler()
{
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < quitSignals.size(); ++i) {
        if (installed[i] || ::sigaction(quitSignals[i], nullptr, &earlier[i]) != 0)
            continue;
        // A signal ignored by whoever started the program (nohup) stays
        // ignored.
        if (!(earlier[i].sa_flags & SA_SIGINFO) && earlier[i].sa_handler == SIG_IGN)
            continue;
        installed[i] = ::sigaction(quitSignals[i], &action, nullptr) == 0;
    }
}

} // namespace

bool QuitRequests::holdForProcess()
{
    if (!makePipe())
        return false;
    installHandler();
    heldForGood = true;
    return true;
}

QuitRequests::QuitRequests(QObject *parent)
    : QObject(parent)
{
    if (anyListener.exchange(true)) {
        qCWarning(lcApp) << "quit requests: another listener hears them already";
        return;
    }
    if (!makePipe()) {
        qCWarning(lcApp) << "quit requests: no pipe:" << qt_error_string(errno);
        anyListener = false;
        return;
    }
    // Held for good, the requests that came meanwhile are this listener's.
    if (!heldForGood) {
        takeRequests(); // for a listener gone before
        installHandler();
    }
    const auto *notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QuitRequests::deliverPending);
    listening = true;
}

QuitRequests::~QuitRequests()
{
    if (!listening)
        return;
    // Held for good, the handlers stay until the process ends.
    if (!heldForGood) {
        for (std::size_t i = 0; i < quitSignals.size(); ++i) {
            if (installed[i])
                ::sigaction(quitSignals[i], &earlier[i], nullptr);
            installed[i] = false;
        }
    }
    anyListener = false;
}

void QuitRequests::deliverPending()
{
    if (!listening)
        return;
    const QVarLengthArray<int, 8> numbers = takeRequests();
    // A receiver may end this object's life.
    const QPointer<QuitRequests> alive(this);
    for (const int number : numbers) {
        if (!alive)
            return;
        qCInfo(lcApp) << "asked to end by signal" << number;
        emit requested(number);
    }
}

#else

// No such signals here: a console's Ctrl+C and the session's end reach the
// program as Qt's own quit.
QuitRequests::QuitRequests(QObject *parent)
    : QObject(parent)
{
}

QuitRequests::~QuitRequests() = default;

bool QuitRequests::holdForProcess()
{
    return false;
}

void QuitRequests::deliverPending()
{
}

#endif
