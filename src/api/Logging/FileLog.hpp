#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "api/Logging/AES256Encryption.hpp"
#include "platform/Result.hpp"

namespace qz {

// Appends log lines to encrypted rotating files <directory>/<name>-N.log.
//
// Each line is cut into pieces of at most 255 user-perceived characters; each
// piece plus a carriage return becomes one record (see AES256Encryption). File 0
// is written; after a write brings it to maxFileSize KiB or more the files shift
// up by one and only maxFileCount are kept. One lock covers a whole line and the
// archive's reading of the files. Nothing is reported to callers: a piece that
// cannot be stored is lost.
//
// File 0 stays open between records and its size is counted here. Before each
// record the logger checks (through inotify, else by the path's identity) that
// neither the file nor its folder was removed, moved or replaced underneath; if
// one was, the file is opened (and the folder made) again. Each record goes to
// the file in one write; a short write (a full disk) is cut back off the file,
// so no half record is left between whole ones.
class FileLog {
  public:
    // The base name, the limit in KiB and the number of files kept.
    static constexpr const char* kDefaultName = "pelklog";
    static constexpr uint64_t kDefaultMaxFileSize = 1024;
    static constexpr int64_t kDefaultMaxFileCount = 10;
    // User-perceived characters per piece.
    static constexpr size_t kPieceLength = 255;
    // Stored in place of a piece that could not be encrypted.
    static constexpr const char* kMissingLine = "Coudlnt write line, data is missing";
    // The archive's file name.
    static constexpr const char* kArchiveName = "log.gzip";

    // Log folder: defaultDirectory().
    FileLog();
    explicit FileLog(std::filesystem::path directory);
    ~FileLog();
    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;

    // The AES-256 key (64 hex digits) and CBC IV (32 hex digits) of every record.
    const std::string& key();
    const std::string& iv();

    // Joins every entry of the log folder, oldest log file first, each behind an
    // encrypted "Filename: <file URL>" record, into a gzip stream written to
    // "log.gzip" in a folder of the temporary folder that only this user can
    // enter (through a unique file and a rename).
    // An empty folder gives a valid empty gzip stream. None when compressing or
    // writing fails.
    std::optional<std::filesystem::path> combinedLog();

    uint64_t maxFileSize() const;
    void setMaxFileSize(uint64_t kib);
    int64_t maxFileCount() const;
    void setMaxFileCount(int64_t count);
    std::filesystem::path directory() const;
    void setDirectory(std::filesystem::path directory);
    std::string name() const;
    void setName(std::string name);

    // directory / logName(0).
    std::filesystem::path currentPath() const;

    // Stores one line (nothing for an empty text).
    void write(std::string_view text);

    // The record of text + "\r", or none.
    std::optional<Data> eData(std::string_view text);

    // Rotates when file 0 has reached the limit.
    void cleanup();
    // Size of the file at the path; 0 when unknown.
    static uint64_t fileSize(const std::filesystem::path& path);
    // Shifts the files from `index` up by one, stopping at the first gap.
    void rename(int64_t index);
    // name + "-" + index + ".log".
    std::string logName(int64_t index) const;

    // documents/"Logs", created with any missing parents.
    static std::filesystem::path defaultDirectory();

    // "file://" + the percent-encoded absolute path.
    static std::string fileURLText(const std::filesystem::path& path);

  private:
    void writeInternal(std::string_view piece);
    void appendRecord(std::string_view piece);
    // Appends `bytes` with one write; a short write is cut back off the file.
    void appendBytes(const uint8_t* bytes, size_t count);
    // File 0 open for appending, opened again when it changed underneath.
    bool ensureOpen();
    bool changedUnderneath();
    void watchFolder();
    void closeFile();

    mutable std::recursive_mutex mutex_;
    std::optional<std::string> key_;
    std::optional<std::string> iv_;
    uint64_t maxFileSize_ = kDefaultMaxFileSize;
    int64_t maxFileCount_ = kDefaultMaxFileCount;
    std::filesystem::path directory_;
    std::string name_ = kDefaultName;

    // The open file 0 (fd_ < 0: none), its size, identity and the name it was opened as.
    int fd_ = -1;
    uint64_t size_ = 0;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    std::filesystem::path openPath_;
    std::string openName_;
    // inotify over the folder (its entries and itself) and the folder's ancestors;
    // -1 when unavailable, and then the path's identity is compared before each record.
    int watch_ = -1;
    int folderWatch_ = -1;
    int poll_ = -1;  // epoll over watch_: the cheap way to ask whether anything happened
    std::unique_ptr<AES256Encryption::RecordEncryptor> encryptor_;
    Data record_;  // buffer of the record being written
};

}  // namespace qz
