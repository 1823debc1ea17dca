#include "journal/jnAlignedVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <mutex>

namespace qz {
namespace {

constexpr int kLogSector = 4096; // the kernel's page, the unit a commit is charged in
constexpr int kDbSector = 512;   // no larger than the smallest page, see the header
const char* const kName = "qz-aligned-commit";

// A file of the system's layer, wrapped: everything goes through to it but the two answers
// that decide how SQLite pads and groups its writes.
struct TFile {
    sqlite3_file Base;
    sqlite3_file* Real; // allocated right after this struct
    bool Log;
};

sqlite3_vfs* RealVfs(sqlite3_vfs* vfs) {
    return static_cast<sqlite3_vfs*>(vfs->pAppData);
}

sqlite3_file* Real(sqlite3_file* f) {
    return reinterpret_cast<TFile*>(f)->Real;
}

const sqlite3_io_methods* RealMethods(sqlite3_file* f) {
    return Real(f)->pMethods;
}

int Close(sqlite3_file* f) {
    const int rc = RealMethods(f) ? RealMethods(f)->xClose(Real(f)) : SQLITE_OK;
    f->pMethods = nullptr;
    return rc;
}

int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
    return RealMethods(f)->xRead(Real(f), p, n, at);
}

int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
    return RealMethods(f)->xWrite(Real(f), p, n, at);
}

int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    return RealMethods(f)->xTruncate(Real(f), size);
}

int Sync(sqlite3_file* f, int flags) {
    return RealMethods(f)->xSync(Real(f), flags);
}

int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return RealMethods(f)->xFileSize(Real(f), size);
}

int Lock(sqlite3_file* f, int level) {
    return RealMethods(f)->xLock(Real(f), level);
}

int Unlock(sqlite3_file* f, int level) {
    return RealMethods(f)->xUnlock(Real(f), level);
}

int CheckReservedLock(sqlite3_file* f, int* out) {
    return RealMethods(f)->xCheckReservedLock(Real(f), out);
}

int FileControl(sqlite3_file* f, int op, void* arg) {
    return RealMethods(f)->xFileControl(Real(f), op, arg);
}

int SectorSize(sqlite3_file* f) {
    return reinterpret_cast<TFile*>(f)->Log ? kLogSector : kDbSector;
}

int DeviceCharacteristics(sqlite3_file* f) {
    return RealMethods(f)->xDeviceCharacteristics(Real(f)) & ~SQLITE_IOCAP_POWERSAFE_OVERWRITE;
}

int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** p) {
    return RealMethods(f)->xShmMap(Real(f), region, size, extend, p);
}

int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return RealMethods(f)->xShmLock(Real(f), offset, n, flags);
}

void ShmBarrier(sqlite3_file* f) {
    RealMethods(f)->xShmBarrier(Real(f));
}

int ShmUnmap(sqlite3_file* f, int deleteFlag) {
    return RealMethods(f)->xShmUnmap(Real(f), deleteFlag);
}

int Fetch(sqlite3_file* f, sqlite3_int64 at, int n, void** p) {
    return RealMethods(f)->xFetch(Real(f), at, n, p);
}

int Unfetch(sqlite3_file* f, sqlite3_int64 at, void* p) {
    return RealMethods(f)->xUnfetch(Real(f), at, p);
}

// Version 2 (shared memory, which the log needs) and version 3 (memory mapping) only where
// the system's layer has them.
sqlite3_io_methods MethodsOf(int version) {
    sqlite3_io_methods m{};
    m.iVersion = version;
    m.xClose = Close;
    m.xRead = Read;
    m.xWrite = Write;
    m.xTruncate = Truncate;
    m.xSync = Sync;
    m.xFileSize = FileSize;
    m.xLock = Lock;
    m.xUnlock = Unlock;
    m.xCheckReservedLock = CheckReservedLock;
    m.xFileControl = FileControl;
    m.xSectorSize = SectorSize;
    m.xDeviceCharacteristics = DeviceCharacteristics;
    if (version >= 2) {
        m.xShmMap = ShmMap;
        m.xShmLock = ShmLock;
        m.xShmBarrier = ShmBarrier;
        m.xShmUnmap = ShmUnmap;
    }
    if (version >= 3) {
        m.xFetch = Fetch;
        m.xUnfetch = Unfetch;
    }
    return m;
}

const sqlite3_io_methods kMethods[3] = {MethodsOf(1), MethodsOf(2), MethodsOf(3)};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    TFile* t = reinterpret_cast<TFile*>(f);
    t->Real = reinterpret_cast<sqlite3_file*>(t + 1);
    t->Log = (flags & SQLITE_OPEN_WAL) != 0;
    const int rc = RealVfs(vfs)->xOpen(RealVfs(vfs), name, t->Real, flags, outFlags);
    // With the real file's methods set, SQLite closes it even after a failed open.
    const sqlite3_io_methods* real = t->Real->pMethods;
    f->pMethods = real ? &kMethods[std::clamp(real->iVersion, 1, 3) - 1] : nullptr;
    return rc;
}

int Delete(sqlite3_vfs* vfs, const char* name, int syncDir) {
    return RealVfs(vfs)->xDelete(RealVfs(vfs), name, syncDir);
}

int Access(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
    return RealVfs(vfs)->xAccess(RealVfs(vfs), name, flags, out);
}

int FullPathname(sqlite3_vfs* vfs, const char* name, int n, char* out) {
    return RealVfs(vfs)->xFullPathname(RealVfs(vfs), name, n, out);
}

void* DlOpen(sqlite3_vfs* vfs, const char* name) {
    return RealVfs(vfs)->xDlOpen(RealVfs(vfs), name);
}

void DlError(sqlite3_vfs* vfs, int n, char* out) {
    RealVfs(vfs)->xDlError(RealVfs(vfs), n, out);
}

void (*DlSym(sqlite3_vfs* vfs, void* handle, const char* symbol))(void) {
    return RealVfs(vfs)->xDlSym(RealVfs(vfs), handle, symbol);
}

void DlClose(sqlite3_vfs* vfs, void* handle) {
    RealVfs(vfs)->xDlClose(RealVfs(vfs), handle);
}

int Randomness(sqlite3_vfs* vfs, int n, char* out) {
    return RealVfs(vfs)->xRandomness(RealVfs(vfs), n, out);
}

int Sleep(sqlite3_vfs* vfs, int micro) {
    return RealVfs(vfs)->xSleep(RealVfs(vfs), micro);
}

int CurrentTime(sqlite3_vfs* vfs, double* out) {
    return RealVfs(vfs)->xCurrentTime(RealVfs(vfs), out);
}

int GetLastError(sqlite3_vfs* vfs, int n, char* out) {
    return RealVfs(vfs)->xGetLastError ? RealVfs(vfs)->xGetLastError(RealVfs(vfs), n, out) : 0;
}

int CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* out) {
    return RealVfs(vfs)->xCurrentTimeInt64(RealVfs(vfs), out);
}

sqlite3_vfs gVfs{};

} // namespace

const char* AlignedCommitVfs() {
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
        sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
        if (!real) return;
        gVfs.iVersion = real->iVersion < 2 ? real->iVersion : 2;
        gVfs.szOsFile = int(sizeof(TFile)) + real->szOsFile;
        gVfs.mxPathname = real->mxPathname;
        gVfs.zName = kName;
        gVfs.pAppData = real;
        gVfs.xOpen = Open;
        gVfs.xDelete = Delete;
        gVfs.xAccess = Access;
        gVfs.xFullPathname = FullPathname;
        gVfs.xDlOpen = DlOpen;
        gVfs.xDlError = DlError;
        gVfs.xDlSym = DlSym;
        gVfs.xDlClose = DlClose;
        gVfs.xRandomness = Randomness;
        gVfs.xSleep = Sleep;
        gVfs.xCurrentTime = CurrentTime;
        gVfs.xGetLastError = GetLastError;
        if (gVfs.iVersion >= 2) gVfs.xCurrentTimeInt64 = CurrentTimeInt64;
        registered = sqlite3_vfs_register(&gVfs, 0) == SQLITE_OK;
    });
    return registered ? kName : nullptr;
}

} // namespace qz
