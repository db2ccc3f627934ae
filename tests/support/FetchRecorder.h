#pragma once

// A stand-in for the main window's side of the fetch worker's reports, and a way to wait for runs
// on the thread that runs those reports.

#include "cls.ebayAuctionsFetch.h"

#include <QCoreApplication>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>

// Reports run on the thread that owns the recorder: the test's main thread.
struct TFetchRecord
{
    QMap<int, QStringList> log; // per alert: "status:<text>", "popup", "sound:on|off", "finish"
    QMap<int, QStringList> popups;
    int finished = 0;
};

class TFetchRecorder : public QObject, public TFetchReports
{
public:
    explicit TFetchRecorder(TFetchRecord* record) : fRecord(record) {}

    void UpdateStatus(int alertId, const QString&, const QString& status) override
    {
        fRecord->log[alertId] << QStringLiteral("status:") + status;
        if (fOnStatus)
            fOnStatus(status);
    }
    void ShowPopup(int alertId, const QString&, const QString& message) override
    {
        fRecord->log[alertId] << QStringLiteral("popup");
        fRecord->popups[alertId] << message;
    }
    void PlayAlertSound(int alertId, const QString&, bool audioAlert) override
    {
        fRecord->log[alertId] << (audioAlert ? QStringLiteral("sound:on")
                                             : QStringLiteral("sound:off"));
    }
    void FinishRun(int alertId, const QString&) override
    {
        fRecord->log[alertId] << QStringLiteral("finish");
        ++fRecord->finished;
    }

    std::function<void(const QString&)> fOnStatus;

private:
    TFetchRecord* fRecord;
};

// The application object the hand-overs need; made once per test program.
inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "bidlark-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// Runs the pending hand-overs until `done` holds; false when `limitMs` passed first (a hang).
// Sleeps until the next event, as the program's event loop does, with a timer as a backstop.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 60000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents();
    return true;
}

inline bool WaitForAllRuns(int limitMs = 60000)
{
    return PumpUntil([] { return TebayAuctionsFetch::RunningCount() == 0; }, limitMs);
}
