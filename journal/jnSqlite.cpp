#include "journal/jnSqlite.h"

namespace qz {

TjnDb& TjnDb::operator=(TjnDb&& o) noexcept {
    if (this != &o) {
        Close();
        FDb = o.FDb;
        o.FDb = nullptr;
    }
    return *this;
}

int TjnDb::Open(const std::string& fileName, int flags) {
    Close();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const int ext = db ? sqlite3_extended_errcode(db) : rc;
        sqlite3_close(db);
        return ext;
    }
    sqlite3_extended_result_codes(db, 1);
    FDb = db;
    return SQLITE_OK;
}

void TjnDb::Close() {
    if (FDb) sqlite3_close_v2(FDb);
    FDb = nullptr;
}

int TjnDb::Exec(const char* sql) {
    return FDb ? sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) : SQLITE_MISUSE;
}

std::string TjnDb::ErrorText() const {
    return FDb ? sqlite3_errmsg(FDb) : "нет базы данных";
}

TjnStmt& TjnStmt::operator=(TjnStmt&& o) noexcept {
    if (this != &o) {
        sqlite3_finalize(FStmt);
        FStmt = o.FStmt;
        o.FStmt = nullptr;
    }
    return *this;
}

int TjnStmt::Prepare(const TjnDb& db, const char* sql) {
    sqlite3_finalize(FStmt);
    FStmt = nullptr;
    if (!db.IsOpen()) return SQLITE_MISUSE;
    return sqlite3_prepare_v2(db.Handle(), sql, -1, &FStmt, nullptr);
}

std::string TjnStmt::Text(int c) const {
    const auto* p = sqlite3_column_text(FStmt, c);
    const int n = sqlite3_column_bytes(FStmt, c);
    return p ? std::string(reinterpret_cast<const char*>(p), size_t(n)) : std::string();
}

const uint8_t* TjnStmt::Blob(int c, size_t& size) const {
    const void* p = sqlite3_column_blob(FStmt, c);
    size = size_t(sqlite3_column_bytes(FStmt, c));
    if (!p) size = 0;
    return static_cast<const uint8_t*>(p);
}

} // namespace qz
