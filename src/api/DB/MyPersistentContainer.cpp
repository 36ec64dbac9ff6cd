#include "api/DB/MyPersistentContainer.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>

#include "api/Logging/Log.hpp"
#include "platform/FileSystem.hpp"

namespace qz {

namespace {

constexpr const char* kEventEntity = "AnalyticsEvent";

StoreError errorOf(sqlite3* db, int code) {
    return StoreError{code, db ? sqlite3_errmsg(db) : sqlite3_errstr(code)};
}

std::string sqlIdentifier(const std::string& identifier) {
    std::string out = "\"";
    for (char c : identifier) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

const char* sqlType(ManagedObjectModel::AttributeType type) {
    switch (type) {
        case ManagedObjectModel::AttributeType::text:
            return "TEXT";
        case ManagedObjectModel::AttributeType::integer:
            return "INTEGER";
        case ManagedObjectModel::AttributeType::real:
            return "REAL";
        case ManagedObjectModel::AttributeType::blob:
            return "BLOB";
    }
    return "BLOB";
}

// Errors of the moment, which say nothing about the file: it stays where it is.
bool isTransient(int code) {
    switch (code & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_NOMEM:
        case SQLITE_FULL:
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_INTERRUPT:
        case SQLITE_MISUSE:
            return true;
        default:
            return false;
    }
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::filesystem::path withSuffix(std::filesystem::path p, const std::string& suffix) {
    p += suffix;
    return p;
}

// One prepared statement, finalised on scope exit.
class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        rc_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    bool ok() const { return rc_ == SQLITE_OK; }
    int rc() const { return rc_; }
    sqlite3_stmt* get() { return stmt_; }

  private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int rc_;
};

}  // namespace

MyPersistentContainer::MyPersistentContainer(std::string name,
                                             ManagedObjectModel managedObjectModel)
    : name_(std::move(name)),
      model_(std::move(managedObjectModel)),
      storeURL_(defaultDirectoryURL() / name_ / (name_ + ".sqlite")) {}

MyPersistentContainer::~MyPersistentContainer() {
    std::lock_guard lock(mutex_);
    close();
}

std::filesystem::path MyPersistentContainer::defaultDirectoryURL() {
    return Paths::applicationSupportDirectory();
}

void MyPersistentContainer::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

Result<void, StoreError> MyPersistentContainer::open() {
    // Events cached by a library that wrote into $HOME's app layout are taken along.
    if (auto earlier = Paths::earlierApplicationSupportDirectory();
        earlier && storeURL_.parent_path().parent_path() == defaultDirectoryURL())
        Paths::copyIfMissing(*earlier / storeURL_.parent_path().filename(),
                             storeURL_.parent_path());
    if (!Paths::createDirectories(storeURL_.parent_path()))
        return std::unexpected(
            StoreError{SQLITE_CANTOPEN, "cannot create " + storeURL_.parent_path().string()});
    int rc = sqlite3_open_v2(storeURL_.c_str(), &db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        StoreError e = errorOf(db_, rc);
        close();
        return std::unexpected(e);
    }
    sqlite3_busy_timeout(db_, 5000);
    // Checked before anything is written, so a damaged file is kept as it was found.
    if (auto checked = check(); !checked) {
        close();
        return checked;
    }
    std::string schema = "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;";
    for (const auto& entity : model_.entities) {
        schema += "CREATE TABLE IF NOT EXISTS " + sqlIdentifier(entity.name) +
                  " (id INTEGER PRIMARY KEY AUTOINCREMENT";
        for (const auto& a : entity.attributes)
            schema += ", " + sqlIdentifier(a.name) + " " + sqlType(a.type);
        schema += ");";
    }
    char* message = nullptr;
    rc = sqlite3_exec(db_, schema.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        StoreError e{rc, message ? message : sqlite3_errstr(rc)};
        sqlite3_free(message);
        close();
        return std::unexpected(e);
    }
    return {};
}

Result<void, StoreError> MyPersistentContainer::check() {
    {
        Statement s(db_, "PRAGMA integrity_check(1)");
        if (!s.ok()) return std::unexpected(errorOf(db_, s.rc()));
        int rc = sqlite3_step(s.get());
        if (rc != SQLITE_ROW) return std::unexpected(errorOf(db_, rc));
        auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
        const std::string verdict = text ? text : "";
        if (verdict != "ok")
            return std::unexpected(StoreError{SQLITE_CORRUPT, "integrity check: " + verdict});
    }
    for (const auto& entity : model_.entities) {
        // In column order: "id", then the attributes as the model lists them.
        std::vector<std::string> expected{"id INTEGER pk"};
        for (const auto& a : entity.attributes) expected.push_back(a.name + " " + sqlType(a.type));
        std::vector<std::string> found;
        Statement s(db_, "PRAGMA table_info(" + sqlIdentifier(entity.name) + ")");
        if (!s.ok()) return std::unexpected(errorOf(db_, s.rc()));
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            auto text = [&](int column) {
                auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), column));
                return std::string(t ? t : "");
            };
            std::string column = text(1) + " " + upper(text(2));
            if (sqlite3_column_int(s.get(), 3)) column += " notnull";
            if (sqlite3_column_int(s.get(), 5)) column += " pk";
            found.push_back(std::move(column));
        }
        if (rc != SQLITE_DONE) return std::unexpected(errorOf(db_, rc));
        if (!found.empty() && found != expected)  // a missing table is made
            return std::unexpected(
                StoreError{SQLITE_MISMATCH, "table " + entity.name + " is not the model's"});
    }
    return {};
}

Result<void, StoreError> MyPersistentContainer::replaceDamaged(const StoreError& why) {
    close();
    // The first free "<store>.corrupt", "<store>.corrupt-2", ...
    std::error_code ec;
    auto aside = withSuffix(storeURL_, ".corrupt");
    for (int n = 2; std::filesystem::exists(aside, ec); ++n)
        aside = withSuffix(storeURL_, ".corrupt-" + std::to_string(n));
    std::filesystem::rename(storeURL_, aside, ec);
    if (ec)
        return std::unexpected(
            StoreError{SQLITE_CANTOPEN, "cannot move the damaged store aside: " + ec.message()});
    // The journals go with it, so the kept copy opens as it was; the shared-memory index
    // is rebuilt from them.
    for (const char* journal : {"-wal", "-journal"}) {
        std::error_code ignored;
        if (std::filesystem::exists(withSuffix(storeURL_, journal), ignored))
            std::filesystem::rename(withSuffix(storeURL_, journal), withSuffix(aside, journal),
                                    ignored);
    }
    std::error_code ignored;
    std::filesystem::remove(withSuffix(storeURL_, "-shm"), ignored);
    Log::e("Analytics store damaged (" + why.description() + "), kept as " +
           aside.filename().string() + "; starting a fresh store");
    auto r = open();
    if (!r) return r;
    if (highestId_ > 0) {
        // Ids already handed out (events being re-sent) are never given to new events.
        Statement s(db_, "INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)");
        if (s.ok()) {
            sqlite3_bind_text(s.get(), 1, kEventEntity, -1, SQLITE_STATIC);
            sqlite3_bind_int64(s.get(), 2, highestId_);
            sqlite3_step(s.get());
        }
    }
    return r;
}

Result<void, StoreError> MyPersistentContainer::loadPersistentStores() {
    std::lock_guard lock(mutex_);
    if (db_) return {};
    auto r = open();
    std::error_code ec;
    if (!r && !isTransient(r.error().code) && std::filesystem::exists(storeURL_, ec))
        r = replaceDamaged(r.error());
    return r;
}

void MyPersistentContainer::loadPersistentStores(
    const std::function<void(std::optional<StoreError>)>& completion) {
    auto r = loadPersistentStores();
    if (completion) completion(r ? std::nullopt : std::optional<StoreError>(r.error()));
}

bool MyPersistentContainer::isLoaded() const {
    std::lock_guard lock(mutex_);
    return db_ != nullptr;
}

Result<int64_t, StoreError> MyPersistentContainer::insertEvent(const CachedEvent& event) {
    std::lock_guard lock(mutex_);
    if (!db_) return std::unexpected(StoreError{SQLITE_MISUSE, "store not loaded"});
    auto r = insertLocked(event);
    if (r || isTransient(r.error().code)) return r;
    if (auto fresh = replaceDamaged(r.error()); !fresh) return std::unexpected(fresh.error());
    return insertLocked(event);
}

Result<int64_t, StoreError> MyPersistentContainer::insertLocked(const CachedEvent& event) {
    Statement s(db_, "INSERT INTO " + sqlIdentifier(kEventEntity) +
                         " (eventType, payload, createdAt) VALUES (?, ?, ?)");
    if (!s.ok()) return std::unexpected(errorOf(db_, s.rc()));
    sqlite3_bind_text(s.get(), 1, event.eventType.data(), static_cast<int>(event.eventType.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_blob(s.get(), 2, event.payload.data(), static_cast<int>(event.payload.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_double(s.get(), 3, event.createdAt);
    int rc = sqlite3_step(s.get());
    if (rc != SQLITE_DONE) return std::unexpected(errorOf(db_, rc));
    const int64_t id = sqlite3_last_insert_rowid(db_);
    highestId_ = std::max(highestId_, id);
    return id;
}

Result<std::vector<CachedEvent>, StoreError> MyPersistentContainer::fetchEvents(
    size_t limit, int64_t afterId) const {
    std::lock_guard lock(mutex_);
    if (!db_) return std::unexpected(StoreError{SQLITE_MISUSE, "store not loaded"});
    Statement s(db_, "SELECT id, eventType, payload, createdAt FROM " +
                         sqlIdentifier(kEventEntity) + " WHERE id > ? ORDER BY id LIMIT ?");
    if (!s.ok()) return std::unexpected(errorOf(db_, s.rc()));
    sqlite3_bind_int64(s.get(), 1, afterId);
    sqlite3_bind_int64(s.get(), 2, static_cast<sqlite3_int64>(limit));
    std::vector<CachedEvent> events;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        CachedEvent e;
        e.id = sqlite3_column_int64(s.get(), 0);
        if (auto* t = sqlite3_column_text(s.get(), 1))
            e.eventType.assign(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s.get(), 1));
        if (auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(s.get(), 2)))
            e.payload.assign(b, b + sqlite3_column_bytes(s.get(), 2));
        e.createdAt = sqlite3_column_double(s.get(), 3);
        highestId_ = std::max(highestId_, e.id);
        events.push_back(std::move(e));
    }
    if (rc != SQLITE_DONE) return std::unexpected(errorOf(db_, rc));
    return events;
}

Result<bool, StoreError> MyPersistentContainer::deleteEvent(int64_t id) {
    std::lock_guard lock(mutex_);
    if (!db_) return std::unexpected(StoreError{SQLITE_MISUSE, "store not loaded"});
    Statement s(db_, "DELETE FROM " + sqlIdentifier(kEventEntity) + " WHERE id = ?");
    if (!s.ok()) return std::unexpected(errorOf(db_, s.rc()));
    sqlite3_bind_int64(s.get(), 1, id);
    int rc = sqlite3_step(s.get());
    if (rc != SQLITE_DONE) return std::unexpected(errorOf(db_, rc));
    return sqlite3_changes(db_) > 0;
}

Result<size_t, StoreError> MyPersistentContainer::eventCount() const {
    std::lock_guard lock(mutex_);
    if (!db_) return std::unexpected(StoreError{SQLITE_MISUSE, "store not loaded"});
    Statement s(db_, "SELECT COUNT(*) FROM " + sqlIdentifier(kEventEntity));
    if (!s.ok()) return std::unexpected(errorOf(db_, s.rc()));
    int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW) return std::unexpected(errorOf(db_, rc));
    return static_cast<size_t>(sqlite3_column_int64(s.get(), 0));
}

}  // namespace qz
