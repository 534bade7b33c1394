#include "log_lines.h"

#include "event_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrova::smart {

namespace {

// Large enough that a scan is a few hundred reads per 100 MB, small enough
// to be handed back to the system when the scan ends.
constexpr std::int64_t kScanChunk = std::int64_t{1} << 20;
constexpr std::int64_t kBlockChunk = 64 * 1024;

ssize_t ReadAt(int fd, char* data, std::int64_t size, std::int64_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, data, static_cast<std::size_t>(size), static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n;
}

// How many bytes at the end of `bytes` are the start of a UTF-8 character
// whose last bytes have not been written yet.
int UnfinishedCharacter(const unsigned char* bytes, int n) {
    for (int k = 1; k <= n; ++k) {
        const unsigned char b = bytes[n - k];
        if ((b & 0xC0) == 0x80)
            continue; // continuation byte: look further back for its lead
        const int need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return need > k ? k : 0;
    }
    return 0; // no lead byte nearby: not a split character, the decoder judges
}

QString Decode(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    text.remove(QLatin1Char('\r')); // the page shows lines, not line ends
    return text;
}

void AppendCapped(QByteArray& line, const char* data, qsizetype size) {
    const qsizetype room = LogLineIndex::kMaxLineBytes - line.size();
    if (room > 0)
        line.append(data, std::min(size, room));
}

} // namespace

void LogLineIndex::Clear() {
    if (fd_ >= 0)
        ::close(fd_); // read-only: nothing to lose
    fd_ = -1;
    path_.clear();
    device_ = 0;
    inode_ = 0;
    marks_.assign(1, 0);
    lines_ = lastStart_ = end_ = scanned_ = goal_ = 0;
    for (Block& block : cache_)
        block = Block{};
}

LogRefreshResult LogLineIndex::Refresh(const QString& path, std::int64_t* position,
                                       std::int64_t sliceBytes) {
    if (position == nullptr)
        return {};
    const int fd = OpenLogForReading(path);
    if (fd < 0)
        return {};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return {};
    }
    bool restarted = false;
    if (*position == 0 || *position != end_ || path != path_ || st.st_dev != device_ ||
        st.st_ino != inode_ || st.st_size < end_) {
        Clear();
        fd_ = fd;
        path_ = path;
        device_ = st.st_dev;
        inode_ = st.st_ino;
        restarted = true;
    } else {
        ::close(fd); // the same file as the one held
    }
    goal_ = st.st_size;
    LogRefreshResult result = Scan(position, sliceBytes);
    result.restarted = result.restarted || restarted;
    return result;
}

LogRefreshResult LogLineIndex::Continue(std::int64_t* position, std::int64_t sliceBytes) {
    if (position == nullptr || !Scanning())
        return {};
    // Only where Refresh left off: a caller that reset its position meanwhile
    // must Refresh.
    if (*position != end_)
        return {};
    return Scan(position, sliceBytes);
}

LogRefreshResult LogLineIndex::Scan(std::int64_t* position, std::int64_t sliceBytes) {
    const int fd = fd_;
    const std::int64_t countBefore = LineCount();
    // Bytes held back last time are scanned again: they hold no LF.
    const std::int64_t stop = std::min(goal_, end_ + std::max<std::int64_t>(sliceBytes, 1));
    std::int64_t at = end_;
    std::vector<char> buffer(static_cast<std::size_t>(std::min(stop - at, kScanChunk)));
    bool failed = false;
    while (at < stop) {
        const ssize_t n = ReadAt(fd, buffer.data(), std::min(stop - at, kScanChunk), at);
        if (n < 0)
            failed = true;
        if (n <= 0)
            break; // cut short by someone else since fstat: take what is there
        const char* const base = buffer.data();
        const char* p = base;
        const char* const e = base + n;
        while ((p = static_cast<const char*>(std::memchr(p, '\n', std::size_t(e - p)))) !=
               nullptr) {
            ++p;
            lastStart_ = at + (p - base);
            if (++lines_ % kStride == 0)
                marks_.push_back(lastStart_);
        }
        at += n;
    }
    if (failed) {
        Clear();
        *position = 0;
        return LogRefreshResult{false, true};
    }
    scanned_ = at;
    if (at < stop)
        goal_ = at; // the file is shorter than it was: nothing more to wait for
    unsigned char tail[4];
    const int tailSize = static_cast<int>(std::min<std::int64_t>(4, at - lastStart_));
    const ssize_t got =
        tailSize > 0 ? ReadAt(fd, reinterpret_cast<char*>(tail), tailSize, at - tailSize) : 0;
    end_ = at - (got == tailSize ? UnfinishedCharacter(tail, tailSize) : 0);
    *position = end_;

    // The block that held the last line may have changed; blocks before it
    // cannot have.
    const std::int64_t changed = countBefore > 0 ? (countBefore - 1) / kStride : 0;
    for (Block& block : cache_) {
        if (block.number >= changed)
            block = Block{};
    }
    return LogRefreshResult{true, false};
}

QString LogLineIndex::Line(std::int64_t i) {
    if (i < 0 || i >= LineCount())
        return {};
    const std::int64_t number = i / kStride;
    Block* block = nullptr;
    for (Block& cached : cache_) {
        if (cached.number == number)
            block = &cached;
    }
    if (block == nullptr) {
        block = &cache_[nextBlock_];
        nextBlock_ = (nextBlock_ + 1) % cache_.size();
        LoadBlock(*block, number);
    }
    const auto k = static_cast<qsizetype>(i - number * kStride);
    return k < block->lines.size() ? block->lines[k] : QString();
}

void LogLineIndex::LoadBlock(Block& block, std::int64_t number) {
    block.number = number;
    block.lines.clear();
    const auto count =
        static_cast<qsizetype>(std::min<std::int64_t>(kStride, LineCount() - number * kStride));
    std::int64_t at = marks_[static_cast<std::size_t>(number)];
    const std::int64_t to = static_cast<std::size_t>(number) + 1 < marks_.size()
                                ? marks_[static_cast<std::size_t>(number) + 1]
                                : end_;
    const int fd = fd_;
    if (fd >= 0) {
        // All lines but the block's last: their ends have to be found.
        QByteArray line;
        std::vector<char> buffer(static_cast<std::size_t>(std::min(to - at, kBlockChunk)));
        while (at < to && block.lines.size() + 1 < count) {
            const ssize_t n = ReadAt(fd, buffer.data(), std::min(to - at, kBlockChunk), at);
            if (n <= 0)
                break;
            const char* const base = buffer.data();
            const char* p = base;
            const char* const e = base + n;
            while (p < e && block.lines.size() + 1 < count) {
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', std::size_t(e - p)));
                AppendCapped(line, p, (lf != nullptr ? lf : e) - p);
                if (lf == nullptr) {
                    p = e;
                    break;
                }
                block.lines.append(Decode(line));
                line.clear();
                p = lf + 1;
            }
            at += p - base;
        }
        // The last one ends where the block does: only what is shown is read.
        if (block.lines.size() + 1 == count && line.isEmpty()) {
            const std::int64_t want = std::min<std::int64_t>(to - at, kMaxLineBytes);
            QByteArray last(static_cast<qsizetype>(want), Qt::Uninitialized);
            const ssize_t n = want > 0 ? ReadAt(fd, last.data(), want, at) : 0;
            last.truncate(std::max<qsizetype>(n, 0));
            if (n == want && at + want == to && last.endsWith('\n'))
                last.chop(1);
            block.lines.append(Decode(last));
        }
    }
    while (block.lines.size() < count)
        block.lines.append(QString()); // the file changed under the index
}

QString LogLineIndex::Text(std::int64_t first, std::int64_t count) {
    QString text;
    const std::int64_t last = std::min(LineCount(), first + count);
    for (std::int64_t i = std::max<std::int64_t>(first, 0); i < last; ++i) {
        text += Line(i);
        if (i < lines_)
            text += QLatin1Char('\n');
    }
    return text;
}

} // namespace zentrova::smart
