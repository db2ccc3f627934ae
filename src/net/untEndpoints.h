#pragma once

#include <QString>

// The service's paths. Every address is the service's base address (scheme and host) + path.
namespace Endpoints {
inline const QString kSearch = QStringLiteral("/ebayAPI/bidlark/bidlark.php");
inline const QString kCategorySuggest = QStringLiteral("/ebayAPI/bidlark/category_suggest.php");
inline const QString kErrorReport = QStringLiteral("/register/error.php");
inline const QString kUpdates = QStringLiteral("/updates.php");
inline const QString kDownload = QStringLiteral("/download/Bidlark.exe");
inline const QString kRecommendedLinks = QStringLiteral("/program_recommended_links.php");
inline const QString kShare = QStringLiteral("/share/");
inline const QString kDonate = QStringLiteral("/donate/");
inline const QString kTutorial = QStringLiteral("/tutorial/");

// `baseUrl` + `path`, without a doubled "/" between them.
QString Address(const QString& baseUrl, const QString& path);
// The same on the configured service host (Settings::ServiceBaseUrl).
QString Address(const QString& path);
} // namespace Endpoints
