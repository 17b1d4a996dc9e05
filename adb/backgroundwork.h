#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <utility>

// Runs `work` on a thread of its own and hands its result to `done` on the GUI thread,
// in one queued call. The result travels by value; nothing is shared with the worker.
//
// Nobody waits for these threads: closing the window must end the program at once even
// while an adb command hangs, which rules out Qt's global thread pool (the application
// object waits for it on destruction). If `context` is gone by the time the work ends,
// the result is dropped.
template <typename Work, typename Done>
void runInBackground(QObject *context, Work work, Done done)
{
    QThread *thread = QThread::create(
        [guard = QPointer<QObject>(context), work = std::move(work), done = std::move(done)]() mutable {
            auto result = work();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, done = std::move(done), result = std::move(result)]() mutable {
                    if (guard)
                        done(result);
                },
                Qt::QueuedConnection);
        });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    // The work is what the person waits for. Left queued behind the caller on the same
    // core, a new thread waited up to 4 ms for its first turn while the launch built the
    // window; yielding once lets it start its first adb command at once.
    QThread::yieldCurrentThread();
}
