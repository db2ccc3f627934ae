#include "untCrashReport.h"

#include "untGlobals.h"
#include "untLog.h"
#include "untSettings.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

const char* const kLogHeading = "\n--- CrashLog.sil ---\n";

// "crash-YYYYMMDD-HHMMSS" in UTC, without the C library's time conversion (not async-signal-safe).
void ReportStem(std::time_t now, char (&out)[32])
{
    long long secs = static_cast<long long>(now);
    long long days = secs / 86400;
    long long rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const long long fields[] = {year, month, day, rem / 3600, rem % 3600 / 60, rem % 60};
    const int widths[] = {4, 2, 2, 2, 2, 2};
    int at = 0;
    for (const char c : {'c', 'r', 'a', 's', 'h', '-'})
        out[at++] = c;
    for (int f = 0; f < 6; ++f) {
        if (f == 3)
            out[at++] = '-';
        long long v = fields[f];
        for (int w = widths[f] - 1; w >= 0; --w) {
            out[at + w] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        at += widths[f];
    }
    out[at] = '\0';
}

QString ReportFolderOrTemp(const QString& folder)
{
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

QString ComposeReport(const QString& errorText)
{
    QStringList fields;
    EurekaLogCustomWebFieldsRequest(fields);
    QStringList files;
    EurekaLogAttachedFilesRequest(files);
    QString text = fields.join(QLatin1Char('\n')) + QStringLiteral("\nError=") +
                   QString(errorText).replace(QLatin1Char('\n'), QLatin1String("\\n")) +
                   QLatin1Char('\n') + QLatin1String(kLogHeading);
    for (const QString& path : files) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

QString gReportFolder;
// Set by the first fatal path (terminate or signal), so that one crash writes one report.
std::atomic<bool> gFatal{false};
std::atomic<bool> gFatalWritten{false};

[[noreturn]] void OnTerminate()
{
    QString what = QStringLiteral("std::terminate without an exception");
    if (const std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            what = QStringLiteral("unhandled exception: ") + QString::fromUtf8(e.what());
        } catch (...) {
            what = QStringLiteral("unhandled exception of an unknown type");
        }
    }
    if (!gFatal.exchange(true)) {
        WriteCrashReport(ReportFolderOrTemp(gReportFolder), what);
        gFatalWritten.store(true);
    }
    // The report is written; abort's SIGABRT must not write a second one.
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

#ifndef Q_OS_WIN

// Everything the signal handler needs, made in advance: it then only formats numbers and writes.
struct TSignalReport
{
    std::string folder; // ends with '/'
    std::string head;   // the web fields, one line each
    std::string crashLog;
};

std::atomic<const TSignalReport*> gSignalReport{nullptr};

constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGFPE, SIGILL, SIGBUS};

const char* SignalText(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "signal SIGSEGV (invalid memory access)";
    case SIGABRT:
        return "signal SIGABRT (abort)";
    case SIGFPE:
        return "signal SIGFPE (arithmetic error)";
    case SIGILL:
        return "signal SIGILL (illegal instruction)";
    case SIGBUS:
        return "signal SIGBUS (bus error)";
    default:
        return "fatal signal";
    }
}

void WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void WriteText(int fd, const char* text)
{
    WriteAll(fd, text, std::strlen(text));
}

// Opens folder + stem + ".txt", or stem + "-2" ... "-9" when a report of that second exists.
int CreateReportFile(const char* folder, const char* stem, char (&path)[4096])
{
    const size_t folderLen = std::strlen(folder);
    const size_t stemLen = std::strlen(stem);
    if (folderLen + stemLen + 8 >= sizeof path)
        return -1;
    for (int attempt = 1; attempt <= 9; ++attempt) {
        std::memcpy(path, folder, folderLen);
        std::memcpy(path + folderLen, stem, stemLen);
        size_t at = folderLen + stemLen;
        if (attempt > 1) {
            path[at++] = '-';
            path[at++] = static_cast<char>('0' + attempt);
        }
        std::memcpy(path + at, ".txt", 5);
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void WriteSignalReport(const TSignalReport& report, int sig)
{
    char stem[32];
    ReportStem(std::time(nullptr), stem);
    char path[4096];
    const int fd = CreateReportFile(report.folder.c_str(), stem, path);
    if (fd >= 0) {
        WriteAll(fd, report.head.data(), report.head.size());
        WriteText(fd, "Error=");
        WriteText(fd, SignalText(sig));
        WriteText(fd, "\n");
        WriteText(fd, kLogHeading);
        TLog::Instance().WriteMemoryToFd(fd);
        ::close(fd);
    }
    const int logFd =
        ::open(report.crashLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd >= 0) {
        TLog::Instance().WriteMemoryToFd(logFd);
        ::close(logFd);
    }
}

extern "C" void OnFatalSignal(int sig)
{
    const int savedErrno = errno;
    if (!gFatal.exchange(true)) {
        if (const TSignalReport* report = gSignalReport.load())
            WriteSignalReport(*report, sig);
        gFatalWritten.store(true);
    } else {
        // Another thread is writing its report: give it a moment before the process ends.
        for (int i = 0; i < 200 && !gFatalWritten.load(); ++i) {
            timespec pause{0, 10 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
    }
    errno = savedErrno;
    // SA_RESETHAND restored the default action; the signal is delivered again once we return.
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

void PrepareSignalReport(const QString& folder)
{
    auto owned = std::make_unique<TSignalReport>();
    TSignalReport* report = owned.get();
    QString base = ReportFolderOrTemp(folder);
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    report->folder = QFile::encodeName(base).toStdString();
    QStringList fields;
    EurekaLogCustomWebFieldsRequest(fields);
    report->head = fields.join(QLatin1Char('\n')).toUtf8().toStdString() + '\n';
    QString temp = QDir::tempPath();
    if (!temp.endsWith(QLatin1Char('/')))
        temp += QLatin1Char('/');
    report->crashLog = QFile::encodeName(temp + QStringLiteral("CrashLog.sil")).toStdString();
    // Earlier ones stay allocated: a signal on another thread may still be reading one.
    static std::vector<std::unique_ptr<TSignalReport>> prepared;
    prepared.push_back(std::move(owned));
    gSignalReport.store(report);
}

#endif

} // namespace

void EurekaLogAttachedFilesRequest(QStringList& files)
{
    try {
        QString folder = QDir::tempPath();
        if (folder.isEmpty() || folder.size() > 260)
            return;
        if (!folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QDir::separator()))
            folder += QLatin1Char('/');
        const QString path = folder + QStringLiteral("CrashLog.sil");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        TLog::Instance().WriteMemoryTo(file);
        file.close();
        files.append(QDir::toNativeSeparators(path));
    } catch (...) {
    }
}

void EurekaLogCustomWebFieldsRequest(QStringList& fields)
{
    fields.append(QStringLiteral("Program=") + gbAppName);
    fields.append(QStringLiteral("Version=") + QLatin1String(kBidlarkVersion));
    fields.append(QStringLiteral("Build=") + QString::number(kBidlarkBuild));
    try {
        const std::optional<QString> name = Settings::UserName();
        if (name && name->size() > 5)
            fields.append(QStringLiteral("Name=") + *name);
        const std::optional<QString> email = Settings::UserEmail();
        if (email && email->size() > 5 && email->contains(QLatin1Char('@')))
            fields.append(QStringLiteral("Email=") + *email);
    } catch (...) {
    }
}

QString WriteCrashReport(const QString& folder, const QString& errorText)
{
    try {
        const QByteArray text = ComposeReport(errorText).toUtf8();
        char stem[32];
        ReportStem(std::time(nullptr), stem);
        QString base = folder;
        if (!base.endsWith(QLatin1Char('/')) && !base.endsWith(QDir::separator()))
            base += QLatin1Char('/');
        for (int attempt = 1; attempt <= 9; ++attempt) {
            const QString path = base + QLatin1String(stem) +
                                 (attempt > 1 ? QStringLiteral("-%1").arg(attempt) : QString()) +
                                 QStringLiteral(".txt");
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                if (file.exists())
                    continue;
                return QString();
            }
            if (file.write(text) != text.size())
                return QString();
            file.close();
            return QDir::toNativeSeparators(path);
        }
    } catch (...) {
    }
    return QString();
}

QString ReportUnhandledException(const QString& text)
{
    return WriteCrashReport(ReportFolderOrTemp(gReportFolder), text);
}

void InstallCrashHandler(const QString& reportFolder)
{
    try {
        TLog::Instance(); // made now, never first inside a signal handler
        gReportFolder = reportFolder;
        std::set_terminate(OnTerminate);
#ifndef Q_OS_WIN
        PrepareSignalReport(reportFolder);

        // A stack overflow leaves no stack for the handler; give it its own.
        static char altStack[64 * 1024];
        stack_t ss{};
        ss.ss_sp = altStack;
        ss.ss_size = sizeof altStack;
        ::sigaltstack(&ss, nullptr);

        struct sigaction action
        {
        };
        action.sa_handler = OnFatalSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_ONSTACK;
        for (const int sig : kFatalSignals)
            ::sigaction(sig, &action, nullptr);
#endif
    } catch (...) {
    }
}
