#pragma once

// Turns SIGTERM and SIGINT into a clean QCoreApplication::quit(), and SIGUSR1 into the
// person's "Allow" on the unit's screen, through a self-pipe, because a signal handler may
// not touch Qt. The handlers are in place once the constructor returns.

#include <QObject>

class QSocketNotifier;

class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested();
    void allowRequested();

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
