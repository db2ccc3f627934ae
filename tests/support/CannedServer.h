#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// A small HTTP server on 127.0.0.1 with an ephemeral port. The n-th request gets the n-th canned
// answer (404 once they run out); every request target is recorded. Each connection is served on
// its own thread and closed after its answer.
class TCannedServer
{
public:
    struct TAnswer
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "text/xml";
        QByteArray location; // sent as Location when not empty
        bool hang = false;   // accept and read the request, never answer
    };
    static TAnswer Body(const QByteArray& body, int status = 200);
    static TAnswer Body(const QString& body, int status = 200);
    static TAnswer Redirect(const QByteArray& location);
    static TAnswer Hang();

    TCannedServer();
    explicit TCannedServer(const QList<TAnswer>& answers);
    ~TCannedServer(); // closes the connections that hang

    void Add(const TAnswer& answer);
    quint16 Port() const;
    QString BaseUrl() const; // "http://127.0.0.1:PORT"
    QStringList Targets() const;
    QList<QByteArray> Requests() const; // request line and headers, in arrival order
    int RequestCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
