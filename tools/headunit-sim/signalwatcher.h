#pragma once

// Turns SIGTERM and SIGINT into a clean QCoreApplication::quit() through a self-pipe,
// because a signal handler may not touch Qt.

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

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
