#include "untReleases.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vector>

namespace {

std::optional<std::vector<int>> VersionParts(const QString& name)
{
    std::vector<int> parts;
    for (const QString& p : name.split(QLatin1Char('.'))) {
        bool ok = false;
        const int v = p.toInt(&ok);
        if (!ok || v < 0)
            return std::nullopt;
        parts.push_back(v);
    }
    return parts;
}

std::string FirstLine(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = f.readLine(4096).trimmed();
    return line.toStdString();
}

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

} // namespace

std::optional<TRelease> NewestRelease(const std::string& releasesDir)
{
    const QDir dir(QString::fromStdString(releasesDir));
    if (releasesDir.empty() || !dir.exists())
        return std::nullopt;
    std::optional<std::vector<int>> best;
    QString bestName;
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto parts = VersionParts(name);
        if (parts && (!best || *parts > *best)) {
            best = parts;
            bestName = name;
        }
    }
    if (!best)
        return std::nullopt;
    const QString folder = dir.filePath(bestName);
    TRelease r;
    r.version = bestName.toStdString();
    r.notes = OneLine(FirstLine(folder + QStringLiteral("/notes.txt")));
    const QString installer = folder + QStringLiteral("/Bidlark.exe");
    if (QFileInfo(installer).isFile())
        r.installerPath = installer.toStdString();
    QFile extra(folder + QStringLiteral("/reply-extra.txt"));
    if (extra.open(QIODevice::ReadOnly))
        r.extraLines = extra.read(65536).toStdString();
    return r;
}

std::string UpdateReply(const std::optional<TRelease>& release)
{
    if (!release)
        return "Version: " BIDLARK_VERSION "." + std::to_string(BIDLARK_BUILD) +
               "\r\nNotes: No newer release is published.\r\n";
    std::string reply = "Version: " + release->version + "\r\nNotes: " +
                        (release->notes.empty() ? std::string("-") : release->notes) + "\r\n";
    if (!release->extraLines.empty()) {
        reply += release->extraLines;
        if (reply.back() != '\n')
            reply += "\r\n";
    }
    return reply;
}
