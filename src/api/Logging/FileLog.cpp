#include "api/Logging/FileLog.hpp"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "api/Logging/AES256Encryption.hpp"
#include "platform/Compression.hpp"
#include "platform/FileSystem.hpp"
#include "platform/Locked.hpp"
#include "platform/Text.hpp"

namespace fs = std::filesystem;

namespace qz {

namespace {

// Stored forms of the key and IV; the real values come from two digit
// replacements each.
constexpr const char* kStoredKey =
    "3b9e0f47d21a86c5e7f0a3d94b61c82e5f7a0d39c64e1b28f95a07d3e6c14b82";
constexpr const char* kStoredIV = "7d0e4a91c3f62b85e1a97c04d3b6f258";

std::string replaced(std::string text, char from, char to) {
    std::replace(text.begin(), text.end(), from, to);
    return text;
}

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Cuts `text` at code-point boundaries into parts of at most `maxBytes` bytes.
std::vector<std::string_view> splitBytes(std::string_view text, size_t maxBytes) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        size_t cut = std::min(maxBytes, text.size());
        if (cut < text.size()) {
            while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
            if (cut == 0) cut = std::min(maxBytes, text.size());
        }
        out.push_back(text.substr(0, cut));
        text.remove_prefix(cut);
    }
    return out;
}

// Pieces whose text plus the carriage return still fits one record: whole
// characters where they fit, code points where a single character is larger.
std::vector<std::string> fittingPieces(const std::string& piece) {
    const size_t maxBytes = AES256Encryption::kMaxPlaintext - 1;
    if (piece.size() <= maxBytes) return {piece};
    std::vector<std::string> out;
    std::string current;
    for (auto& ch : text::split(piece, 1)) {
        if (ch.size() > maxBytes) {
            if (!current.empty()) out.push_back(std::move(current));
            current.clear();
            for (auto part : splitBytes(ch, maxBytes)) out.emplace_back(part);
            continue;
        }
        if (current.size() + ch.size() > maxBytes) {
            out.push_back(std::move(current));
            current.clear();
        }
        current += ch;
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

// A folder under `parent` that only this user can enter: one per user, used
// only while it is a real folder owned by us with no access for others;
// otherwise a new uniquely named one.
std::optional<fs::path> privateFolder(const fs::path& parent) {
    if (!Paths::createDirectories(parent)) return std::nullopt;
    const fs::path folder = parent / ("qzenhanced-" + std::to_string(::getuid()));
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
        (st.st_mode & 077) == 0)
        return folder;
    return Paths::makeUniqueDirectory("qzenhanced", parent);
}

}  // namespace

FileLog::FileLog() : FileLog(defaultDirectory()) {}

FileLog::FileLog(fs::path directory) : directory_(std::move(directory)) {
    Paths::createDirectories(directory_);
}

FileLog::~FileLog() {
    closeFile();
}

const std::string& FileLog::key() {
    std::lock_guard lock(mutex_);
    if (!key_) key_ = replaced(replaced(kStoredKey, '7', 'c'), '2', 'e');
    return *key_;
}

const std::string& FileLog::iv() {
    std::lock_guard lock(mutex_);
    if (!iv_) iv_ = replaced(replaced(kStoredIV, 'd', '4'), '9', '1');
    return *iv_;
}

uint64_t FileLog::maxFileSize() const {
    return lockedCopy(mutex_, maxFileSize_);
}
void FileLog::setMaxFileSize(uint64_t kib) {
    lockedAssign(mutex_, maxFileSize_, kib);
}
int64_t FileLog::maxFileCount() const {
    return lockedCopy(mutex_, maxFileCount_);
}
void FileLog::setMaxFileCount(int64_t count) {
    lockedAssign(mutex_, maxFileCount_, count);
}
fs::path FileLog::directory() const {
    return lockedCopy(mutex_, directory_);
}
void FileLog::setDirectory(fs::path directory) {
    std::lock_guard lock(mutex_);
    directory_ = std::move(directory);
    closeFile();
}
std::string FileLog::name() const {
    return lockedCopy(mutex_, name_);
}
void FileLog::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
    closeFile();
}

fs::path FileLog::currentPath() const {
    std::lock_guard lock(mutex_);
    return directory_ / logName(0);
}

std::string FileLog::logName(int64_t index) const {
    std::lock_guard lock(mutex_);
    return name_ + "-" + std::to_string(index) + ".log";
}

fs::path FileLog::defaultDirectory() {
    fs::path dir = Paths::documentsDirectory() / "Logs";
    Paths::createDirectories(dir);
    return dir;
}

void FileLog::write(std::string_view text) {
    if (text.empty()) return;
    if (text::isAscii(text)) {
        std::lock_guard lock(mutex_);
        if (text.size() <= kPieceLength) {  // one piece
            writeInternal(text);
            return;
        }
        for (auto piece : text::splitAscii(text, kPieceLength)) writeInternal(piece);
        return;
    }
    const auto pieces = text::split(text, kPieceLength);
    std::lock_guard lock(mutex_);
    for (const auto& piece : pieces) writeInternal(piece);
}

void FileLog::writeInternal(std::string_view piece) {
    if (piece.size() < AES256Encryption::kMaxPlaintext) {
        appendRecord(piece);
        return;
    }
    for (const auto& part : fittingPieces(std::string(piece))) appendRecord(part);
}

void FileLog::appendRecord(std::string_view piece) {
    if (!ensureOpen()) return;
    if (!encryptor_) encryptor_ = std::make_unique<AES256Encryption::RecordEncryptor>(key(), iv());
    if (text::isValidUTF8(piece) && encryptor_->encrypt(piece, "\r", record_)) {
        appendBytes(record_.data(), record_.size());
    } else {
        std::string_view missing(kMissingLine);
        appendBytes(reinterpret_cast<const uint8_t*>(missing.data()), missing.size());
    }
    if (fd_ < 0 || size_ >= maxFileSize_ * 1024) cleanup();
}

void FileLog::appendBytes(const uint8_t* bytes, size_t count) {
    ssize_t w;
    do {
        w = ::write(fd_, bytes, count);
    } while (w < 0 && errno == EINTR);
    if (w == static_cast<ssize_t>(count)) {
        size_ += count;
        return;
    }
    // Nothing or only part of it was written (a full disk): the part is cut off again, so
    // that the next record follows the last whole one.
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        closeFile();
        return;
    }
    uint64_t end = static_cast<uint64_t>(st.st_size);
    if (w > 0) {
        end -= std::min<uint64_t>(end, static_cast<uint64_t>(w));
        if (::ftruncate(fd_, static_cast<off_t>(end)) != 0) {
            closeFile();
            return;
        }
    }
    size_ = end;
}

bool FileLog::ensureOpen() {
    if (fd_ >= 0 && !changedUnderneath()) return true;
    closeFile();
    const fs::path path = directory_ / logName(0);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        Paths::createDirectories(path.parent_path());
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
    openPath_ = path;
    openName_ = path.filename().string();
    watchFolder();
    return true;
}

void FileLog::watchFolder() {
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0) return;
    const fs::path folder = openPath_.parent_path();
    folderWatch_ = ::inotify_add_watch(watch_, folder.c_str(),
                                       IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    bool ok = folderWatch_ >= 0;
    // A folder further up that is moved or removed takes ours with it.
    std::error_code ec;
    fs::path up = fs::absolute(folder, ec);
    while (ok && !ec && up.has_parent_path() && up.parent_path() != up) {
        up = up.parent_path();
        ok = ::inotify_add_watch(watch_, up.c_str(), IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) >=
             0;
    }
    if (ok && !ec) {
        poll_ = ::epoll_create1(EPOLL_CLOEXEC);
        struct epoll_event interest {};
        interest.events = EPOLLIN;
        ok = poll_ >= 0 && ::epoll_ctl(poll_, EPOLL_CTL_ADD, watch_, &interest) == 0;
    }
    if (!ok || ec) {
        if (poll_ >= 0) ::close(poll_);
        ::close(watch_);
        poll_ = -1;
        watch_ = -1;
        folderWatch_ = -1;
    }
}

bool FileLog::changedUnderneath() {
    if (watch_ < 0) {
        struct stat st {};
        return ::stat(openPath_.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_dev) != device_ ||
               static_cast<uint64_t>(st.st_ino) != inode_;
    }
    // An empty epoll poll costs less than any question to the inotify descriptor itself.
    struct epoll_event ready {};
    if (::epoll_wait(poll_, &ready, 1, 0) == 0) return false;
    alignas(struct inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        const ssize_t n = ::read(watch_, buffer, sizeof buffer);
        if (n <= 0) return changed || (n < 0 && errno != EAGAIN && errno != EINTR);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            if (event->wd != folderWatch_ ||
                (event->mask & ~(IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ISDIR)) !=
                    0) {
                changed = true;  // the folder itself, a folder above it, or lost events
            } else if (event->len > 0 && openName_ == event->name) {
                changed = true;
            }
        }
    }
}

void FileLog::closeFile() {
    if (fd_ >= 0) ::close(fd_);
    if (poll_ >= 0) ::close(poll_);
    if (watch_ >= 0) ::close(watch_);
    fd_ = -1;
    poll_ = -1;
    watch_ = -1;
    folderWatch_ = -1;
}

std::optional<Data> FileLog::eData(std::string_view text) {
    if (!text::isValidUTF8(text)) return std::nullopt;
    Data bytes(text.begin(), text.end());
    return AES256Encryption::encryptedDataWithHexKey(bytes, key(), iv());
}

void FileLog::cleanup() {
    std::lock_guard lock(mutex_);
    const uint64_t size = fd_ >= 0 ? size_ : fileSize(directory_ / logName(0));
    const uint64_t limit = maxFileSize_ * 1024;
    if (size > 0 && limit > 0 && size >= limit && maxFileCount_ > 0) {
        closeFile();
        rename(0);
        std::error_code ec;
        fs::remove(directory_ / logName(maxFileCount_), ec);
    }
}

uint64_t FileLog::fileSize(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

void FileLog::rename(int64_t index) {
    std::lock_guard lock(mutex_);
    // Walk up to the first gap, then move from the top down.
    int64_t top = index;
    std::error_code ec;
    while (fs::exists(directory_ / logName(top + 1), ec)) ++top;
    for (int64_t i = top; i >= index; --i) {
        fs::rename(directory_ / logName(i), directory_ / logName(i + 1), ec);
    }
}

std::string FileLog::fileURLText(const fs::path& path) {
    static constexpr const char* kHex = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : fs::absolute(path).string()) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    std::string_view("-._~/!$&'()*+,;=:@").find(static_cast<char>(c)) !=
                        std::string_view::npos;
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

std::optional<fs::path> FileLog::combinedLog() {
    Data buffer;
    {
        std::lock_guard lock(mutex_);
        std::vector<fs::path> entries;
        std::error_code ec;
        for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
            const auto file = it->path().filename().string();
            if (!file.empty() && file[0] == '.') continue;
            entries.push_back(it->path());
        }
        std::sort(entries.begin(), entries.end(),
                  [](const fs::path& a, const fs::path& b) { return a.string() > b.string(); });
        for (const auto& entry : entries) {
            const std::string header = "Filename: " + fileURLText(entry) + "\r";
            if (auto record = AES256Encryption::encryptedDataWithHexKey(
                    Data(header.begin(), header.end()), key(), iv()))
                buffer.insert(buffer.end(), record->begin(), record->end());
            std::error_code typeError;
            if (!fs::is_regular_file(entry, typeError)) continue;
            std::ifstream in(entry, std::ios::binary);
            if (!in) continue;
            Data content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (in.bad()) continue;
            buffer.insert(buffer.end(), content.begin(), content.end());
        }
    }

    auto compressed = gzipCompress(buffer);
    if (!compressed) return std::nullopt;

    const auto folder = privateFolder(Paths::temporaryDirectory());
    if (!folder) return std::nullopt;
    const fs::path target = *folder / kArchiveName;
    std::string temp = (*folder / (std::string(kArchiveName) + ".XXXXXX")).string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return std::nullopt;
    bool ok = writeAll(fd, compressed->data(), compressed->size());
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return std::nullopt;
    }
    return target;
}

}  // namespace qz
