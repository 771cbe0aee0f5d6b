#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as requests to close, as a desktop log-out asks a
// program to end. The signal handler only writes the signal's number into a
// socket pair; a QSocketNotifier on the other end turns it into the signal
// requested() on the GUI thread, where the program can close its window and
// write its settings.
namespace vexor {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Creates the socket pair and installs the handlers. Call once, early (no
    // Qt object is needed); a signal that arrives before the watcher exists
    // waits in the socket. False when the socket pair cannot be made (the
    // signals then keep their default action).
    static bool InstallHandlers();

    // Watches the socket; needs the application object.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // Signals received so far.
    int Count() const { return m_count; }

signals:
    // Once per batch of signals read together (Count() tells how many came in
    // all); `signalNumber` is the last one: SIGTERM, SIGINT or SIGHUP.
    void requested(int signalNumber);

private:
    void readSignals();

    QSocketNotifier* m_notifier = nullptr;
    int m_count = 0;
};

}  // namespace vexor
