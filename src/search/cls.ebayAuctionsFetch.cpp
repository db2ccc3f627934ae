#include "cls.ebayAuctionsFetch.h"

#include "untClock.h"
#include "untCode.h"
#include "untHttp.h"
#include "untLog.h"
#include "untSearchRequest.h"
#include "untSettings.h"
#include "untStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <condition_variable>
#include <mutex>

namespace {
std::atomic<bool> gQuitting{false};
std::atomic<int> gRunning{0};
std::mutex gRunningMutex;
std::condition_variable gRunEnded;

void RunEnded()
{
    {
        std::lock_guard lock(gRunningMutex);
        --gRunning;
    }
    gRunEnded.notify_all();
}
} // namespace

TebayAuctionsFetch* TebayAuctionsFetch::Create(int alertId, TConnection& connection,
                                               TFetchReports* reports, QObject* receiver,
                                               const QString& serviceBaseUrl)
{
    if (ShuttingDown())
        return nullptr;
    siMain.LogMessage("Create new thread");
    auto* worker = new TebayAuctionsFetch(alertId, connection, reports, receiver, serviceBaseUrl);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    ++gRunning;
    worker->start();
    return worker;
}

TebayAuctionsFetch::TebayAuctionsFetch(int alertId, TConnection& connection, TFetchReports* reports,
                                       QObject* receiver, const QString& serviceBaseUrl)
    : fConnection(connection), fReports(reports), fReceiver(receiver)
{
    if (receiver && reports) {
        fRelay = std::make_unique<QObject>();
        fRelay->moveToThread(receiver->thread());
    }
    fHttp = std::make_unique<THttpClient>();
    fHttp->SetAbortFlag(&gQuitting);
    fQuery = std::make_unique<TQuery>(connection);
    try {
        fQuery->SetSQL(Sql::kAlertByIdNamed);
        fQuery->SetParam(QStringLiteral("ID"), alertId);
        fQuery->Open();
        if (!fQuery->Eof())
            fAlert = TAlert::Create(*fQuery);
    } catch (const EDatabaseError& e) {
        siMain.LogString("Alert not loaded", QString::fromStdString(e.what()));
    }
    fQuery->Close();
    fAlertID = fAlert ? fAlert->Id() : 0;
    fToken = RandomToken();
    fServiceBaseUrl = serviceBaseUrl.isEmpty() ? Settings::ServiceBaseUrl() : serviceBaseUrl;
    if (fAlert)
        fInstallationId = Settings::InstallationId();
}

TebayAuctionsFetch::~TebayAuctionsFetch() = default;

QString TebayAuctionsFetch::BuildQuery() const
{
    return fAlert ? BuildQueryText(*fAlert) : QString();
}

void TebayAuctionsFetch::run()
{
    siMain.EnterMethod(this, "Thread Execute");
    try {
        Execute();
    } catch (const std::exception& e) {
        // Whatever went wrong, the run ends and the row becomes schedulable again.
        siMain.LogString("Search run failed", QString::fromStdString(e.what()));
        fHttp.reset();
        fQuery.reset();
        if (fAlert)
            FinishRun();
    }
    siMain.LeaveMethod(this, "Thread Execute");
    RunEnded();
}

void TebayAuctionsFetch::Execute()
{
    if (!fAlert) {
        fHttp.reset();
        fQuery.reset();
        return;
    }
    const QString key = DrawRequestKey();
    siMain.LogString("Date Set", TClock::Current().Now().toString(QStringLiteral("dd/MM/yyyy")));
    SetStatus(QStringLiteral("Loading settings"));

    const TSearchRequest request = ComposeSearchRequest(*fAlert, fServiceBaseUrl, key);
    if (request.NothingToAsk()) {
        AskPopup(NothingToAskMessage(fAlert->Name()));
    } else if (!ShuttingDown()) {
        SetStatus(QStringLiteral("Fetching data"));
        siMain.LogString("Search URL", request.url);
        QString answer = HttpGetText(request.url, *fHttp);
        if ((answer.isEmpty() || answer == QLatin1String("ERROR")) && !ShuttingDown()) {
            SetStatus(QStringLiteral("Error - waiting 10 sec"));
            Pause(kRetryPauseMs);
            if (!ShuttingDown())
                answer = HttpGetText(request.url, *fHttp);
        }
        TAnswerContext context;
        context.connection = &fConnection;
        context.query = fQuery.get();
        context.alertId = fAlertID;
        context.alertName = fAlert->Name();
        context.token = fToken;
        context.buyItNow = request.buyItNow;
        context.limitSeconds = fAlert->StartedWithinSeconds();
        context.http = fHttp.get();
        context.serviceBaseUrl = fServiceBaseUrl;
        context.installationId = fInstallationId;
        context.stop = &gQuitting;
        context.steps = this;
        ProcessSearchAnswer(answer, context);
    }
    fHttp.reset();
    fQuery.reset();
    FinishRun();
}

void TebayAuctionsFetch::Pause(int ms)
{
    // In slices, so that quitting does not wait for the whole pause.
    constexpr int kSliceMs = 200;
    for (int left = ms; left > 0 && !ShuttingDown(); left -= kSliceMs)
        TClock::Current().Sleep(std::min(left, kSliceMs));
}

void TebayAuctionsFetch::Report(const std::function<void()>& step)
{
    if (ShuttingDown() || !fRelay)
        return;
    // The receiver's thread runs the step while this thread waits; once the program quits or the
    // receiver is gone the hand-over still completes, without the step.
    QMetaObject::invokeMethod(
        fRelay.get(),
        [this, &step] {
            if (!ShuttingDown() && fReceiver)
                step();
        },
        Qt::BlockingQueuedConnection);
}

void TebayAuctionsFetch::SetStatus(const QString& text)
{
    fStatusText = text;
    UpdateStatus();
}

void TebayAuctionsFetch::AskPopup(const QString& message)
{
    fPopupMessage = message;
    ShowPopup();
}

void TebayAuctionsFetch::AskSound()
{
    PlayAlertSound();
}

void TebayAuctionsFetch::UpdateStatus()
{
    Report([this] {
        siMain.LogMessage(fStatusText);
        fReports->UpdateStatus(fAlertID, fAlert->Name(), fStatusText);
    });
}

void TebayAuctionsFetch::ShowPopup()
{
    Report([this] {
        siMain.LogString("Popup Message", fPopupMessage);
        fReports->ShowPopup(fAlertID, fAlert->Name(), fPopupMessage);
    });
}

void TebayAuctionsFetch::PlayAlertSound()
{
    Report([this] { fReports->PlayAlertSound(fAlertID, fAlert->Name(), fAlert->AudioAlert()); });
}

void TebayAuctionsFetch::FinishRun()
{
    Report([this] { fReports->FinishRun(fAlertID, fAlert->Name()); });
}

void TebayAuctionsFetch::BeginShutdown()
{
    gQuitting = true;
}

bool TebayAuctionsFetch::ShuttingDown()
{
    return gQuitting.load();
}

bool TebayAuctionsFetch::WaitForRunning(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        // Workers may be waiting for a hand-over to this thread.
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        std::unique_lock lock(gRunningMutex);
        if (gRunning == 0)
            return true;
        if (deadline.hasExpired())
            return false;
        gRunEnded.wait_for(lock, std::chrono::milliseconds(10));
    }
}

int TebayAuctionsFetch::RunningCount()
{
    return gRunning.load();
}

void TebayAuctionsFetch::EndShutdown()
{
    gQuitting = false;
}
