#pragma once

#include <QString>
#include <QStringList>

// What the program adds to every crash report.

// Writes the memory log into "CrashLog.sil" in the temporary folder (empty when there is no
// memory destination) and adds its path; adds nothing when there is no temporary folder or the
// file cannot be created.
void EurekaLogAttachedFilesRequest(QStringList& files);

// "Program=", "Version=", "Build=", then "Name=" and "Email=" when the settings hold usable ones.
void EurekaLogCustomWebFieldsRequest(QStringList& fields);

// Installs the handlers for std::terminate and the fatal signals (SIGSEGV, SIGABRT, SIGFPE,
// SIGILL, SIGBUS). Reports are written into `reportFolder` (the data folder; the temporary folder
// while it is empty). Call it again when the folder or the user's settings change, on the thread
// that started the program.
void InstallCrashHandler(const QString& reportFolder);

// For the event dispatch of the program with windows: an exception that nothing handled. Writes a
// report and returns its path (empty when none could be written). Never throws.
QString ReportUnhandledException(const QString& text);

// Writes "crash-YYYYMMDD-HHMMSS.txt" (UTC) into `folder`: the web fields, the error text and the
// content of CrashLog.sil. Returns the path, empty on failure. Never throws.
QString WriteCrashReport(const QString& folder, const QString& errorText);
