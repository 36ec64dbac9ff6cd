#include "api/Logging/FileLog.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "api/Logging/AES256Encryption.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/FileSystem.hpp"
#include "platform/Text.hpp"

namespace fs = std::filesystem;
using namespace qz;
using namespace qz::testing;

namespace {

class FileLogTest : public ::testing::Test {
  protected:
    ScopedHome home;
    fs::path logs = home.path() / "Documents" / "Logs";
    fs::path scratch = home.path() / "scratch.bin";

    std::string decryptInProcess(const LogRecord& r, FileLog& log) {
        auto plain = AES256Encryption::originalDataWithHexKey(r.ciphertext, log.key(), log.iv());
        return plain ? std::string(plain->begin(), plain->end()) : "<failed>";
    }

    std::vector<std::string> plaintexts(const fs::path& file, FileLog& log) {
        std::vector<std::string> out;
        for (const auto& r : parseRecords(readFileBytes(file)))
            out.push_back(decryptInProcess(r, log));
        return out;
    }

    static void makeFile(const fs::path& path, size_t size, char fill = 'x') {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        std::string s(size, fill);
        f.write(s.data(), static_cast<std::streamsize>(s.size()));
    }
};

std::string repeat(std::string_view s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace

TEST_F(FileLogTest, DefaultsAndNames) {
    FileLog log;
    EXPECT_EQ(log.directory(), logs);
    EXPECT_TRUE(fs::is_directory(logs));
    EXPECT_EQ(log.name(), "pelklog");
    EXPECT_EQ(log.maxFileSize(), 1024u);
    EXPECT_EQ(log.maxFileCount(), 10);
    EXPECT_EQ(log.logName(3), "pelklog-3.log");
    EXPECT_EQ(log.currentPath(), logs / "pelklog-0.log");
    EXPECT_EQ(log.key().size(), 64u);
    EXPECT_EQ(log.iv().size(), 32u);
    EXPECT_EQ(log.key().find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(log.iv().find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST_F(FileLogTest, RecordsDecryptWithOpensslTool) {
    FileLog log;
    log.write("");
    EXPECT_FALSE(fs::exists(log.currentPath()));

    log.write("A");
    Data bytes = readFileBytes(log.currentPath());
    ASSERT_EQ(bytes.size(), 19u);
    EXPECT_EQ(bytes[0], 0xBD);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0x10);
    EXPECT_EQ(opensslDecrypt(Data(bytes.begin() + 3, bytes.end()), log.key(), log.iv(), scratch),
              "A\r");

    fs::remove(log.currentPath());
    log.write(std::string(255, 'B'));
    bytes = readFileBytes(log.currentPath());
    ASSERT_EQ(bytes.size(), 3u + 272u);
    EXPECT_EQ(bytes[1], 0x01);
    EXPECT_EQ(bytes[2], 0x10);

    fs::remove(log.currentPath());
    log.write(std::string(255, 'C') + "D");
    auto texts = decryptAll(readFileBytes(log.currentPath()), log.key(), log.iv(), scratch);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], std::string(255, 'C') + "\r");
    EXPECT_EQ(texts[1], "D\r");
}

TEST_F(FileLogTest, PiecesCountUserPerceivedCharacters) {
    FileLog log;
    // 255 two-byte characters and 255 family emoji (one character each) fit one piece each.
    const std::string family =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    log.write(repeat("\xC3\xA9", 255));
    log.write(repeat(family, 256));
    auto texts = plaintexts(log.currentPath(), log);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], repeat("\xC3\xA9", 255) + "\r");
    EXPECT_EQ(texts[1], repeat(family, 255) + "\r");
    EXPECT_EQ(texts[2], family + "\r");
}

TEST_F(FileLogTest, OversizedPiecesAreSplitNeverWrapped) {
    FileLog log;
    // 255 characters of 601 bytes each: far beyond one 16-bit record.
    const std::string heavy = "e" + repeat("\xCC\x81", 300);
    const std::string line = repeat(heavy, 255);
    // One character larger than any record: split at code points.
    const std::string giant = "a" + repeat("\xCC\x81", 40000);
    log.write(line);
    log.write(giant);

    Data rest;
    auto records = parseRecords(readFileBytes(log.currentPath()), &rest);
    EXPECT_TRUE(rest.empty());
    std::string joined;
    for (const auto& r : records) {
        EXPECT_LE(r.length, 65535u);
        EXPECT_EQ(r.length, r.ciphertext.size());
        std::string plain = decryptInProcess(r, log);
        ASSERT_FALSE(plain.empty());
        EXPECT_EQ(plain.back(), '\r');
        plain.pop_back();
        EXPECT_TRUE(text::isValidUTF8(plain));
        joined += plain;
    }
    EXPECT_GT(records.size(), 4u);
    EXPECT_EQ(joined, line + giant);
    // The largest record is still readable by the outside tool.
    auto largest = std::max_element(
        records.begin(), records.end(),
        [](const LogRecord& a, const LogRecord& b) { return a.length < b.length; });
    EXPECT_NE(opensslDecrypt(largest->ciphertext, log.key(), log.iv(), scratch),
              "<openssl failed>");
}

TEST_F(FileLogTest, RotatesAfterTheWriteThatReachesTheLimit) {
    FileLog log;
    makeFile(log.currentPath(), 0);
    log.write("x");
    EXPECT_FALSE(fs::exists(logs / "pelklog-1.log")) << "a small file never rotates";
    fs::remove(log.currentPath());

    makeFile(log.currentPath(), 1048575 - 19);
    log.write("y");  // brings it to 1,048,575 bytes: below the limit
    EXPECT_FALSE(fs::exists(logs / "pelklog-1.log"));
    log.write("z");  // now over the limit
    EXPECT_TRUE(fs::exists(logs / "pelklog-1.log"));
    EXPECT_EQ(FileLog::fileSize(logs / "pelklog-1.log"), 1048575u + 19u);
    EXPECT_FALSE(fs::exists(log.currentPath()));
    log.write("next");
    EXPECT_EQ(plaintexts(log.currentPath(), log), std::vector<std::string>{"next\r"});
}

TEST_F(FileLogTest, RotatesWhenAWriteBringsTheFileToExactlyTheLimit) {
    FileLog log;
    makeFile(log.currentPath(), 1048576 - 19);
    log.write("x");  // a 19-byte record: exactly 1,048,576 bytes
    EXPECT_EQ(FileLog::fileSize(logs / "pelklog-1.log"), 1048576u);
    EXPECT_FALSE(fs::exists(log.currentPath()));
}

// The files as they were written when every record opened, appended to and closed file 0 and
// then asked the file system for its size: the logger keeps the file open and counts, and
// must leave the same bytes and rotate at the same records.
TEST_F(FileLogTest, WritesTheBytesAndRotatesAtTheRecordsOfAnOpenPerRecordWriter) {
    const fs::path ours = home.path() / "ours";
    const fs::path reference = home.path() / "reference";
    FileLog log(ours);
    log.setMaxFileSize(2);
    fs::create_directories(reference);
    auto referenceWrite = [&](const std::string& line) {
        auto name = [&](int64_t n) {
            return reference / ("pelklog-" + std::to_string(n) + ".log");
        };
        for (const auto& piece : text::split(line, FileLog::kPieceLength)) {
            const std::string plain = piece + "\r";
            auto record = AES256Encryption::encryptedDataWithHexKey(
                Data(plain.begin(), plain.end()), log.key(), log.iv());
            ASSERT_TRUE(record.has_value());
            int fd = ::open(name(0).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ASSERT_EQ(::write(fd, record->data(), record->size()),
                      static_cast<ssize_t>(record->size()));
            ::close(fd);
            if (FileLog::fileSize(name(0)) >= 2 * 1024) {
                int64_t top = 0;
                while (fs::exists(name(top + 1))) ++top;
                for (int64_t n = top; n >= 0; --n) fs::rename(name(n), name(n + 1));
                fs::remove(name(10));
            }
        }
    };
    const std::vector<std::string> kinds = {
        "short",
        std::string(255, 'a'),
        std::string(256, 'b'),
        std::string(600, 'c') + "\r\n" + std::string(300, 'd'),
        repeat("\xC3\xA9", 300),
        "family \xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9 and text",
        "",
    };
    for (int i = 0; i < 300; ++i) {
        const std::string line = kinds[static_cast<size_t>(i) % kinds.size()] + std::to_string(i);
        log.write(line);
        referenceWrite(line);
    }
    std::set<std::string> names;
    for (auto& e : fs::directory_iterator(reference)) names.insert(e.path().filename().string());
    ASSERT_EQ(names.size(), 10u);
    for (const auto& name : names) {
        EXPECT_EQ(readFileBytes(ours / name), readFileBytes(reference / name)) << name;
        EXPECT_EQ(plaintexts(ours / name, log), plaintexts(reference / name, log)) << name;
    }
}

TEST_F(FileLogTest, AFileOrFolderChangedUnderneathIsNoticedBeforeTheNextRecord) {
    const fs::path folder = home.path() / "Documents" / "Logs";
    const fs::path file = folder / "pelklog-0.log";
    struct Change {
        const char* what;
        std::function<void()> apply;
        std::vector<std::string> expected;  // file 0 afterwards
    };
    const std::vector<Change> changes = {
        {"file removed", [&] { fs::remove(file); }, {"after\r"}},
        {"file moved away", [&] { fs::rename(file, home.path() / "moved.log"); }, {"after\r"}},
        {"file replaced",
         [&] {
             FileLog other(home.path());
             other.write("other");
             fs::rename(home.path() / "pelklog-0.log", file);
         },
         {"other\r", "after\r"}},
        {"folder removed", [&] { fs::remove_all(folder); }, {"after\r"}},
        {"folder above moved",
         [&] { fs::rename(home.path() / "Documents", home.path() / "Moved"); },
         {"after\r"}},
    };
    for (const auto& change : changes) {
        FileLog log;
        log.write("before");
        change.apply();
        log.write("after");
        EXPECT_EQ(plaintexts(file, log), change.expected) << change.what;
        fs::remove_all(home.path() / "Moved");
        fs::remove_all(folder);
    }
}

TEST_F(FileLogTest, ARecordCutShortByAFullDiskIsTakenOffAgain) {
    FileLog log;
    log.write("before");
    const uint64_t size = FileLog::fileSize(log.currentPath());
    // The file may grow 10 bytes more: the next record is cut short, the one after gets
    // nothing written.
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit small = limit;
    small.rlim_cur = size + 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    log.write(std::string(100, 'x'));
    const uint64_t cut = FileLog::fileSize(log.currentPath());
    log.write("lost too");
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(cut, size);

    log.write("after");
    Data rest;
    auto records = parseRecords(readFileBytes(log.currentPath()), &rest);
    EXPECT_TRUE(rest.empty());
    EXPECT_EQ(plaintexts(log.currentPath(), log),
              (std::vector<std::string>{"before\r", "after\r"}));
}

TEST_F(FileLogTest, KeepsAtMostTenFiles) {
    FileLog log;
    log.setMaxFileSize(1);  // 1 KiB
    const std::string line(200, 'r');
    for (int i = 0; i < 200; ++i) log.write(line + std::to_string(i));
    log.write("tail");
    std::set<std::string> names;
    for (auto& e : fs::directory_iterator(logs)) names.insert(e.path().filename().string());
    EXPECT_EQ(names.size(), 10u);
    for (int n = 0; n < 10; ++n)
        EXPECT_TRUE(names.count("pelklog-" + std::to_string(n) + ".log")) << n;
    // The newest line is the last record of file 0.
    auto texts = plaintexts(log.currentPath(), log);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "tail\r");
}

TEST_F(FileLogTest, RenameStopsAtAGap) {
    FileLog log;
    makeFile(logs / "pelklog-0.log", 1, '0');
    makeFile(logs / "pelklog-1.log", 1, '1');
    makeFile(logs / "pelklog-3.log", 1, '3');
    log.rename(0);
    EXPECT_FALSE(fs::exists(logs / "pelklog-0.log"));
    EXPECT_EQ(readFileBytes(logs / "pelklog-1.log"), Data{'0'});
    EXPECT_EQ(readFileBytes(logs / "pelklog-2.log"), Data{'1'});
    EXPECT_EQ(readFileBytes(logs / "pelklog-3.log"), Data{'3'});
}

TEST_F(FileLogTest, CreatesMissingFolders) {
    fs::path deep = home.path() / "no" / "such" / "Documents";
    Paths::setDocumentsDirectory(deep);
    FileLog log;
    EXPECT_EQ(log.directory(), deep / "Logs");
    log.write("kept");
    EXPECT_EQ(plaintexts(deep / "Logs" / "pelklog-0.log", log), std::vector<std::string>{"kept\r"});

    // A folder removed while the logger lives is made again.
    fs::remove_all(home.path() / "no");
    log.write("again");
    EXPECT_EQ(plaintexts(deep / "Logs" / "pelklog-0.log", log),
              std::vector<std::string>{"again\r"});
    Paths::setDocumentsDirectory({});
}

TEST_F(FileLogTest, EmptyFolderGivesAValidEmptyGzip) {
    FileLog log;
    auto archive = log.combinedLog();
    ASSERT_TRUE(archive.has_value());
    EXPECT_EQ(archive->filename(), "log.gzip");
    EXPECT_EQ(archive->parent_path().parent_path(), Paths::temporaryDirectory());
    EXPECT_GT(fs::file_size(*archive), 0u);
    int status = -1;
    runCommand("gzip -t '" + archive->string() + "' 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(runCommand("gzip -dc '" + archive->string() + "'"), "");
}

TEST_F(FileLogTest, ArchiveHoldsEveryFileOldestFirst) {
    FileLog log;
    log.write("first");
    makeFile(logs / "pelklog-1.log", 0);
    std::ofstream(logs / "pelklog-2.log") << "";
    {
        // File 2 and 1 get records of their own.
        FileLog other(logs);
        other.setName("tmp");
        other.write("two");
        fs::rename(logs / "tmp-0.log", logs / "pelklog-2.log");
        other.write("one");
        fs::rename(logs / "tmp-0.log", logs / "pelklog-1.log");
    }
    std::ofstream(logs / ".hidden") << "secret";
    fs::create_directory(logs / "folder");

    auto archive = log.combinedLog();
    ASSERT_TRUE(archive.has_value());
    int status = -1;
    runCommand("gzip -t '" + archive->string() + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    fs::path unpacked = home.path() / "unpacked.bin";
    runCommand("gzip -dc '" + archive->string() + "' > '" + unpacked.string() + "'", &status);
    ASSERT_EQ(status, 0);

    Data rest;
    auto records = parseRecords(readFileBytes(unpacked), &rest);
    EXPECT_TRUE(rest.empty());
    std::vector<std::string> texts;
    for (const auto& r : records)
        texts.push_back(opensslDecrypt(r.ciphertext, log.key(), log.iv(), scratch));
    const std::string base = FileLog::fileURLText(logs);
    std::vector<std::string> expected = {
        "Filename: " + base + "/pelklog-2.log\r", "two\r",
        "Filename: " + base + "/pelklog-1.log\r", "one\r",
        "Filename: " + base + "/pelklog-0.log\r", "first\r",
        "Filename: " + base + "/folder\r",
    };
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(base.rfind("file:///", 0), 0u);

    // Written through a private file and renamed: nothing else is left behind.
    for (auto& e : fs::directory_iterator(archive->parent_path()))
        EXPECT_EQ(e.path().filename().string().rfind("log.gzip.", 0), std::string::npos)
            << e.path();
}

TEST_F(FileLogTest, ArchiveLivesInAFolderOnlyThisUserCanEnter) {
    // A shared temporary folder such as /tmp.
    fs::path shared = home.path() / "shared-tmp";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    Paths::setTemporaryDirectory(shared);
    FileLog log;
    log.write("x");

    auto check = [&](const fs::path& archive) {
        EXPECT_EQ(archive.filename(), "log.gzip");
        EXPECT_NE(archive.parent_path(), shared);
        EXPECT_EQ(archive.parent_path().parent_path(), shared);
        struct stat st {};
        ASSERT_EQ(::lstat(archive.parent_path().c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_uid, ::getuid());
        EXPECT_EQ(st.st_mode & 077, 0u);
        int status = -1;
        runCommand("gzip -t '" + archive.string() + "' 2>&1", &status);
        EXPECT_EQ(status, 0);
    };
    auto first = log.combinedLog();
    ASSERT_TRUE(first.has_value());
    check(*first);
    auto again = log.combinedLog();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, *first) << "the same folder is used again";

    // A folder of that name open to others is not used.
    fs::remove_all(first->parent_path());
    fs::create_directory(first->parent_path());
    fs::permissions(first->parent_path(), fs::perms::all);
    auto other = log.combinedLog();
    ASSERT_TRUE(other.has_value());
    EXPECT_NE(other->parent_path(), first->parent_path());
    check(*other);
    EXPECT_FALSE(fs::exists(first->parent_path() / "log.gzip"));
}

TEST_F(FileLogTest, FileURLTextEscapes) {
    EXPECT_EQ(FileLog::fileURLText("/a b/c%d/é"), "file:///a%20b/c%25d/%C3%A9");
}

TEST_F(FileLogTest, LongLinesFromManyThreadsNeverInterleave) {
    FileLog log;
    constexpr int kThreads = 6;
    constexpr int kLines = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            const char c = static_cast<char>('a' + t);
            for (int i = 0; i < kLines; ++i) log.write(std::string(1000, c));
        });
    }
    for (auto& th : threads) th.join();

    auto texts = plaintexts(log.currentPath(), log);
    ASSERT_EQ(texts.size(), static_cast<size_t>(kThreads * kLines * 4));
    for (size_t i = 0; i < texts.size(); i += 4) {
        const char c = texts[i][0];
        EXPECT_EQ(texts[i], std::string(255, c) + "\r");
        EXPECT_EQ(texts[i + 1], std::string(255, c) + "\r");
        EXPECT_EQ(texts[i + 2], std::string(255, c) + "\r");
        EXPECT_EQ(texts[i + 3], std::string(235, c) + "\r");
    }
}

TEST_F(FileLogTest, ArchiveDuringRotationListsEachFileOnce) {
    FileLog log;
    log.setMaxFileSize(2);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        int i = 0;
        while (!stop.load()) log.write(std::string(300, 'w') + std::to_string(i++));
    });
    for (int round = 0; round < 15; ++round) {
        auto archive = log.combinedLog();
        ASSERT_TRUE(archive.has_value());
        auto unpacked = runCommand("gzip -dc '" + archive->string() + "'");
        Data bytes(unpacked.begin(), unpacked.end());
        Data rest;
        auto records = parseRecords(bytes, &rest);
        EXPECT_TRUE(rest.empty()) << "every file was read whole";
        std::multiset<std::string> names;
        for (const auto& r : records) {
            auto plain = decryptInProcess(r, log);
            if (plain.rfind("Filename: ", 0) == 0) names.insert(plain);
        }
        for (const auto& n : names) EXPECT_EQ(names.count(n), 1u) << n;
    }
    stop = true;
    writer.join();
}

TEST(AES256EncryptionTest, HexParsing) {
    EXPECT_EQ(AES256Encryption::dataFromHexString("0A1"), Data{0x0A});
    EXPECT_EQ(AES256Encryption::dataFromHexString("zz0f"), Data{0x0F});
    EXPECT_EQ(AES256Encryption::dataFromHexString(""), Data{});
    EXPECT_EQ(AES256Encryption::dataFromHexString("7"), Data{});
    EXPECT_EQ(AES256Encryption::dataFromHexString("FFa0"), (Data{0xFF, 0xA0}));
    EXPECT_EQ(AES256Encryption::dataFromHexString("3g"), Data{0x03});
    Data filled = AES256Encryption::fillDataArray(4, "0102");
    EXPECT_EQ(filled, (Data{1, 2, 0, 0, 0}));
    EXPECT_EQ(AES256Encryption::fillDataArray(1, "010203").size(), 2u);
}

TEST(AES256EncryptionTest, RecordRoundTripAndLimit) {
    const std::string key(64, '1');
    const std::string iv(32, '2');
    Data plain = {'h', 'i', '\r'};
    auto record = AES256Encryption::encryptedDataWithHexKey(plain, key, iv);
    ASSERT_TRUE(record.has_value());
    ASSERT_EQ(record->size(), 19u);
    auto back =
        AES256Encryption::originalDataWithHexKey(Data(record->begin() + 3, record->end()), key, iv);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, plain);
    EXPECT_TRUE(AES256Encryption::encryptedDataWithHexKey(Data(65519, 'x'), key, iv).has_value());
    EXPECT_FALSE(AES256Encryption::encryptedDataWithHexKey(Data(65520, 'x'), key, iv).has_value());
    EXPECT_FALSE(AES256Encryption::originalDataWithHexKey(Data(15, 0), key, iv).has_value());
}
