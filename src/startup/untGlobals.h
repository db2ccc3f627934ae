#pragma once

#include <QString>
#include <QStringList>

// Program-wide values, set once during start-up on the user-interface thread and only read after.
extern QString gbSavePath;      // the data folder, always ending with a path delimiter
extern const QString gbAppName; // "Bidlark"
extern QString gbAppTitle;      // "Bidlark"
extern QString gbWebHost;       // the service host without scheme or path ("127.0.0.1:8470")
extern QString gbWebBase;       // the same with its scheme ("http://127.0.0.1:8470"), for addresses
extern QString gbTemplateFile;  // "_mytmpf.dat", looked up beside the executable

inline constexpr const char* kBidlarkVersion = BIDLARK_VERSION; // "2.0.0"
inline constexpr int kBidlarkBuild = BIDLARK_BUILD;             // 63

// The per-user data folder + "Vendaro/Bidlark/" (the current directory when the per-user folder
// does not exist), created with every missing level; ends with a path delimiter.
QString GetDataFolder();

// Sets gbAppTitle, gbWebHost, gbWebBase and gbTemplateFile.
void SetGlobalTexts();

// Chooses the log destination from the first argument (the program name excluded): none or
// "-minimize": off; "-dev": "tcp()"; anything else: "mem(maxsize=2048)". Exact, case-sensitive.
void SetLogDestination(const QStringList& arguments);

// True when the first argument is exactly "-minimize".
bool StartsMinimized(const QStringList& arguments);
