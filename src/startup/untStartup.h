#pragma once

#include <QString>

// Database provisioning at start-up, before the connection opens. Everything here runs on the
// user-interface thread while no handle on the database exists.

// Writes the program's raw-data resource `rsName` into `sFile`, creating or truncating it;
// returns whether `sFile` exists afterwards. "maindb" is the empty database with the schema.
// Throws std::runtime_error when the resource is unknown or the file cannot be written.
bool ExtractResFile(const QString& sFile, const QString& rsName);

// Writes a compacted, checked copy of the database `source` into the new file `target`, leaving
// `source` unchanged. False, and no `target` left behind, when `target` exists, `source` is no
// sound database, or another process still holds `source` open. Never throws.
bool CompactAndRepair(const QString& source, const QString& target);

// Provisions and compacts `folder` + "DB.mdb" (`folder` ends with a path delimiter).
void PrepareDatabase(const QString& folder);

// Deletes the "update" marker when present; otherwise "/x" as first argument deletes the
// `dlcats` setting.
void HandleUpdateMarkerOrReset(const QString& dataFolder, const QString& firstArgument);
