#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

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

    mutable std::recursive_mutex mutex_;
    std::optional<std::string> key_;
    std::optional<std::string> iv_;
    uint64_t maxFileSize_ = kDefaultMaxFileSize;
    int64_t maxFileCount_ = kDefaultMaxFileCount;
    std::filesystem::path directory_;
    std::string name_ = kDefaultName;
};

}  // namespace qz
