// Readings made up for the history's tests and benchmark, and the checks a
// store must pass however its writer ended.
#pragma once

#include "history/history_store.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace zentrova::testing {

inline constexpr std::int64_t kHourMs = 3600 * 1000;
// 2026-12-05 21:43:00 UTC.
inline constexpr std::int64_t kT0 = 1796506980000;

// `count` attributes of an ATA drive at `t`; `wear` moves the temperature,
// one value and the raw counts, so successive wears differ.
inline history::Reading MadeUpReading(const std::string& model, std::int64_t t, int wear,
                                      int count = 30) {
    history::Reading r;
    r.takenMs = t;
    r.identity = {model, "FW1", ""};
    r.temperature = 30 + wear % 20;
    for (int i = 0; i < count; ++i) {
        history::Entry e;
        e.id = static_cast<std::uint8_t>(i + 1);
        e.value = 200 - (i == 4 ? wear % 100 : 0);
        e.worst = 150;
        e.threshold = i == 4 ? 36 : 0;
        e.raw = {static_cast<std::uint8_t>(wear),
                 static_cast<std::uint8_t>(wear >> 8),
                 static_cast<std::uint8_t>(i),
                 0,
                 0xFF,
                 static_cast<std::uint8_t>(0x80 | i)};
        r.entries.push_back(std::move(e));
    }
    return r;
}

// Empty when `path` passes the integrity check and every reading is whole
// (it has as many entry rows as it says it stands for); else what is wrong.
inline std::string StoreDefects(const std::string& path) {
    sqlite3* db = nullptr;
    std::string defects;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open";
    }
    const auto scalar = [&](const char* sql) {
        sqlite3_stmt* s = nullptr;
        std::string out = "(failed)";
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        return out;
    };
    if (const std::string check = scalar("PRAGMA integrity_check"); check != "ok")
        defects += "integrity: " + check + "; ";
    const std::string broken =
        scalar("SELECT count(*) FROM reading r WHERE r.entries != (SELECT count(*) FROM entry e"
               " WHERE e.reading = coalesce(r.same_as, r.id))");
    if (broken != "0")
        defects += broken + " readings not whole";
    sqlite3_close(db);
    return defects;
}

} // namespace zentrova::testing
