#include "CannedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

struct TCannedServer::Impl
{
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    quint16 port = 0;
    mutable std::mutex mutex;
    QList<TAnswer> answers;
    QStringList targets;
    QList<QByteArray> requests;
    std::thread acceptThread;
    std::vector<std::thread> connections;

    // Waits until the fd is readable or the server stops; false when stopping.
    bool WaitReadable(int fd) const
    {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        for (;;) {
            const int r = ::poll(fds, 2, -1);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 || (fds[1].revents & POLLIN))
                return false;
            if (fds[0].revents)
                return true;
        }
    }

    void Serve(int fd)
    {
        QByteArray request;
        char buffer[4096];
        while (!request.contains("\r\n\r\n")) {
            if (!WaitReadable(fd)) {
                ::close(fd);
                return;
            }
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ::close(fd);
                return;
            }
            request.append(buffer, n);
        }
        const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
        TAnswer answer;
        {
            std::lock_guard lock(mutex);
            const qsizetype index = targets.size();
            targets.append(line.size() > 1 ? QString::fromLatin1(line.at(1)) : QString());
            requests.append(request);
            if (index < answers.size())
                answer = answers.at(index);
            else
                answer = Body(QByteArray("no canned answer"), 404);
        }
        if (answer.hang) {
            WaitReadable(wakePipe[0]); // until the server stops
            ::close(fd);
            return;
        }
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(answer.status) + " Canned\r\n";
        reply += "Content-Type: " + answer.contentType + "\r\n";
        if (!answer.location.isEmpty())
            reply += "Location: " + answer.location + "\r\n";
        reply += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        reply += "Connection: close\r\n\r\n";
        reply += answer.body;
        qsizetype sent = 0;
        while (sent < reply.size()) {
            const ssize_t n =
                ::send(fd, reply.constData() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }

    void AcceptLoop()
    {
        for (;;) {
            if (!WaitReadable(listenFd))
                return;
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::lock_guard lock(mutex);
            connections.emplace_back([this, fd] { Serve(fd); });
        }
    }
};

TCannedServer::TAnswer TCannedServer::Body(const QByteArray& body, int status)
{
    TAnswer answer;
    answer.body = body;
    answer.status = status;
    return answer;
}

TCannedServer::TAnswer TCannedServer::Body(const QString& body, int status)
{
    return Body(body.toUtf8(), status);
}

TCannedServer::TAnswer TCannedServer::Redirect(const QByteArray& location)
{
    TAnswer answer;
    answer.status = 302;
    answer.location = location;
    return answer;
}

TCannedServer::TAnswer TCannedServer::Hang()
{
    TAnswer answer;
    answer.hang = true;
    return answer;
}

TCannedServer::TCannedServer() : d(std::make_unique<Impl>())
{
    if (::pipe(d->wakePipe) != 0)
        throw std::runtime_error("pipe failed");
    d->listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (d->listenFd < 0 ||
        ::bind(d->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(d->listenFd, 64) != 0 ||
        ::getsockname(d->listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("canned server cannot listen");
    d->port = ntohs(address.sin_port);
    d->acceptThread = std::thread([this] { d->AcceptLoop(); });
}

TCannedServer::TCannedServer(const QList<TAnswer>& answers) : TCannedServer()
{
    std::lock_guard lock(d->mutex);
    d->answers = answers;
}

TCannedServer::~TCannedServer()
{
    const char stop = 'x';
    [[maybe_unused]] const ssize_t n = ::write(d->wakePipe[1], &stop, 1);
    d->acceptThread.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(d->mutex);
        connections.swap(d->connections);
    }
    for (std::thread& t : connections)
        t.join();
    ::close(d->listenFd);
    ::close(d->wakePipe[0]);
    ::close(d->wakePipe[1]);
}

void TCannedServer::Add(const TAnswer& answer)
{
    std::lock_guard lock(d->mutex);
    d->answers.append(answer);
}

quint16 TCannedServer::Port() const
{
    return d->port;
}

QString TCannedServer::BaseUrl() const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(d->port);
}

QStringList TCannedServer::Targets() const
{
    std::lock_guard lock(d->mutex);
    return d->targets;
}

QList<QByteArray> TCannedServer::Requests() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

int TCannedServer::RequestCount() const
{
    std::lock_guard lock(d->mutex);
    return static_cast<int>(d->targets.size());
}
