#include "sql/LongPathVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace sql::detail {

namespace {

// Past this the default VFS cuts names or overruns its own buffers (it has room for 512 bytes,
// and adds "-journal", "-wal" and "-shm"); the short name is at most "/proc/self/fd/N/" and a
// file name of 255 bytes with such a suffix.
constexpr std::size_t kLongName = 400;

sqlite3_vfs* realVfs(sqlite3_vfs* vfs) {
    return static_cast<sqlite3_vfs*>(vfs->pAppData);
}

// A long name's folder held open, and the short name through it, laid out as SQLite lays out
// the names it gives a VFS (its readers look for parameters around the name).
class ShortName {
public:
    explicit ShortName(const char* name) {
        if (name == nullptr || std::strlen(name) <= kLongName) {
            return;
        }
        const char* slash = std::strrchr(name, '/');
        if (slash == nullptr || slash == name) {
            return; // no folder to go through: left to the default VFS, which refuses it
        }
        const std::string folder(name, slash);
        folderFd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folderFd_ < 0) {
            failed_ = true;
            return;
        }
        const std::string shortName = "/proc/self/fd/" + std::to_string(folderFd_) + slash;
        name_ = sqlite3_create_filename(shortName.c_str(), (shortName + "-journal").c_str(),
                                        (shortName + "-wal").c_str(), 0, nullptr);
        failed_ = name_ == nullptr;
    }
    ~ShortName() { release(); }
    ShortName(const ShortName&) = delete;
    ShortName& operator=(const ShortName&) = delete;

    // The folder could not be opened (or no memory): the file cannot be reached.
    bool failed() const { return failed_; }
    // The name to hand the default VFS: the short one, or `original` when it was short already.
    const char* name(const char* original) const { return name_ != nullptr ? name_ : original; }
    // Hands both over to a file that keeps them while it is open.
    void moveTo(int& folderFd, sqlite3_filename& name) {
        folderFd = folderFd_;
        name = name_;
        folderFd_ = -1;
        name_ = nullptr;
    }
    void release() {
        sqlite3_free_filename(name_);
        name_ = nullptr;
        if (folderFd_ >= 0) {
            ::close(folderFd_);
            folderFd_ = -1;
        }
    }

private:
    int folderFd_ = -1;
    sqlite3_filename name_ = nullptr;
    bool failed_ = false;
};

// The default VFS's file follows this header in the same allocation.
struct File {
    sqlite3_file base;
    sqlite3_file* real;
    int folderFd;
    sqlite3_filename name;
};

sqlite3_file* real(sqlite3_file* file) {
    return reinterpret_cast<File*>(file)->real;
}

int closeFile(sqlite3_file* file) {
    File* own = reinterpret_cast<File*>(file);
    const int rc = own->real->pMethods != nullptr ? own->real->pMethods->xClose(own->real) : SQLITE_OK;
    sqlite3_free_filename(own->name);
    if (own->folderFd >= 0) {
        ::close(own->folderFd);
    }
    return rc;
}

// Everything else goes to the default VFS's file as it is.
constexpr sqlite3_io_methods kMethods = {
    3,
    closeFile,
    [](sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
        return real(f)->pMethods->xRead(real(f), b, n, o);
    },
    [](sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
        return real(f)->pMethods->xWrite(real(f), b, n, o);
    },
    [](sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); },
    [](sqlite3_file* f, int flags) { return real(f)->pMethods->xSync(real(f), flags); },
    [](sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); },
    [](sqlite3_file* f, int lock) { return real(f)->pMethods->xLock(real(f), lock); },
    [](sqlite3_file* f, int lock) { return real(f)->pMethods->xUnlock(real(f), lock); },
    [](sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); },
    [](sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); },
    [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); },
    [](sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); },
    [](sqlite3_file* f, int page, int size, int extend, void volatile** out) {
        return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
    },
    [](sqlite3_file* f, int offset, int n, int flags) {
        return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
    },
    [](sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); },
    [](sqlite3_file* f, int remove) { return real(f)->pMethods->xShmUnmap(real(f), remove); },
    [](sqlite3_file* f, sqlite3_int64 o, int n, void** out) {
        return real(f)->pMethods->xFetch(real(f), o, n, out);
    },
    [](sqlite3_file* f, sqlite3_int64 o, void* p) { return real(f)->pMethods->xUnfetch(real(f), o, p); },
};

// kMethods claiming no more than the default VFS's file has (its version-1 files have no shared
// memory and no mapping).
const sqlite3_io_methods* methodsFor(const sqlite3_io_methods* realMethods) {
    static const auto versions = [] {
        std::array<sqlite3_io_methods, 3> all{kMethods, kMethods, kMethods};
        for (int version = 1; version <= 3; ++version) {
            all[version - 1].iVersion = version;
        }
        return all;
    }();
    return &versions[std::clamp(realMethods->iVersion, 1, 3) - 1];
}

int openFile(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    File* own = reinterpret_cast<File*>(file);
    own->base.pMethods = nullptr; // until the real file is open: SQLite then does not close it
    own->real = reinterpret_cast<sqlite3_file*>(own + 1);
    own->real->pMethods = nullptr;
    own->folderFd = -1;
    own->name = nullptr;
    ShortName shortName(name);
    if (shortName.failed()) {
        return SQLITE_CANTOPEN;
    }
    const int rc = realVfs(vfs)->xOpen(realVfs(vfs), shortName.name(name), own->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (own->real->pMethods != nullptr) {
            own->real->pMethods->xClose(own->real);
        }
        return rc;
    }
    // The default VFS keeps the name it was given for as long as the file is open.
    shortName.moveTo(own->folderFd, own->name);
    own->base.pMethods = methodsFor(own->real->pMethods);
    return SQLITE_OK;
}

int deleteFile(sqlite3_vfs* vfs, const char* name, int syncFolder) {
    const ShortName shortName(name);
    if (shortName.failed()) {
        return SQLITE_IOERR_DELETE_NOENT;
    }
    return realVfs(vfs)->xDelete(realVfs(vfs), shortName.name(name), syncFolder);
}

int accessFile(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
    const ShortName shortName(name);
    if (shortName.failed()) {
        *result = 0; // its folder cannot be reached: neither is the file
        return SQLITE_OK;
    }
    return realVfs(vfs)->xAccess(realVfs(vfs), shortName.name(name), flags, result);
}

int fullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return realVfs(vfs)->xFullPathname(realVfs(vfs), name, size, out);
}

} // namespace

const char* longPathVfsName() {
    static sqlite3_vfs vfs;
    static std::once_flag registered;
    std::call_once(registered, [] {
        sqlite3_initialize();
        sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
        vfs = *base; // its time, randomness, sleep and library calls as they are
        vfs.iVersion = std::min(base->iVersion, 3);
        vfs.szOsFile = static_cast<int>(sizeof(File)) + base->szOsFile;
        vfs.mxPathname = PATH_MAX;
        vfs.pNext = nullptr;
        vfs.zName = "cuewright-long-paths";
        vfs.pAppData = base;
        vfs.xOpen = openFile;
        vfs.xDelete = deleteFile;
        vfs.xAccess = accessFile;
        vfs.xFullPathname = fullPathname;
        sqlite3_vfs_register(&vfs, /*makeDflt=*/0);
    });
    return vfs.zName;
}

} // namespace sql::detail
