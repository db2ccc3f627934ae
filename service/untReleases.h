#pragma once

// The releases folder: one sub-folder per version ("2.0.0.64"), each holding the installer
// "Bidlark.exe", a one-line "notes.txt", and optionally "reply-extra.txt" whose lines are added
// to the update reply as they stand (for the lines that make a download safe).

#include <optional>
#include <string>

struct TRelease
{
    std::string version;
    std::string notes;
    std::string installerPath; // empty when the folder has no installer
    std::string extraLines;
};

// The release with the highest version, compared part by part as numbers; nullopt when the
// folder is missing or holds no version folder.
std::optional<TRelease> NewestRelease(const std::string& releasesDir);

// The /updates.php reply: "Version: ..." and "Notes: ..." lines, then the extra lines.
// Without any release, the running build's own version, so that nothing is offered.
std::string UpdateReply(const std::optional<TRelease>& release);
