// The lines of one event log for the log page, however large the log grows:
// a sparse index of where lines start, built by scanning the file, and only
// the lines asked for read and decoded.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace zentrova::smart {

struct LogRefreshResult {
    // false: no regular file there, or it could not be read.
    bool ok = false;
    // The index was emptied and, when ok, rebuilt from the file's first byte.
    bool restarted = false;
};

// Holds the indexed file open for reading, so that the lines stay readable
// when the log is deleted or replaced until the next rebuild.
class LogLineIndex {
  public:
    LogLineIndex() = default;
    ~LogLineIndex() { Clear(); }
    LogLineIndex(const LogLineIndex&) = delete;
    LogLineIndex& operator=(const LogLineIndex&) = delete;

    // Every kStride-th line start is kept (a 200 MB log of short lines costs
    // about 2 MB here); a line is found by scanning at most one stride.
    static constexpr int kStride = 32;
    // One call scans at most this much, so that a huge log never holds up
    // the window for long; Continue() goes on from there.
    static constexpr std::int64_t kScanSlice = std::int64_t{32} << 20;
    // Longer lines are shown cut off: no log line comes near this.
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;

    // Indexes what was added to the log at `path` since *position, the
    // caller's read position, and moves *position to the index's end. A
    // position of 0, another path, another file at the path, or a file now
    // shorter than the position rebuild the index from the first byte. An
    // unfinished UTF-8 character at the end waits for its last bytes. When
    // the file cannot be opened, nothing changes.
    LogRefreshResult Refresh(const QString& path, std::int64_t* position,
                             std::int64_t sliceBytes = kScanSlice);
    // True while bytes that the file held at the last Refresh are unscanned.
    bool Scanning() const { return scanned_ < goal_; }
    // Scans the next slice of those bytes; the result as for Refresh.
    LogRefreshResult Continue(std::int64_t* position, std::int64_t sliceBytes = kScanSlice);
    void Clear();

    // Lines end at LF; the unfinished last line counts once it has a byte.
    std::int64_t LineCount() const { return lines_ + (end_ > lastStart_ ? 1 : 0); }
    // Line i without its line end and without CRs; bytes that are not UTF-8
    // come out as U+FFFD. Empty when the file changed under the index.
    QString Line(std::int64_t i);
    // `count` lines from `first`, each followed by "\n" unless it is the
    // unfinished last line: the page's text as copied.
    QString Text(std::int64_t first, std::int64_t count);
    const QString& Path() const { return path_; }

  private:
    struct Block {
        std::int64_t number = -1;
        QStringList lines;
    };
    LogRefreshResult Scan(std::int64_t* position, std::int64_t sliceBytes);
    void LoadBlock(Block& block, std::int64_t number);

    QString path_;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::vector<std::int64_t> marks_{0}; // start of line k * kStride
    std::int64_t lines_ = 0;             // LFs seen
    std::int64_t lastStart_ = 0;         // start of the line after the last LF
    std::int64_t end_ = 0;               // bytes indexed
    std::int64_t scanned_ = 0;           // bytes looked at (end_ plus a held-back character)
    std::int64_t goal_ = 0;              // the file's size at the last Refresh
    std::array<Block, 4> cache_;
    std::size_t nextBlock_ = 0;
};

} // namespace zentrova::smart
