#pragma once

#include "cls.Alert.h"
#include "untSearchResponse.h"

#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class TConnection;
class THttpClient;
class TQuery;

// The main window's side of a run: each report runs on the receiver's thread (the user-interface
// thread) while the worker waits for it. Values only: the alert's id and name, the texts, the
// audio flag.
class TFetchReports
{
public:
    virtual ~TFetchReports() = default;
    // The status text for the alert's row.
    virtual void UpdateStatus(int alertId, const QString& alertName, const QString& status) = 0;
    // A mini-HTML message for the tray pop-up; its links carry the alert id.
    virtual void ShowPopup(int alertId, const QString& alertName, const QString& message) = 0;
    // Plays the chosen alert sound when `audioAlert` is set.
    virtual void PlayAlertSound(int alertId, const QString& alertName, bool audioAlert) = 0;
    // The run is over: the row becomes idle and schedulable again, the results may refresh.
    virtual void FinishRun(int alertId, const QString& alertName) = 0;
};

// One run of one alert on a thread of its own, which frees itself when the run ends.
class TebayAuctionsFetch : public QThread, private TSearchSteps
{
    Q_OBJECT

public:
    // On the user-interface thread: loads the alert and starts the run. `receiver` is the
    // object whose thread runs the reports (the one implementing `reports`); when it is
    // destroyed, pending reports are dropped. An empty `serviceBaseUrl` means the configured
    // service. Returns nullptr once the program quits.
    static TebayAuctionsFetch* Create(int alertId, TConnection& connection, TFetchReports* reports,
                                      QObject* receiver, const QString& serviceBaseUrl = QString());

    QString BuildQuery() const;

    // Quitting, on the user-interface thread: BeginShutdown stops every run at its next step
    // (fetches and the retry pause end within a second, reports are skipped, a merge not begun
    // is not begun, one under way is committed or rolled back whole), then WaitForRunning waits
    // at most `timeoutMs`, running the pending reports' hand-overs meanwhile; true when no run
    // is left. The window calls both (3000 ms is ample) before it destroys itself or the
    // connection.
    static void BeginShutdown();
    static bool ShuttingDown();
    static bool WaitForRunning(int timeoutMs);
    static int RunningCount();
    // Tests only: runs may start again.
    static void EndShutdown();

    // The retry pause after a failed fetch.
    static constexpr int kRetryPauseMs = 10000;

protected:
    void run() override;

private:
    TebayAuctionsFetch(int alertId, TConnection& connection, TFetchReports* reports,
                       QObject* receiver, const QString& serviceBaseUrl);
    ~TebayAuctionsFetch() override;

    void Execute();
    void Pause(int ms);
    void Report(const std::function<void()>& step);

    // TSearchSteps
    void SetStatus(const QString& text) override;
    void AskPopup(const QString& message) override;
    void AskSound() override;

    void UpdateStatus();
    void ShowPopup();
    void PlayAlertSound();
    void FinishRun();

    TConnection& fConnection;
    TFetchReports* fReports;
    QPointer<QObject> fReceiver; // read only on the receiver's thread
    // Lives on the receiver's thread for the worker's whole life: the hand-overs go to it, so
    // that the receiver itself is never touched from this thread while it may be destroyed.
    std::unique_ptr<QObject> fRelay;
    std::optional<TAlert> fAlert;
    std::unique_ptr<TQuery> fQuery;
    std::unique_ptr<THttpClient> fHttp;
    QString fStatusText;
    QString fPopupMessage;
    int fAlertID = 0;
    QString fToken;
    QString fServiceBaseUrl;
    QString fInstallationId;
};
