// A SQLite VFS over the default one that fails as a troubled disk does, so
// that the store meets a full disk, an I/O error or a folder that refuses new
// files as SQLite itself reports them. The tests run as root, whom a
// read-only folder or file would not stop.
#pragma once

#include <sqlite3.h>

#include <unistd.h>

namespace zentrova::testing {

enum class DiskFault {
    None,
    Full,       // every write: SQLITE_FULL
    ReadError,  // every read: SQLITE_IOERR_READ
    NoNewFiles, // a file that does not exist yet cannot be made (a read-only folder)
};

struct FaultyVfs {
    static inline DiskFault fault = DiskFault::None;
    static constexpr const char* kName = "zentrova-faulty";

    // Registers it once (not as the default); answers its name.
    static const char* Name() {
        static const bool registered = [] {
            static sqlite3_vfs vfs = *sqlite3_vfs_find(nullptr);
            real() = sqlite3_vfs_find(nullptr);
            vfs.zName = kName;
            vfs.szOsFile = static_cast<int>(sizeof(File)) + real()->szOsFile;
            vfs.xOpen = Open;
            return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
        }();
        return registered ? kName : nullptr;
    }

  private:
    struct File {
        sqlite3_file base;
        sqlite3_file* real;
    };
    static sqlite3_vfs*& real() {
        static sqlite3_vfs* vfs = nullptr;
        return vfs;
    }
    static sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

    static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out) {
        auto* file = reinterpret_cast<File*>(f);
        file->base.pMethods = nullptr;
        if (fault == DiskFault::NoNewFiles && name != nullptr && ::access(name, F_OK) != 0)
            return SQLITE_CANTOPEN;
        file->real = reinterpret_cast<sqlite3_file*>(file + 1);
        const int rc = real()->xOpen(real(), name, file->real, flags, out);
        if (rc == SQLITE_OK && file->real->pMethods != nullptr)
            file->base.pMethods = &kMethods;
        return rc;
    }
    static int Close(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
    static int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
        if (fault == DiskFault::ReadError)
            return SQLITE_IOERR_READ;
        return Real(f)->pMethods->xRead(Real(f), p, n, at);
    }
    static int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
        if (fault == DiskFault::Full)
            return SQLITE_FULL;
        return Real(f)->pMethods->xWrite(Real(f), p, n, at);
    }
    static int Truncate(sqlite3_file* f, sqlite3_int64 n) {
        return Real(f)->pMethods->xTruncate(Real(f), n);
    }
    static int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
    static int FileSize(sqlite3_file* f, sqlite3_int64* n) {
        return Real(f)->pMethods->xFileSize(Real(f), n);
    }
    static int Lock(sqlite3_file* f, int l) { return Real(f)->pMethods->xLock(Real(f), l); }
    static int Unlock(sqlite3_file* f, int l) { return Real(f)->pMethods->xUnlock(Real(f), l); }
    static int CheckReservedLock(sqlite3_file* f, int* out) {
        return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
    }
    static int FileControl(sqlite3_file* f, int op, void* arg) {
        return Real(f)->pMethods->xFileControl(Real(f), op, arg);
    }
    static int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
    static int DeviceCharacteristics(sqlite3_file* f) {
        return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
    }
    static int ShmMap(sqlite3_file* f, int i, int size, int extend, void volatile** p) {
        return Real(f)->pMethods->xShmMap(Real(f), i, size, extend, p);
    }
    static int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
        return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
    }
    static void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
    static int ShmUnmap(sqlite3_file* f, int deleteFlag) {
        return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
    }
    // No memory mapping: every read goes through Read.
    static int Fetch(sqlite3_file*, sqlite3_int64, int, void** p) {
        *p = nullptr;
        return SQLITE_OK;
    }
    static int Unfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

    static constexpr sqlite3_io_methods kMethods = {3,
                                                    Close,
                                                    Read,
                                                    Write,
                                                    Truncate,
                                                    Sync,
                                                    FileSize,
                                                    Lock,
                                                    Unlock,
                                                    CheckReservedLock,
                                                    FileControl,
                                                    SectorSize,
                                                    DeviceCharacteristics,
                                                    ShmMap,
                                                    ShmLock,
                                                    ShmBarrier,
                                                    ShmUnmap,
                                                    Fetch,
                                                    Unfetch};
};

} // namespace zentrova::testing
