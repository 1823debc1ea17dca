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

int TjnDb::Open(const std::string& fileName, int flags, const char* vfs) {
    Close();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, vfs);
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
    return FDb ? SqliteText(sqlite3_extended_errcode(FDb)) : "журнал не открыт";
}

std::string SqliteText(int rc) {
    switch (rc) {
    case SQLITE_IOERR_SHORT_READ:
        return "файл короче, чем записано в его заголовке (обрезан)";
    case SQLITE_IOERR_NOMEM:
        return "не хватает памяти";
    case SQLITE_CORRUPT_INDEX:
        return "повреждён индекс журнала";
    default:
        break;
    }
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return "нет ошибки";
    case SQLITE_ERROR:
        return "структура журнала не та, что ожидается";
    case SQLITE_INTERNAL:
        return "внутренняя ошибка SQLite";
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return "нет прав доступа к файлу";
    case SQLITE_ABORT:
    case SQLITE_INTERRUPT:
        return "операция прервана";
    case SQLITE_BUSY:
        return "файл занят другой программой";
    case SQLITE_LOCKED:
        return "таблица занята";
    case SQLITE_NOMEM:
        return "не хватает памяти";
    case SQLITE_READONLY:
        return "файл доступен только для чтения";
    case SQLITE_IOERR:
        return "ошибка ввода-вывода на диске";
    case SQLITE_CORRUPT:
        return "файл повреждён: нарушена структура базы данных";
    case SQLITE_FULL:
        return "диск заполнен";
    case SQLITE_CANTOPEN:
        return "не удалось открыть файл";
    case SQLITE_PROTOCOL:
        return "сбой блокировки файла";
    case SQLITE_SCHEMA:
        return "структура журнала изменилась во время чтения";
    case SQLITE_TOOBIG:
        return "слишком большой элемент данных";
    case SQLITE_CONSTRAINT:
        return "нарушено ограничение данных журнала";
    case SQLITE_MISMATCH:
        return "неверный тип данных";
    case SQLITE_MISUSE:
        return "неверное обращение к журналу";
    case SQLITE_NOLFS:
        return "файл слишком велик для этой системы";
    case SQLITE_RANGE:
        return "неверный номер параметра запроса";
    case SQLITE_NOTADB:
        return "файл не является базой данных SQLite";
    default:
        return "ошибка SQLite, код " + std::to_string(rc);
    }
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
