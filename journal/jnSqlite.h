// A thin ownership layer over the SQLite C interface: a database handle and a prepared
// statement that free themselves, and the few calls the journal needs. Failures are results
// with the library's text, never exceptions.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace qz {

class TjnStmt;

// The operator's text, in Russian, for an SQLite result code (primary or extended).
std::string SqliteText(int rc);

class TjnDb {
public:
    TjnDb() = default;
    ~TjnDb() { Close(); }
    TjnDb(const TjnDb&) = delete;
    TjnDb& operator=(const TjnDb&) = delete;
    TjnDb(TjnDb&& o) noexcept : FDb(o.FDb) { o.FDb = nullptr; }
    TjnDb& operator=(TjnDb&& o) noexcept;

    // sqlite3_open_v2 with the flags; a failed open leaves no handle. The result code is
    // the extended one (SQLITE_CANTOPEN, SQLITE_NOTADB, ...). `vfs` names the file layer
    // (null: the default one).
    int Open(const std::string& fileName, int flags, const char* vfs = nullptr);
    void Close();
    bool IsOpen() const { return FDb != nullptr; }
    sqlite3* Handle() const { return FDb; }

    // Runs statements that return no rows; the result code.
    int Exec(const char* sql);
    // The operator's text of the last failure on this handle (SqliteText of its code).
    std::string ErrorText() const;
    int64_t LastInsertId() const { return FDb ? sqlite3_last_insert_rowid(FDb) : 0; }

private:
    sqlite3* FDb = nullptr;
};

class TjnStmt {
public:
    TjnStmt() = default;
    ~TjnStmt() { sqlite3_finalize(FStmt); }
    TjnStmt(const TjnStmt&) = delete;
    TjnStmt& operator=(const TjnStmt&) = delete;
    TjnStmt(TjnStmt&& o) noexcept : FStmt(o.FStmt) { o.FStmt = nullptr; }
    TjnStmt& operator=(TjnStmt&& o) noexcept;

    int Prepare(const TjnDb& db, const char* sql);
    bool IsPrepared() const { return FStmt != nullptr; }
    sqlite3_stmt* Handle() const { return FStmt; }

    // Parameters count from 1, as in SQL.
    void Bind(int i, int64_t v) { sqlite3_bind_int64(FStmt, i, v); }
    void Bind(int i, double v) { sqlite3_bind_double(FStmt, i, v); }
    void Bind(int i, const std::string& v) {
        sqlite3_bind_text(FStmt, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    }
    // The bytes must stay valid until the next Step.
    void BindBlob(int i, const void* data, size_t size) {
        sqlite3_bind_blob(FStmt, i, size ? data : "", int(size), SQLITE_STATIC);
    }
    void BindNull(int i) { sqlite3_bind_null(FStmt, i); }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return sqlite3_step(FStmt); }
    void Reset() {
        sqlite3_reset(FStmt);
        sqlite3_clear_bindings(FStmt);
    }

    // Columns count from 0.
    int64_t Int(int c) const { return sqlite3_column_int64(FStmt, c); }
    double Real(int c) const { return sqlite3_column_double(FStmt, c); }
    std::string Text(int c) const;
    // The blob's bytes (valid until the next Step) and their number.
    const uint8_t* Blob(int c, size_t& size) const;
    bool IsNull(int c) const { return sqlite3_column_type(FStmt, c) == SQLITE_NULL; }

private:
    sqlite3_stmt* FStmt = nullptr;
};

} // namespace qz
