#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

// Starts bidlark-service on 127.0.0.1 with an ephemeral port, the demo market, a fresh data
// folder and the test hooks, and stops it when destroyed. Needs no Qt event loop.
class TServiceProcess
{
public:
    // extraArgs come last, so they may override the backend and the rest.
    explicit TServiceProcess(const QStringList& extraArgs = {});
    ~TServiceProcess();
    TServiceProcess(const TServiceProcess&) = delete;
    TServiceProcess& operator=(const TServiceProcess&) = delete;

    quint16 Port() const { return fPort; }
    QString BaseUrl() const; // "http://127.0.0.1:PORT"
    QString DataDir() const { return fDataDir.path(); }
    // Moves the demo market clock forward (GET /_test/advance).
    void Advance(int seconds);

private:
    void Stop();

    QTemporaryDir fDataDir;
    pid_t fPid = -1;
    int fStdout = -1;
    quint16 fPort = 0;
};
