#pragma once

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

// The current user's registry. On Windows the real HKEY_CURRENT_USER; elsewhere an INI store
// (StorePath) with the same key paths, value names and value types. Key paths are written as in
// the registry ("Software\\Vendaro\\Bidlark\\"). Modelled on the registry object the program's
// routines are written against: open a key (creating it or not), then read, write, delete values.
class TRegistry
{
public:
    TRegistry();
    ~TRegistry();

    // False when the key does not exist and `canCreate` is false.
    bool OpenKey(const QString& key, bool canCreate);
    void CloseKey();
    bool KeyExists(const QString& key) const;

    bool ValueExists(const QString& name) const;
    QString ReadString(const QString& name) const;
    qint32 ReadInteger(const QString& name) const;
    bool ReadBool(const QString& name) const; // any non-zero integer reads as true
    void WriteString(const QString& name, const QString& value);
    void WriteInteger(const QString& name, qint32 value);
    void WriteBool(const QString& name, bool value); // stored as integer 0 or 1
    bool DeleteValue(const QString& name);

    // Where the non-Windows store lives: $XDG_CONFIG_HOME (default ~/.config) +
    // "/Vendaro/registry.ini".
    static QString StorePath();

private:
    QString Group(const QString& key) const;
    std::unique_ptr<QSettings> fStore;
    QString fKey;
};

// The inventory: every key path and value name the program uses, with typed accessors.
// Nobody else spells a key path.
namespace Settings {
inline const QString kSettingsKey = QStringLiteral("Software\\Vendaro\\Bidlark\\");
inline const QString kProxyKey = QStringLiteral("Software\\Vendaro\\proxy");
inline const QString kRunKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");

// `alerts`: index of the chosen alert sound; 0 when absent.
int AlertSound();
void SetAlertSound(int index);

// `Name`, `Email`: the user's identity for crash reports; nullopt when the key or value is absent.
std::optional<QString> UserName();
std::optional<QString> UserEmail();

// "/x": deletes `dlcats` when the settings key exists. False when the key did not open.
bool DeleteDlcats();

struct ProxyValues
{
    std::optional<bool> useProxy;  // `useproxy`
    std::optional<QString> server; // `proxyserv`
    std::optional<QString> port;   // `proxyport`
};
// Reads the proxy key without creating it; absent values stay nullopt.
ProxyValues ReadProxy();
void WriteProxy(bool useProxy, const QString& server, const QString& port);

// `servicehost`: the service's base address with its scheme ("http://127.0.0.1:8470"), from the
// settings value when present (a bare host gets "http://"), else the compiled-in default.
QString ServiceBaseUrl();

// `installid`: a random UUID made at the first call and kept.
QString InstallationId();

// `affiliatebase` (scheme and host of the affiliate redirect) and `campaignid`.
QString AffiliateBase();
QString CampaignId();
} // namespace Settings
