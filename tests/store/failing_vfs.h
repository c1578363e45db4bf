// A SQLite file layer for the tests that behaves like the system's, except
// that while `full` is set every write fails as a full disk does, and while
// a room is set the files together may grow by that many bytes only (writes
// within a file's present size always land): the store's own handling of
// SQLITE_FULL, met without filling a real disk.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace storetest {

class FailingWrites
{
public:
    // Registered once as the default file layer of the process.
    static void install()
    {
        static const bool done = [] {
            s_real = sqlite3_vfs_find(nullptr);
            s_vfs = *s_real;
            s_vfs.zName = "failing_writes";
            s_vfs.szOsFile = int(sizeof(File)) + s_real->szOsFile;
            s_vfs.xOpen = &open;
            return sqlite3_vfs_register(&s_vfs, 1) == SQLITE_OK;
        }();
        (void)done;
    }
    static void setFull(bool full) { s_full.store(full); }
    // Bytes the files may still grow by; -1 for no limit.
    static void setRoom(sqlite3_int64 bytes)
    {
        std::lock_guard lock(s_roomMutex);
        s_room = bytes;
    }

    // Counts from now the writes the calling thread makes to any file.
    static void watchThisThread()
    {
        s_watched.store(std::this_thread::get_id());
        s_watchedWrites.store(0);
    }
    static int watchedWrites() { return s_watchedWrites.load(); }

private:
    struct File
    {
        sqlite3_file base;
        sqlite3_file *real;
    };

    static sqlite3_file *real(sqlite3_file *f) { return reinterpret_cast<File *>(f)->real; }

    static int open(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *f, int flags, int *outFlags)
    {
        auto *file = reinterpret_cast<File *>(f);
        file->real = reinterpret_cast<sqlite3_file *>(file + 1);
        const int rc = s_real->xOpen(s_real, name, file->real, flags, outFlags);
        file->base.pMethods = rc == SQLITE_OK && file->real->pMethods ? &methods() : nullptr;
        return rc;
    }

    static const sqlite3_io_methods &methods()
    {
        static const sqlite3_io_methods m = {
            2,
            [](sqlite3_file *f) { return real(f)->pMethods->xClose(real(f)); },
            [](sqlite3_file *f, void *b, int n, sqlite3_int64 o) { return real(f)->pMethods->xRead(real(f), b, n, o); },
            [](sqlite3_file *f, const void *b, int n, sqlite3_int64 o) {
                if (std::this_thread::get_id() == s_watched.load())
                    s_watchedWrites.fetch_add(1);
                if (s_full.load())
                    return SQLITE_FULL;
                {
                    std::lock_guard lock(s_roomMutex);
                    sqlite3_int64 size = 0;
                    if (s_room >= 0 && real(f)->pMethods->xFileSize(real(f), &size) == SQLITE_OK) {
                        const sqlite3_int64 growth = o + n > size ? o + n - size : 0;
                        if (growth > s_room)
                            return SQLITE_FULL;
                        s_room -= growth;
                    }
                }
                return real(f)->pMethods->xWrite(real(f), b, n, o);
            },
            [](sqlite3_file *f, sqlite3_int64 n) { return real(f)->pMethods->xTruncate(real(f), n); },
            [](sqlite3_file *f, int flags) { return real(f)->pMethods->xSync(real(f), flags); },
            [](sqlite3_file *f, sqlite3_int64 *n) { return real(f)->pMethods->xFileSize(real(f), n); },
            [](sqlite3_file *f, int l) { return real(f)->pMethods->xLock(real(f), l); },
            [](sqlite3_file *f, int l) { return real(f)->pMethods->xUnlock(real(f), l); },
            [](sqlite3_file *f, int *r) { return real(f)->pMethods->xCheckReservedLock(real(f), r); },
            [](sqlite3_file *f, int op, void *a) { return real(f)->pMethods->xFileControl(real(f), op, a); },
            [](sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); },
            [](sqlite3_file *f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); },
            [](sqlite3_file *f, int pg, int sz, int extend, void volatile **p) {
                return real(f)->pMethods->xShmMap(real(f), pg, sz, extend, p);
            },
            [](sqlite3_file *f, int o, int n, int flags) { return real(f)->pMethods->xShmLock(real(f), o, n, flags); },
            [](sqlite3_file *f) { real(f)->pMethods->xShmBarrier(real(f)); },
            [](sqlite3_file *f, int del) { return real(f)->pMethods->xShmUnmap(real(f), del); },
            nullptr,
            nullptr,
        };
        return m;
    }

    static inline sqlite3_vfs *s_real = nullptr;
    static inline sqlite3_vfs s_vfs{};
    static inline std::atomic<bool> s_full{false};
    static inline std::mutex s_roomMutex;
    static inline sqlite3_int64 s_room = -1;
    static inline std::atomic<std::thread::id> s_watched{};
    static inline std::atomic<int> s_watchedWrites{0};
};

} // namespace storetest
