// The history store: one SQLite file (WAL mode) that only grows, one
// transaction per reading, so that a crash loses at most the reading being
// written. A file that turns out damaged is renamed aside and a fresh one
// started; one that only cannot be opened now (a newer layout, a lock held
// elsewhere, a full disk, an I/O error, a folder that refuses new files) is
// left as it is and the history is off until the next start. The caller is
// told once, and monitoring goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zentrova::history {

// What a drive says it is; the same drive keeps it wherever it is listed.
struct Identity {
    std::string model;
    std::string firmware;
    std::string serial; // empty when the drive reports none
    bool operator==(const Identity&) const = default;
    auto operator<=>(const Identity&) const = default;
};

// One attribute of an ATA drive, or one health field of an NVMe drive (`id`
// is then the field's byte offset in the health log). Fields that a kind does
// not have are empty.
struct Entry {
    std::uint8_t id = 0;
    std::optional<std::int64_t> value;
    std::optional<std::int64_t> worst;
    std::optional<std::int64_t> threshold;
    std::vector<std::uint8_t> raw; // as the drive sent them, least significant first
    bool operator==(const Entry&) const = default;
};

enum class Kind { Ata = 0, Nvme = 1 };

struct Reading {
    std::int64_t takenMs = 0; // milliseconds since the epoch, UTC
    Identity identity;
    Kind kind = Kind::Ata;
    std::optional<int> temperature; // degrees Celsius
    std::vector<Entry> entries;     // identifiers unique
};

// One reading as a plot sees it: its time, temperature and one entry.
struct Point {
    std::int64_t reading = 0; // grows with every reading added
    std::int64_t takenMs = 0;
    std::optional<int> temperature;
    std::optional<Entry> entry; // none when that reading lacked it
};

// A self-test that ended: its type ("short", "extended", ...), its result as
// the metrics give it (0 passed, 1 failed, 2 aborted, 3 unknown), the
// drive's power-on hours then and the first failing LBA.
struct SelfTestRecord {
    std::int64_t takenMs = 0;
    std::string type;
    int result = 0;
    std::uint64_t hours = 0;
    std::optional<std::uint64_t> failingLba;
    bool operator==(const SelfTestRecord&) const = default;
};

// A period during which a drive was on Watch (or an advice was told) for one
// rule: when it started, when it ended (none while open) and the count last
// told the user, so that a restart neither tells it again nor forgets it.
struct WatchRecord {
    std::string reason; // the rule's key, "reallocated_sectors"
    std::int64_t startedMs = 0;
    std::optional<std::int64_t> endedMs;
    std::uint64_t toldCount = 0;
    bool operator==(const WatchRecord&) const = default;
};

// What an open or a write did to the file, for the one alert.
struct Trouble {
    std::string error;       // empty: all went well
    std::string keptAside;   // where a bad file went, empty if none was moved
    bool historyOff = false; // no history this run: the file left unopened, or not even a
                             // fresh one could be made
    bool notOpened = false;  // the file could not be opened now and was left untouched
};

// How the store reaches its file: the SQLite VFS (null: the default) and how
// long a lock held elsewhere is waited for. Tests put a failing VFS here.
struct StoreOptions {
    const char* vfs = nullptr;
    int busyTimeoutMs = 2000;
};

class Store {
  public:
    using Clock = std::function<std::int64_t()>; // ms since the epoch, UTC
    explicit Store(Clock clock, StoreOptions options = {});
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens or creates `path`. A damaged file (SQLite finds it corrupt or no
    // database, or the quick check fails) is moved aside and replaced by a new
    // one; on any other failure the file is left as it is and the store stays
    // closed (`notOpened`).
    Trouble Open(const std::string& path);
    bool IsOpen() const { return db_ != nullptr; }
    void Close();

    // Adds one reading in one transaction. A reading equal to the drive's
    // previous one in all but its time is stored as a reference to it.
    // `onlyOneListed`: no other drive of the list has this model and
    // firmware, so a drive with a serial and no row of its own takes over the
    // row of its model and firmware stored before serials were read. With
    // twins listed it starts a row of its own and the old one stays as it is.
    Trouble Add(const Reading& reading, bool onlyOneListed = false);

    // One self-test of a drive already in the store, in its own statement.
    Trouble AddSelfTest(const Identity& drive, const SelfTestRecord& record);
    std::vector<SelfTestRecord> SelfTests(const Identity& drive) const;

    // The drive's readings taken at `fromMs` or later and added after reading
    // `afterReading`, oldest first, each with entry `entryId`.
    std::vector<Point> Points(const Identity& drive, std::uint8_t entryId, std::int64_t fromMs,
                              std::int64_t afterReading = 0) const;
    // The entries of the drive's latest reading (kind in `kind`); empty when
    // it has none.
    std::vector<Entry> LatestEntries(const Identity& drive, Kind* kind = nullptr) const;
    // Walks every reading and entry of the drive, oldest first, without
    // holding them all; false when the store could not be read.
    using RowVisitor = std::function<void(const Reading& reading, const Entry& entry)>;
    bool ForEachRow(const Identity& drive, const RowVisitor& visit) const;

    // Whether the store has a row for the drive.
    bool Knows(const Identity& drive) const { return FindDrive(drive).has_value(); }

    // The newest reading taken at or before `ms` that holds entry `entryId`,
    // and the drive's first one that holds it: one indexed query each, so the
    // Watch judgement's look-back costs the same with a year of history.
    std::optional<Point> AtOrBefore(const Identity& drive, std::uint8_t entryId,
                                    std::int64_t ms) const;
    std::optional<Point> FirstWith(const Identity& drive, std::uint8_t entryId) const;

    // The drive's Watch periods (table `watch`), oldest first; only the open
    // ones with `openOnly`. A drive never stored has none and records none.
    Trouble AddWatchStart(const Identity& drive, const std::string& reason, std::int64_t ms,
                          std::uint64_t count);
    Trouble SetWatchTold(const Identity& drive, const std::string& reason, std::uint64_t count);
    Trouble EndWatch(const Identity& drive, const std::string& reason, std::int64_t ms);
    std::vector<WatchRecord> WatchPeriods(const Identity& drive, bool openOnly = false) const;

    std::int64_t ReadingCount() const;
    const std::string& Path() const { return path_; }

  private:
    struct Last {
        std::int64_t owner = 0; // the reading that holds the entries
        Kind kind = Kind::Ata;
        std::optional<int> temperature;
        std::vector<Entry> entries;
    };
    enum class Opened { Yes, Damaged, Failed };
    Opened OpenFile(std::string* error);
    std::string KeepAside();
    int Insert(const Reading& reading, bool onlyOneListed, std::string* error);
    // Prepared once per open; null when SQLite refused it.
    sqlite3_stmt* Statement(const char* sql) const;
    std::optional<std::int64_t> FindDrive(const Identity& drive) const;
    // Statement `sql` with the drive's id bound to ?1; null for a drive
    // never stored or a statement SQLite refused.
    sqlite3_stmt* ForDrive(const char* sql, const Identity& drive) const;
    // The drive's id from the ids known since the open, else the file.
    std::optional<std::int64_t> DriveId(const Identity& drive) const;
    // Runs a write of the watch table whose ?1 is the drive's id.
    Trouble WatchWrite(const char* sql, const Identity& drive,
                       const std::function<void(sqlite3_stmt*)>& bind);

    Clock clock_;
    StoreOptions options_;
    std::string path_;
    sqlite3* db_ = nullptr;
    mutable std::map<const char*, sqlite3_stmt*> statements_;
    std::map<Identity, std::int64_t> driveIds_;
    std::map<std::int64_t, Last> last_; // per drive id: flat, one per drive
};

// "history.sqlite3" in the data folder.
inline constexpr char kHistoryFileName[] = "history.sqlite3";

} // namespace zentrova::history
