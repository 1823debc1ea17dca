// Makes a long journal quickly for the benchmarks: the records a journal already holds are
// copied, each copy moved on in meter time, in one transaction without syncs.
#pragma once

#include <sqlite3.h>

#include <string>

namespace qz::bench {

// Appends `copies` copies of the records `where` selects (an SQL condition on `record`,
// "1" for all), copy k moved on by k * stepSeconds of meter time.
inline void RepeatRecords(const std::string& file, int copies, int stepSeconds,
                          const std::string& where) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    std::string cols;
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info('record') WHERE name <> 'seq'", -1,
                       &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
        cols += std::string(cols.empty() ? "" : ", ") +
                reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    std::string select = cols;
    const std::string shift = "meter_time + k * " + std::to_string(stepSeconds) + ".0 / 86400";
    select.replace(select.find("meter_time"), 10, shift);
    const std::string sql =
        "PRAGMA synchronous = OFF; BEGIN; WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 "
        "FROM n WHERE k < " +
        std::to_string(copies) + ") INSERT INTO record (" + cols + ") SELECT " + select +
        " FROM record, n WHERE " + where + " ORDER BY k, seq; COMMIT;";
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

} // namespace qz::bench
