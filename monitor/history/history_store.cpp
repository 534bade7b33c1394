#include "history/history_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace zentrova::history {

namespace {

// Version 1 of the layout. A reading whose values repeat its drive's
// previous one names the reading that holds them in `same_as` and has no
// entry rows of its own; `entries` counts the rows it stands for, so a reading
// cut short is visible.
constexpr const char* kSchema[] = {
    "CREATE TABLE drive(id INTEGER PRIMARY KEY, model TEXT NOT NULL, firmware TEXT NOT NULL,"
    " serial TEXT NOT NULL, kind INTEGER NOT NULL, UNIQUE(model, firmware, serial))",
    "CREATE TABLE reading(id INTEGER PRIMARY KEY, drive INTEGER NOT NULL REFERENCES drive(id),"
    " taken INTEGER NOT NULL, temperature INTEGER, same_as INTEGER REFERENCES reading(id),"
    " entries INTEGER NOT NULL)",
    "CREATE INDEX reading_by_drive_and_time ON reading(drive, taken)",
    "CREATE TABLE entry(reading INTEGER NOT NULL, id INTEGER NOT NULL, value INTEGER,"
    " worst INTEGER, threshold INTEGER, raw BLOB NOT NULL, PRIMARY KEY(reading, id))"
    " WITHOUT ROWID",
    "PRAGMA user_version = 1",
};
// Version 2 adds the self-tests that ended, one row each; a version 1 file
// gains the table when it is opened.
constexpr const char* kSchema2[] = {
    "CREATE TABLE selftest(drive INTEGER NOT NULL REFERENCES drive(id), taken INTEGER NOT NULL,"
    " type TEXT NOT NULL, result INTEGER NOT NULL, hours INTEGER NOT NULL, lba INTEGER)",
    "PRAGMA user_version = 2",
};
// Version 3 adds the Watch periods: one row from a rule's start to its end
// (`ended` null while open) with the count last told; a version 1 or 2 file
// gains the table when it is opened.
constexpr const char* kSchema3[] = {
    "CREATE TABLE IF NOT EXISTS watch(drive INTEGER NOT NULL REFERENCES drive(id), reason TEXT NOT NULL,"
    " started INTEGER NOT NULL, ended INTEGER, told INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS watch_by_drive ON watch(drive, reason)",
    "PRAGMA user_version = 3",
};
constexpr char kAddWatch[] =
    "INSERT INTO watch(drive, reason, started, ended, told) VALUES(?1,?2,?3,NULL,?4)";
constexpr char kWatchTold[] =
    "UPDATE watch SET told = ?3 WHERE drive = ?1 AND reason = ?2 AND ended IS NULL";
constexpr char kEndWatch[] =
    "UPDATE watch SET ended = ?3 WHERE drive = ?1 AND reason = ?2 AND ended IS NULL";
constexpr char kWatches[] =
    "SELECT reason, started, ended, told FROM watch"
    " WHERE drive = ?1 AND (?2 = 0 OR ended IS NULL) ORDER BY started, rowid";
// The look-back of the Watch judgement: the reading(drive, taken) index
// walked from one end, the entry found by its key; never a scan.
constexpr char kAtOrBefore[] =
    "SELECT r.taken, r.temperature, e.value, e.worst, e.threshold, e.raw, e.id, r.id"
    " FROM reading r JOIN entry e ON e.reading = coalesce(r.same_as, r.id) AND e.id = ?2"
    " WHERE r.drive = ?1 AND r.taken <= ?3 ORDER BY r.taken DESC, r.id DESC LIMIT 1";
constexpr char kFirstWith[] =
    "SELECT r.taken, r.temperature, e.value, e.worst, e.threshold, e.raw, e.id, r.id"
    " FROM reading r JOIN entry e ON e.reading = coalesce(r.same_as, r.id) AND e.id = ?2"
    " WHERE r.drive = ?1 ORDER BY r.taken, r.id LIMIT 1";

constexpr char kAddSelfTest[] =
    "INSERT INTO selftest(drive, taken, type, result, hours, lba) VALUES(?1,?2,?3,?4,?5,?6)";
constexpr char kSelfTests[] =
    "SELECT taken, type, result, hours, lba FROM selftest WHERE drive = ?1 ORDER BY taken, rowid";

constexpr char kFindDrive[] =
    "SELECT id FROM drive WHERE model = ?1 AND firmware = ?2 AND serial = ?3";
constexpr char kAdoptDrive[] = "UPDATE drive SET serial = ?2 WHERE id = ?1";
constexpr char kAddDrive[] = "INSERT INTO drive(model, firmware, serial, kind) VALUES(?1,?2,?3,?4)";
constexpr char kAddReading[] =
    "INSERT INTO reading(drive, taken, temperature, same_as, entries) VALUES(?1,?2,?3,?4,?5)";
constexpr char kAddEntry[] =
    "INSERT INTO entry(reading, id, value, worst, threshold, raw) VALUES(?1,?2,?3,?4,?5,?6)";
constexpr char kPoints[] =
    "SELECT r.taken, r.temperature, e.value, e.worst, e.threshold, e.raw, e.id, r.id"
    " FROM reading r LEFT JOIN entry e ON e.reading = coalesce(r.same_as, r.id) AND e.id = ?2"
    " WHERE r.drive = ?1 AND r.taken >= ?3 AND r.id > ?4 ORDER BY r.taken, r.id";
constexpr char kLatest[] =
    "SELECT e.id, e.value, e.worst, e.threshold, e.raw, d.kind FROM entry e, drive d"
    " WHERE d.id = ?1 AND e.reading = (SELECT coalesce(same_as, id) FROM reading"
    " WHERE drive = ?1 ORDER BY taken DESC, id DESC LIMIT 1) ORDER BY e.id";
constexpr char kRows[] =
    "SELECT r.taken, r.temperature, e.id, e.value, e.worst, e.threshold, e.raw, d.kind"
    " FROM reading r JOIN drive d ON d.id = r.drive"
    " JOIN entry e ON e.reading = coalesce(r.same_as, r.id)"
    " WHERE r.drive = ?1 ORDER BY r.taken, r.id, e.id";
constexpr char kCount[] = "SELECT count(*) FROM reading";

// Resets a statement when it goes out of use, so it holds no read lock.
struct Use {
    sqlite3_stmt* s;
    ~Use() {
        if (s != nullptr) {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        }
    }
};

void BindText(sqlite3_stmt* s, int i, const std::string& text) {
    sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}
void BindOptional(sqlite3_stmt* s, int i, const std::optional<std::int64_t>& v) {
    if (v)
        sqlite3_bind_int64(s, i, *v);
    else
        sqlite3_bind_null(s, i);
}
std::optional<std::int64_t> ColumnOptional(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_int64(s, i);
}
// Columns `first` to `first + 4`: value, worst, threshold, raw; id apart.
Entry ColumnEntry(sqlite3_stmt* s, int idColumn, int first) {
    Entry e;
    e.id = static_cast<std::uint8_t>(sqlite3_column_int(s, idColumn));
    e.value = ColumnOptional(s, first);
    e.worst = ColumnOptional(s, first + 1);
    e.threshold = ColumnOptional(s, first + 2);
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, first + 3));
    e.raw.assign(bytes, bytes + sqlite3_column_bytes(s, first + 3));
    return e;
}

// Both set `code` to SQLite's extended result code when they fail.
bool Exec(sqlite3* db, const char* sql, std::string* error, int* code) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    *code = sqlite3_extended_errcode(db);
    *error = std::string(sql) + ": " + (message != nullptr ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}

// The first column of the first row of `sql` as text; empty on failure.
std::string Scalar(sqlite3* db, const char* sql, std::string* error, int* code) {
    sqlite3_stmt* s = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        *code = sqlite3_extended_errcode(db);
        *error = std::string(sql) + ": " + sqlite3_errmsg(db);
        return out;
    }
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW && sqlite3_column_text(s, 0) != nullptr) {
        out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    } else if (rc != SQLITE_ROW) {
        *code = sqlite3_extended_errcode(db);
        *error = std::string(sql) + ": " + sqlite3_errmsg(db);
    }
    sqlite3_finalize(s);
    return out;
}

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

bool Corrupt(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

} // namespace

Store::Store(Clock clock, StoreOptions options) : clock_(std::move(clock)), options_(options) {}

Store::~Store() {
    Close();
}

void Store::Close() {
    for (auto& [sql, s] : statements_)
        sqlite3_finalize(s);
    statements_.clear();
    driveIds_.clear();
    last_.clear();
    if (db_ != nullptr)
        sqlite3_close(db_);
    db_ = nullptr;
}

Trouble Store::Open(const std::string& path) {
    Close();
    path_ = path;
    Trouble trouble;
    const Opened opened = OpenFile(&trouble.error);
    if (opened == Opened::Yes)
        return trouble;
    Close();
    // Only a damaged file is moved: one that merely cannot be opened now (a
    // newer layout, a lock, a full disk) holds readings the next start needs.
    if (opened == Opened::Failed) {
        trouble.notOpened = true;
        trouble.historyOff = true;
        return trouble;
    }
    if (Exists(path_)) {
        trouble.keptAside = KeepAside();
        if (trouble.keptAside.empty()) {
            trouble.historyOff = true;
            trouble.error += "; it could not be renamed: " + std::string(std::strerror(errno));
            return trouble;
        }
    }
    std::string again;
    if (OpenFile(&again) != Opened::Yes) {
        Close();
        trouble.historyOff = true;
        trouble.error += "; a new store failed too: " + again;
    }
    return trouble;
}

Store::Opened Store::OpenFile(std::string* error) {
    int code = SQLITE_OK;
    const auto failed = [&] { return Corrupt(code) ? Opened::Damaged : Opened::Failed; };
    code = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                           options_.vfs);
    if (code != SQLITE_OK) {
        *error = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
        return failed();
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, options_.busyTimeoutMs);
    // A garbage file fails here already; a truncated one at the check.
    if (Scalar(db_, "PRAGMA journal_mode=WAL", error, &code) != "wal") {
        if (error->empty())
            *error = "the store does not take write-ahead logging";
        return failed();
    }
    // Each reading's commit reaches the disk before the next poll. The page
    // cache is held to 512 KiB: a poll touches only the newest pages, and the
    // monitor's memory must not grow with the file over months.
    if (!Exec(db_, "PRAGMA synchronous=FULL", error, &code) ||
        !Exec(db_, "PRAGMA cache_size=-512", error, &code))
        return failed();
    const std::string check = Scalar(db_, "PRAGMA quick_check", error, &code);
    if (check != "ok") {
        if (!error->empty())
            return failed();
        *error = "integrity check: " + check;
        return Opened::Damaged;
    }
    const std::string version = Scalar(db_, "PRAGMA user_version", error, &code);
    if (version == "0" || version == "1" || version == "2") {
        if (!Exec(db_, "BEGIN IMMEDIATE", error, &code))
            return failed();
        const auto run = [&](const auto& statements) {
            for (const char* sql : statements)
                if (!Exec(db_, sql, error, &code))
                    return false;
            return true;
        };
        if ((version == "0" && !run(kSchema)) || (version != "2" && !run(kSchema2)) ||
            !run(kSchema3) || !Exec(db_, "COMMIT", error, &code)) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return failed();
        }
    } else if (version != "3") {
        if (error->empty())
            *error = "unknown layout version " + version;
        return failed();
    }
    for (const char* sql : {kFindDrive, kAdoptDrive, kAddDrive, kAddReading, kAddEntry, kPoints,
                            kLatest, kRows, kAddSelfTest, kSelfTests})
        if (Statement(sql) == nullptr) {
            code = sqlite3_extended_errcode(db_);
            *error = std::string(sql) + ": " + sqlite3_errmsg(db_);
            return failed();
        }
    return Opened::Yes;
}

sqlite3_stmt* Store::Statement(const char* sql) const {
    if (db_ == nullptr)
        return nullptr;
    auto it = statements_.find(sql);
    if (it != statements_.end())
        return it->second;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
        return nullptr;
    statements_[sql] = s;
    return s;
}

std::string Store::KeepAside() {
    // history.sqlite3.broken-20261207T101500Z, and -2, -3 ... when taken.
    const std::time_t seconds = static_cast<std::time_t>(clock_() / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::string aside = path_ + ".broken-" + stamp;
    for (int n = 2; Exists(aside); ++n)
        aside = path_ + ".broken-" + stamp + "-" + std::to_string(n);
    if (std::rename(path_.c_str(), aside.c_str()) != 0)
        return {};
    // Its log belongs to it: left in place it would be replayed into the new file.
    for (const char* suffix : {"-wal", "-shm"})
        if (Exists(path_ + suffix))
            std::rename((path_ + suffix).c_str(), (aside + suffix).c_str());
    return aside;
}

std::optional<std::int64_t> Store::FindDrive(const Identity& drive) const {
    sqlite3_stmt* s = Statement(kFindDrive);
    if (s == nullptr)
        return std::nullopt;
    Use use{s};
    BindText(s, 1, drive.model);
    BindText(s, 2, drive.firmware);
    BindText(s, 3, drive.serial);
    if (sqlite3_step(s) != SQLITE_ROW)
        return std::nullopt;
    return sqlite3_column_int64(s, 0);
}

Trouble Store::AddSelfTest(const Identity& drive, const SelfTestRecord& record) {
    Trouble trouble;
    std::optional<std::int64_t> id;
    if (const auto it = driveIds_.find(drive); it != driveIds_.end())
        id = it->second;
    else
        id = FindDrive(drive);
    // A test ends at a read, which put the drive in the store first.
    if (db_ == nullptr || !id)
        return trouble;
    sqlite3_stmt* s = Statement(kAddSelfTest);
    Use use{s};
    sqlite3_bind_int64(s, 1, *id);
    sqlite3_bind_int64(s, 2, record.takenMs);
    BindText(s, 3, record.type);
    sqlite3_bind_int(s, 4, record.result);
    sqlite3_bind_int64(s, 5, static_cast<std::int64_t>(record.hours));
    BindOptional(s, 6,
                 record.failingLba
                     ? std::optional<std::int64_t>(static_cast<std::int64_t>(*record.failingLba))
                     : std::nullopt);
    if (sqlite3_step(s) != SQLITE_DONE)
        trouble.error = sqlite3_errmsg(db_);
    return trouble;
}

std::vector<SelfTestRecord> Store::SelfTests(const Identity& drive) const {
    std::vector<SelfTestRecord> records;
    sqlite3_stmt* s = ForDrive(kSelfTests, drive);
    if (s == nullptr)
        return records;
    Use use{s};
    while (sqlite3_step(s) == SQLITE_ROW) {
        SelfTestRecord r;
        r.takenMs = sqlite3_column_int64(s, 0);
        r.type = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        r.result = sqlite3_column_int(s, 2);
        r.hours = static_cast<std::uint64_t>(sqlite3_column_int64(s, 3));
        if (sqlite3_column_type(s, 4) != SQLITE_NULL)
            r.failingLba = static_cast<std::uint64_t>(sqlite3_column_int64(s, 4));
        records.push_back(std::move(r));
    }
    return records;
}

Trouble Store::Add(const Reading& reading, bool onlyOneListed) {
    Trouble trouble;
    if (db_ == nullptr)
        return trouble; // off since the open, which was told
    const int code = Insert(reading, onlyOneListed, &trouble.error);
    if (code == SQLITE_OK || !Corrupt(code))
        return trouble;
    // Found corrupt while writing: the same road as at the open, then the
    // reading goes into the fresh store.
    Close();
    trouble.keptAside = KeepAside();
    std::string again;
    if (trouble.keptAside.empty() || OpenFile(&again) != Opened::Yes) {
        Close();
        trouble.historyOff = true;
        trouble.error += again.empty() ? "" : "; a new store failed too: " + again;
        return trouble;
    }
    std::string ignored;
    Insert(reading, onlyOneListed, &ignored);
    return trouble;
}

int Store::Insert(const Reading& reading, bool onlyOneListed, std::string* error) {
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    const auto fail = [&](int code) {
        *error = sqlite3_errmsg(db_);
        if (sqlite3_get_autocommit(db_) == 0)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return code;
    };
    if (rc != SQLITE_OK)
        return fail(rc);

    std::int64_t drive = 0;
    const Identity unserialled{reading.identity.model, reading.identity.firmware, ""};
    std::optional<std::int64_t> adopted;
    if (auto it = driveIds_.find(reading.identity); it != driveIds_.end()) {
        drive = it->second;
    } else if (auto found = FindDrive(reading.identity)) {
        drive = *found;
    } else if (onlyOneListed && !reading.identity.serial.empty() &&
               (adopted = FindDrive(unserialled))) {
        sqlite3_stmt* s = Statement(kAdoptDrive);
        Use use{s};
        sqlite3_bind_int64(s, 1, *adopted);
        BindText(s, 2, reading.identity.serial);
        if ((rc = sqlite3_step(s)) != SQLITE_DONE)
            return fail(rc);
        drive = *adopted;
    } else {
        sqlite3_stmt* s = Statement(kAddDrive);
        Use use{s};
        BindText(s, 1, reading.identity.model);
        BindText(s, 2, reading.identity.firmware);
        BindText(s, 3, reading.identity.serial);
        sqlite3_bind_int(s, 4, static_cast<int>(reading.kind));
        if ((rc = sqlite3_step(s)) != SQLITE_DONE)
            return fail(rc);
        drive = sqlite3_last_insert_rowid(db_);
    }

    const auto last = last_.find(drive);
    const bool same = last != last_.end() && last->second.kind == reading.kind &&
                      last->second.temperature == reading.temperature &&
                      last->second.entries == reading.entries;
    sqlite3_stmt* s = Statement(kAddReading);
    {
        Use use{s};
        sqlite3_bind_int64(s, 1, drive);
        sqlite3_bind_int64(s, 2, reading.takenMs);
        BindOptional(s, 3, reading.temperature);
        BindOptional(s, 4, same ? std::optional(last->second.owner) : std::nullopt);
        sqlite3_bind_int64(s, 5, static_cast<std::int64_t>(reading.entries.size()));
        if ((rc = sqlite3_step(s)) != SQLITE_DONE)
            return fail(rc);
    }
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    if (!same) {
        sqlite3_stmt* add = Statement(kAddEntry);
        for (const Entry& e : reading.entries) {
            Use use{add};
            sqlite3_bind_int64(add, 1, id);
            sqlite3_bind_int(add, 2, e.id);
            BindOptional(add, 3, e.value);
            BindOptional(add, 4, e.worst);
            BindOptional(add, 5, e.threshold);
            sqlite3_bind_blob(add, 6, e.raw.data(), static_cast<int>(e.raw.size()), SQLITE_STATIC);
            if ((rc = sqlite3_step(add)) != SQLITE_DONE)
                return fail(rc);
        }
    }
    if ((rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr)) != SQLITE_OK)
        return fail(rc);
    // Only what is committed may be referred to later.
    if (adopted)
        driveIds_.erase(unserialled);
    driveIds_[reading.identity] = drive;
    if (!same)
        last_[drive] = Last{id, reading.kind, reading.temperature, reading.entries};
    return SQLITE_OK;
}

sqlite3_stmt* Store::ForDrive(const char* sql, const Identity& drive) const {
    const auto id = FindDrive(drive);
    sqlite3_stmt* s = Statement(sql);
    if (!id || s == nullptr)
        return nullptr;
    sqlite3_bind_int64(s, 1, *id);
    return s;
}

std::vector<Point> Store::Points(const Identity& drive, std::uint8_t entryId, std::int64_t fromMs,
                                 std::int64_t afterReading) const {
    std::vector<Point> points;
    sqlite3_stmt* s = ForDrive(kPoints, drive);
    if (s == nullptr)
        return points;
    Use use{s};
    sqlite3_bind_int(s, 2, entryId);
    sqlite3_bind_int64(s, 3, fromMs);
    sqlite3_bind_int64(s, 4, afterReading);
    while (sqlite3_step(s) == SQLITE_ROW) {
        Point p;
        p.reading = sqlite3_column_int64(s, 7);
        p.takenMs = sqlite3_column_int64(s, 0);
        if (auto t = ColumnOptional(s, 1))
            p.temperature = static_cast<int>(*t);
        if (sqlite3_column_type(s, 6) != SQLITE_NULL)
            p.entry = ColumnEntry(s, 6, 2);
        points.push_back(std::move(p));
    }
    return points;
}

std::vector<Entry> Store::LatestEntries(const Identity& drive, Kind* kind) const {
    std::vector<Entry> entries;
    sqlite3_stmt* s = ForDrive(kLatest, drive);
    if (s == nullptr)
        return entries;
    Use use{s};
    while (sqlite3_step(s) == SQLITE_ROW) {
        entries.push_back(ColumnEntry(s, 0, 1));
        if (kind != nullptr)
            *kind = static_cast<Kind>(sqlite3_column_int(s, 5));
    }
    return entries;
}

bool Store::ForEachRow(const Identity& drive, const RowVisitor& visit) const {
    sqlite3_stmt* s = Statement(kRows);
    if (s == nullptr)
        return false;
    const auto id = FindDrive(drive);
    if (!id)
        return true;
    Use use{s};
    sqlite3_bind_int64(s, 1, *id);
    Reading reading;
    reading.identity = drive;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        reading.takenMs = sqlite3_column_int64(s, 0);
        reading.temperature.reset();
        if (auto t = ColumnOptional(s, 1))
            reading.temperature = static_cast<int>(*t);
        reading.kind = static_cast<Kind>(sqlite3_column_int(s, 7));
        visit(reading, ColumnEntry(s, 2, 3));
    }
    return rc == SQLITE_DONE;
}

std::optional<std::int64_t> Store::DriveId(const Identity& drive) const {
    if (const auto it = driveIds_.find(drive); it != driveIds_.end())
        return it->second;
    return FindDrive(drive);
}

namespace {

std::optional<Point> OnePoint(sqlite3_stmt* s) {
    if (s == nullptr)
        return std::nullopt;
    Use use{s};
    if (sqlite3_step(s) != SQLITE_ROW)
        return std::nullopt;
    Point p;
    p.reading = sqlite3_column_int64(s, 7);
    p.takenMs = sqlite3_column_int64(s, 0);
    if (auto t = ColumnOptional(s, 1))
        p.temperature = static_cast<int>(*t);
    p.entry = ColumnEntry(s, 6, 2);
    return p;
}

std::int64_t StoredCount(std::uint64_t count) {
    return count > std::uint64_t(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(count);
}

} // namespace

std::optional<Point> Store::AtOrBefore(const Identity& drive, std::uint8_t entryId,
                                       std::int64_t ms) const {
    const auto id = DriveId(drive);
    sqlite3_stmt* s = Statement(kAtOrBefore);
    if (!id || s == nullptr)
        return std::nullopt;
    sqlite3_bind_int64(s, 1, *id);
    sqlite3_bind_int(s, 2, entryId);
    sqlite3_bind_int64(s, 3, ms);
    return OnePoint(s);
}

std::optional<Point> Store::FirstWith(const Identity& drive, std::uint8_t entryId) const {
    const auto id = DriveId(drive);
    sqlite3_stmt* s = Statement(kFirstWith);
    if (!id || s == nullptr)
        return std::nullopt;
    sqlite3_bind_int64(s, 1, *id);
    sqlite3_bind_int(s, 2, entryId);
    return OnePoint(s);
}

Trouble Store::WatchWrite(const char* sql, const Identity& drive,
                          const std::function<void(sqlite3_stmt*)>& bind) {
    Trouble trouble;
    const auto id = DriveId(drive);
    sqlite3_stmt* s = Statement(sql);
    // A period starts at a read, which put the drive in the store first.
    if (!id || s == nullptr)
        return trouble;
    Use use{s};
    sqlite3_bind_int64(s, 1, *id);
    bind(s);
    if (sqlite3_step(s) != SQLITE_DONE)
        trouble.error = sqlite3_errmsg(db_);
    return trouble;
}

Trouble Store::AddWatchStart(const Identity& drive, const std::string& reason, std::int64_t ms,
                             std::uint64_t count) {
    return WatchWrite(kAddWatch, drive, [&](sqlite3_stmt* s) {
        BindText(s, 2, reason);
        sqlite3_bind_int64(s, 3, ms);
        sqlite3_bind_int64(s, 4, StoredCount(count));
    });
}

Trouble Store::SetWatchTold(const Identity& drive, const std::string& reason, std::uint64_t count) {
    return WatchWrite(kWatchTold, drive, [&](sqlite3_stmt* s) {
        BindText(s, 2, reason);
        sqlite3_bind_int64(s, 3, StoredCount(count));
    });
}

Trouble Store::EndWatch(const Identity& drive, const std::string& reason, std::int64_t ms) {
    return WatchWrite(kEndWatch, drive, [&](sqlite3_stmt* s) {
        BindText(s, 2, reason);
        sqlite3_bind_int64(s, 3, ms);
    });
}

std::vector<WatchRecord> Store::WatchPeriods(const Identity& drive, bool openOnly) const {
    std::vector<WatchRecord> periods;
    const auto id = DriveId(drive);
    sqlite3_stmt* s = Statement(kWatches);
    if (!id || s == nullptr)
        return periods;
    Use use{s};
    sqlite3_bind_int64(s, 1, *id);
    sqlite3_bind_int(s, 2, openOnly ? 1 : 0);
    while (sqlite3_step(s) == SQLITE_ROW) {
        WatchRecord w;
        if (const unsigned char* text = sqlite3_column_text(s, 0))
            w.reason = reinterpret_cast<const char*>(text);
        w.startedMs = sqlite3_column_int64(s, 1);
        w.endedMs = ColumnOptional(s, 2);
        w.toldCount =
            static_cast<std::uint64_t>(std::max<std::int64_t>(0, sqlite3_column_int64(s, 3)));
        periods.push_back(std::move(w));
    }
    return periods;
}

std::int64_t Store::ReadingCount() const {
    if (db_ == nullptr)
        return 0;
    std::string error;
    int code = SQLITE_OK;
    return std::atoll(Scalar(db_, kCount, &error, &code).c_str());
}

} // namespace zentrova::history
