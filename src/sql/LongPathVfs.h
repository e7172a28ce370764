// A file-system layer for SQLite that opens files at paths as long as the system allows.
#pragma once

namespace sql::detail {

// The name of a VFS that is SQLite's default one for every file whose path fits SQLite's own
// limit (512 bytes), and reaches any longer one through a short name: the file's folder opened
// with O_PATH and named "/proc/self/fd/N/", which stays open with the file. Journals, the WAL and
// its shared memory beside a long-named database are reached the same way. Registered on the
// first call (not as the default); any thread.
const char* longPathVfsName();

} // namespace sql::detail
