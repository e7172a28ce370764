// Telling whether a file on disk is still the one a program read or wrote.
#pragma once

#include <filesystem>
#include <optional>

#include <sys/types.h>

namespace base {

// The identity and last change of a file: a file replaced by another (a new inode) or written in
// place (a new size or modification time) has another stamp. Its inode-change time is left out:
// giving a file its mode or group changes only that.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedSeconds = 0;
    long nanoseconds = 0;

    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of what `path` names now (links followed); nullopt when nothing is there or it cannot
// be looked at.
std::optional<FileStamp> fileStamp(const std::filesystem::path& path);

} // namespace base
