#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kListeningPrefix = "bidlark-service listening on http://";

[[noreturn]] void Abort(const std::string& message)
{
    ADD_FAILURE() << "TServiceProcess: " << message;
    throw std::runtime_error("TServiceProcess: " + message);
}

std::size_t Collect(char* data, std::size_t size, std::size_t n, void* out)
{
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

} // namespace

TServiceProcess::TServiceProcess(const QStringList& extraArgs)
{
    if (!fDataDir.isValid())
        Abort("no temporary data folder");
    QStringList args = {QStringLiteral("--listen"),    QStringLiteral("127.0.0.1"),
                        QStringLiteral("--port"),      QStringLiteral("0"),
                        QStringLiteral("--backend"),   QStringLiteral("demo"),
                        QStringLiteral("--data"),      fDataDir.path(),
                        QStringLiteral("--test-hooks")};
    args += extraArgs;

    std::vector<std::string> argStrings = {BIDLARK_SERVICE_EXE};
    for (const QString& a : args)
        argStrings.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        Abort(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    // The request log (one line per request) would bury a failing test's own output, so it goes
    // to service.log in the data folder unless BIDLARK_SERVICE_STDERR asks for it.
    const std::string logPath =
        QString(fDataDir.path() + QStringLiteral("/service.log")).toStdString();
    if (qEnvironmentVariableIsEmpty("BIDLARK_SERVICE_STDERR"))
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int rc = posix_spawn(&fPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    fStdout = pipeFds[0];
    if (rc != 0) {
        fPid = -1;
        Abort(std::string("cannot start ") + BIDLARK_SERVICE_EXE + ": " + std::strerror(rc));
    }

    // Wait up to 10 s for the listening line, which carries the port.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string out;
    while (out.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd p{fStdout, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char buf[256];
        const ssize_t n = read(fStdout, buf, sizeof buf);
        if (n <= 0)
            break; // the service ended
        out.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t at = out.find(kListeningPrefix);
    const std::size_t colon =
        at == std::string::npos ? at : out.find(':', at + std::strlen(kListeningPrefix));
    if (colon == std::string::npos) {
        Stop();
        Abort("bidlark-service printed no listening line within 10 s (output: '" + out + "')");
    }
    fPort = static_cast<quint16>(std::stoi(out.substr(colon + 1)));
}

TServiceProcess::~TServiceProcess()
{
    Stop();
}

void TServiceProcess::Stop()
{
    if (fPid > 0) {
        kill(fPid, SIGTERM);
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 100 && !ended; ++i) {
            if (waitpid(fPid, &status, WNOHANG) == fPid)
                ended = true;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended) {
            kill(fPid, SIGKILL);
            waitpid(fPid, &status, 0);
        }
        fPid = -1;
    }
    if (fStdout >= 0) {
        close(fStdout);
        fStdout = -1;
    }
}

QString TServiceProcess::BaseUrl() const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(fPort);
}

void TServiceProcess::Advance(int seconds)
{
    const std::string url =
        BaseUrl().toStdString() + "/_test/advance?seconds=" + std::to_string(seconds);
    CURL* curl = curl_easy_init();
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK || body != "OK")
        ADD_FAILURE() << "TServiceProcess::Advance(" << seconds
                      << ") failed: " << curl_easy_strerror(rc) << " '" << body << "'";
}
