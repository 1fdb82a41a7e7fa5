#include "model/FileStore.h"

#include "base/FileIO_Code.h"
#include "model/DamagedFile.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <unordered_map>

namespace ornbrook {

namespace {

// A store that failed while in use (the disk is full, the file was damaged
// under us): thrown within the store's own code, and handed to its callers as
// a LocalFile error by Guarded.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

template <typename Body> auto Guarded(Body&& body) -> Result<decltype(body())> {
    try {
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            return {};
        } else {
            return body();
        }
    } catch (const StoreError& failure) {
        return Error{ErrorKind::LocalFile, failure.what()};
    }
}

// "ORNB" in the database header: tells our store from any other SQLite file.
constexpr int ApplicationId = 0x4F524E42;
// No wait on a lock held by another process lasts longer than this.
constexpr int BusyMilliseconds = 5000;
// Files SQLite keeps beside a database; they go with it when it is set aside.
constexpr const char* Companions[] = {"-wal", "-shm", "-journal"};

constexpr const char* Schema = R"(
CREATE TABLE urls(
    id INTEGER PRIMARY KEY,
    url BLOB NOT NULL UNIQUE,
    starting INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE files(
    url INTEGER NOT NULL,
    name BLOB NOT NULL,
    source INTEGER NOT NULL CHECK (source BETWEEN 0 AND 2),
    type INTEGER NOT NULL CHECK (type BETWEEN 0 AND 4),
    size INTEGER,
    time_precision INTEGER NOT NULL CHECK (time_precision BETWEEN 0 AND 3),
    year INTEGER NOT NULL,
    month INTEGER NOT NULL,
    day INTEGER NOT NULL,
    hour INTEGER NOT NULL,
    minute INTEGER NOT NULL,
    second INTEGER NOT NULL,
    utc INTEGER NOT NULL,
    changed INTEGER NOT NULL,
    arriving INTEGER NOT NULL,
    settled INTEGER NOT NULL,
    steady_since INTEGER NOT NULL,
    before_gone INTEGER NOT NULL CHECK (before_gone BETWEEN 0 AND 4),
    data_state INTEGER NOT NULL CHECK (data_state BETWEEN -1 AND 2),
    PRIMARY KEY (url, name)
) WITHOUT ROWID;
)";

// Added in version 2.
constexpr const char* DownloadsSchema = R"(
CREATE TABLE downloads(
    url INTEGER NOT NULL,
    name BLOB NOT NULL,
    folder BLOB NOT NULL,
    size INTEGER,
    time_precision INTEGER NOT NULL CHECK (time_precision BETWEEN 0 AND 3),
    year INTEGER NOT NULL,
    month INTEGER NOT NULL,
    day INTEGER NOT NULL,
    hour INTEGER NOT NULL,
    minute INTEGER NOT NULL,
    second INTEGER NOT NULL,
    utc INTEGER NOT NULL,
    done INTEGER NOT NULL,
    saved_as BLOB NOT NULL,
    failure BLOB NOT NULL DEFAULT x'',
    PRIMARY KEY (url, name)
) WITHOUT ROWID;
)";

// Added in version 3: why a pending download is held back.
constexpr const char* DownloadsFailure =
    "ALTER TABLE downloads ADD COLUMN failure BLOB NOT NULL DEFAULT x'';";

// Added in version 4: what happened, by URL name (kept when the URL goes).
constexpr const char* HistorySchema = R"(
CREATE TABLE history(
    time INTEGER NOT NULL,
    url BLOB NOT NULL,
    what TEXT NOT NULL,
    name BLOB NOT NULL,
    detail BLOB NOT NULL
);
CREATE INDEX history_time ON history(time);
)";

// Added in version 4: what was learnt of each server (host:port in lower
// case): that its active data connections never arrive, and its clock's
// offset from UTC in minutes (none: not known).
constexpr const char* ServersSchema = R"(
CREATE TABLE servers(
    server BLOB PRIMARY KEY,
    passive INTEGER NOT NULL DEFAULT 0,
    utc_offset INTEGER
) WITHOUT ROWID;
)";

constexpr const char* DownloadColumns =
    "name, folder, size, time_precision, year, month, day, hour, minute, second, utc, done, "
    "saved_as, failure";

constexpr const char* FileColumns =
    "name, source, type, size, time_precision, year, month, day, hour, minute, second, utc, "
    "changed, arriving, settled, steady_since, before_gone, data_state";

struct CloseConnection {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// A SQLite call that failed, with its result code, so that Open can tell a
// file that is not a store of ours from one it merely cannot use now.
class SqliteFailure : public StoreError {
public:
    SqliteFailure(int code, const std::string& message) : StoreError(message), code_(code) {}
    // The file's content is at fault (not a database, damaged, not our tables),
    // rather than a lock, the disk or the memory.
    bool ContentFault() const {
        const int primary = code_ & 0xff;
        return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT || primary == SQLITE_ERROR ||
               primary == SQLITE_FORMAT || primary == SQLITE_SCHEMA;
    }

private:
    int code_;
};

[[noreturn]] void Fail(sqlite3* db, const std::string& path, const std::string& action) {
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_CANTOPEN;
    throw SqliteFailure(code,
                        path + ": " + action + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

Statement Prepare(sqlite3* db, const std::string& path, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK)
        Fail(db, path, "cannot read the store");
    return Statement(statement);
}

// Runs sql (several statements, no rows wanted).
void Execute(sqlite3* db, const std::string& path, const char* sql, const char* action) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail(db, path, action);
}

// The first column of the first row of a one-value query.
std::string ReadValue(sqlite3* db, const std::string& path, const char* sql) {
    const Statement statement = Prepare(db, path, sql);
    const int result = sqlite3_step(statement.get());
    if (result == SQLITE_DONE)
        return {};
    if (result != SQLITE_ROW)
        Fail(db, path, "cannot read the store");
    const auto* text = sqlite3_column_text(statement.get(), 0);
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::string Blob(sqlite3_stmt* statement, int column) {
    const void* bytes = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return size > 0 ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size))
                    : std::string();
}

void BindBlob(sqlite3_stmt* statement, int index, const std::string& bytes) {
    // Names and URLs are bytes, not text: bound as they are, compared byte for byte.
    sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(), SQLITE_STATIC);
}

// Resets a statement when its run ends, however it ends, so that no statement
// keeps a read open past a save or a load.
class Resetting final {
public:
    explicit Resetting(sqlite3_stmt* statement) : statement_(statement) {}
    ~Resetting() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Resetting(const Resetting&) = delete;
    Resetting& operator=(const Resetting&) = delete;

private:
    sqlite3_stmt* statement_;
};

Connection Connect(const std::string& path) {
    sqlite3* raw = nullptr;
    // No locks of SQLite's own around each call: a store is used by one thread at a time.
    const int result =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection db(raw);
    if (result != SQLITE_OK)
        Fail(db.get(), path, "cannot open");
    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), BusyMilliseconds);
    // Until the file has proved to be ours, closing it must not write to it.
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    return db;
}

void NarrowToOwner(const std::string& fileName) {
    struct stat info {};
    if (::lstat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 077))
        ::chmod(fileName.c_str(), 0600);
}

// url_name(url): the URL's name, for bringing up a store that kept URLs by
// their text.
void NameUrl(sqlite3_context* context, int, sqlite3_value** values) {
    const auto& nameOf = *static_cast<const FileStore::UrlNaming*>(sqlite3_user_data(context));
    const auto* bytes = static_cast<const char*>(sqlite3_value_blob(values[0]));
    const auto size = static_cast<std::size_t>(sqlite3_value_bytes(values[0]));
    try {
        const std::string name = nameOf(bytes ? std::string(bytes, size) : std::string());
        sqlite3_result_blob64(context, name.data(), name.size(), SQLITE_TRANSIENT);
    } catch (const std::exception& error) {
        sqlite3_result_error(context, error.what(), -1);
    }
}

// What a file found at the store's place turned out to be.
enum class Verdict { Ours, Empty, Damaged, Foreign, Newer };

struct Inspection {
    Verdict Found = Verdict::Ours;
    std::string Reason;
    int Version = 0;
};

Inspection Inspect(sqlite3* db, const std::string& path) {
    try {
        // The first read of the header: a file that is not a database fails here.
        const int application = std::stoi(ReadValue(db, path, "PRAGMA application_id"));
        const int version = std::stoi(ReadValue(db, path, "PRAGMA user_version"));
        if (application == 0 && version == 0 &&
            ReadValue(db, path, "SELECT count(*) FROM sqlite_schema") == "0")
            return {Verdict::Empty, {}, 0};
        if (application != ApplicationId)
            return {Verdict::Foreign, {}, 0};
        if (version > FileStore::SchemaVersion)
            return {Verdict::Newer, {}, version};
        if (version < 1)
            return {Verdict::Damaged, "it has no schema version", 0};
        if (ReadValue(db, path, "PRAGMA quick_check(1)") != "ok")
            return {Verdict::Damaged, "its pages do not check out", 0};
        return {Verdict::Ours, {}, version};
    } catch (const SqliteFailure& failure) {
        if (!failure.ContentFault())
            throw;
        return {Verdict::Damaged, sqlite3_errmsg(db), 0};
    }
}

// Creates an empty file, owner-only from its first moment: SQLite would create
// it with the umask's mode, and what it holds is the user's alone.
void CreateOwnerOnly(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST)
        throw StoreError(path + ": cannot create the store: " + std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Notice(const std::string& path, const Inspection& found, const std::string& keptAs) {
    const std::string name = BaseName(path);
    std::string what;
    switch (found.Found) {
    case Verdict::Newer:
        what = name + " was written by a newer version of this program (store version " +
               std::to_string(found.Version) + ", this one knows " +
               std::to_string(FileStore::SchemaVersion) + ")";
        break;
    case Verdict::Foreign:
        what = name + " is not a store of this program";
        break;
    default:
        what = name + " cannot be read (" + found.Reason + ")";
        break;
    }
    return what + ", so it was started afresh and the old file is kept as " + keptAs +
           "; file sizes, times and the changed and arriving marks start again from the next "
           "check.";
}

const char* SuffixOf(Verdict verdict) {
    switch (verdict) {
    case Verdict::Newer:
        return "newer";
    case Verdict::Foreign:
        return "foreign";
    default:
        return "damaged";
    }
}

} // namespace

struct FileStore::Database {
    Database(std::string path, Connection connection)
        : Path(std::move(path)), Db(std::move(connection)) {}

    std::string Path;
    Connection Db;
    std::uint64_t Statements = 0;

    Statement Begin, Commit, Rollback;
    Statement FindUrl, AddUrl, RemoveUrl, MarkStarting, LoadStarting, CountMarks;
    Statement PutFile, RemoveFile, RemoveFiles;
    Statement PutDownload, RemoveDownload, RemoveDownloads, LoadDownloads;
    Statement LoadUrls, LoadFiles;
    Statement AddEvent, LoadEvents, LoadUrlEvents, PruneEvents;

    void PrepareAll() {
        sqlite3* db = Db.get();
        // IMMEDIATE: the write lock is taken (or waited for) before anything
        // is read, so a save never fails halfway for want of it.
        Begin = Prepare(db, Path, "BEGIN IMMEDIATE");
        Commit = Prepare(db, Path, "COMMIT");
        Rollback = Prepare(db, Path, "ROLLBACK");
        FindUrl = Prepare(db, Path, "SELECT id FROM urls WHERE url = ?1");
        AddUrl = Prepare(db, Path, "INSERT INTO urls(url) VALUES (?1)");
        RemoveUrl = Prepare(db, Path, "DELETE FROM urls WHERE id = ?1");
        MarkStarting = Prepare(db, Path, "UPDATE urls SET starting = ?2 WHERE id = ?1");
        LoadStarting = Prepare(db, Path, "SELECT url FROM urls WHERE starting = 1");
        CountMarks = Prepare(db, Path,
                             "SELECT u.url,"
                             " sum(f.changed = 1 AND f.arriving = 0 AND f.data_state = 1),"
                             " sum(f.arriving = 1 AND f.data_state = -1),"
                             " sum(f.arriving = 1 AND f.data_state = 0),"
                             " sum(f.arriving = 1 AND f.data_state = 1)"
                             " FROM files f JOIN urls u ON u.id = f.url GROUP BY f.url");
        PutFile = Prepare(db, Path,
                          std::string("INSERT OR REPLACE INTO files(url, ") + FileColumns +
                              ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
                              "?13, ?14, ?15, ?16, ?17, ?18, ?19)");
        RemoveFile = Prepare(db, Path, "DELETE FROM files WHERE url = ?1 AND name = ?2");
        RemoveFiles = Prepare(db, Path, "DELETE FROM files WHERE url = ?1");
        LoadUrls = Prepare(db, Path, "SELECT id, url FROM urls");
        PutDownload =
            Prepare(db, Path,
                    std::string("INSERT OR REPLACE INTO downloads(url, ") + DownloadColumns +
                        ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
                        "?13, ?14, ?15)");
        RemoveDownload = Prepare(db, Path, "DELETE FROM downloads WHERE url = ?1 AND name = ?2");
        RemoveDownloads = Prepare(db, Path, "DELETE FROM downloads WHERE url = ?1");
        LoadDownloads = Prepare(db, Path,
                                std::string("SELECT u.url, ") + DownloadColumns +
                                    " FROM downloads d JOIN urls u ON u.id = d.url");
        LoadFiles = Prepare(db, Path,
                            std::string("SELECT url, ") + FileColumns + " FROM files ORDER BY url");
        AddEvent = Prepare(db, Path,
                           "INSERT INTO history(time, url, what, name, detail) "
                           "VALUES (?1, ?2, ?3, ?4, ?5)");
        LoadEvents = Prepare(db, Path,
                             "SELECT time, url, what, name, detail FROM history "
                             "WHERE time >= ?1 ORDER BY time, rowid");
        LoadUrlEvents = Prepare(db, Path,
                                "SELECT time, url, what, name, detail FROM history "
                                "WHERE time >= ?1 AND url = ?2 ORDER BY time, rowid");
        PruneEvents = Prepare(db, Path, "DELETE FROM history WHERE time < ?1");
    }

    // Runs work in one transaction: all or nothing.
    template <typename Work> void Atomically(Work work) {
        Run(Begin.get(), "cannot save");
        try {
            work();
            Run(Commit.get(), "cannot save");
        } catch (...) {
            // SQLite rolls some failures (a full disk) back by itself.
            if (!sqlite3_get_autocommit(Db.get())) {
                const Resetting reset(Rollback.get());
                sqlite3_step(Rollback.get());
            }
            throw;
        }
    }

    // Before version 3 URLs were kept by their text, passwords and all: each
    // takes its name, and the file and its log are written anew (deleted
    // bytes zeroed, the file vacuumed, the log emptied) so that no old text
    // stays in a free page or a logged one.
    void NameUrls(const UrlNaming& nameOf) {
        sqlite3* db = Db.get();
        if (sqlite3_create_function_v2(
                db, "url_name", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY,
                const_cast<UrlNaming*>(&nameOf), &NameUrl, nullptr, nullptr, nullptr) != SQLITE_OK)
            Fail(db, Path, "cannot bring the store up to date");
        // The version is this program's: the tables were brought up to it before.
        const std::string sql =
            "PRAGMA secure_delete = ON; BEGIN IMMEDIATE; UPDATE urls SET url = url_name(url);"
            "PRAGMA user_version = " +
            std::to_string(FileStore::SchemaVersion) +
            "; COMMIT; VACUUM; PRAGMA wal_checkpoint(TRUNCATE); PRAGMA secure_delete = OFF";
        Execute(db, Path, sql.c_str(), "cannot bring the store up to date");
        sqlite3_create_function_v2(db, "url_name", 1, SQLITE_UTF8, nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
    }

    // Runs a statement that returns no rows.
    void Run(sqlite3_stmt* statement, const char* action) {
        const Resetting reset(statement);
        ++Statements;
        if (sqlite3_step(statement) != SQLITE_DONE)
            Fail(Db.get(), Path, action);
    }

    std::optional<std::int64_t> UrlId(const std::string& url) {
        const Resetting reset(FindUrl.get());
        BindBlob(FindUrl.get(), 1, url);
        ++Statements;
        const int result = sqlite3_step(FindUrl.get());
        if (result == SQLITE_ROW)
            return sqlite3_column_int64(FindUrl.get(), 0);
        if (result != SQLITE_DONE)
            Fail(Db.get(), Path, "cannot read the store");
        return std::nullopt;
    }

    std::int64_t NewUrlId(const std::string& url) {
        BindBlob(AddUrl.get(), 1, url);
        Run(AddUrl.get(), "cannot save");
        return sqlite3_last_insert_rowid(Db.get());
    }

    void Put(std::int64_t url, const StoredFile& file) {
        sqlite3_stmt* s = PutFile.get();
        const ListedTime& time = file.Facts.Modified;
        sqlite3_bind_int64(s, 1, url);
        BindBlob(s, 2, file.Name);
        sqlite3_bind_int(s, 3, static_cast<int>(file.Facts.Source));
        sqlite3_bind_int(s, 4, static_cast<int>(file.Facts.Type));
        if (file.Facts.Size)
            // Kept bit for bit: a size beyond the signed range comes back as it went.
            sqlite3_bind_int64(s, 5, static_cast<sqlite3_int64>(*file.Facts.Size));
        else
            sqlite3_bind_null(s, 5);
        sqlite3_bind_int(s, 6, static_cast<int>(time.Precision));
        sqlite3_bind_int(s, 7, time.Year);
        sqlite3_bind_int(s, 8, time.Month);
        sqlite3_bind_int(s, 9, time.Day);
        sqlite3_bind_int(s, 10, time.Hour);
        sqlite3_bind_int(s, 11, time.Minute);
        sqlite3_bind_int(s, 12, time.Second);
        sqlite3_bind_int(s, 13, time.Utc);
        sqlite3_bind_int(s, 14, file.Changed);
        sqlite3_bind_int(s, 15, file.Arriving);
        sqlite3_bind_int(s, 16, file.Settled);
        sqlite3_bind_int64(s, 17, file.SteadySince);
        sqlite3_bind_int(s, 18, static_cast<int>(file.BeforeGone));
        sqlite3_bind_int(s, 19, file.DataState);
        Run(s, "cannot save");
    }

    void Forget(sqlite3_stmt* statement, std::int64_t url, const std::string* name) {
        sqlite3_bind_int64(statement, 1, url);
        if (name)
            BindBlob(statement, 2, *name);
        Run(statement, "cannot save");
    }

    void Apply(const StoreChange& change) {
        std::optional<std::int64_t> url = UrlId(change.Url);
        if (change.RemoveAll && url) {
            Forget(RemoveFiles.get(), *url, nullptr);
            Forget(RemoveDownloads.get(), *url, nullptr);
            if (change.Put.empty() && !change.StartingPoint.value_or(false)) {
                Forget(RemoveUrl.get(), *url, nullptr);
                url.reset();
            }
        }
        if (url && !change.RemoveAll) {
            for (const std::string& name : change.Remove)
                Forget(RemoveFile.get(), *url, &name);
        }
        if (change.StartingPoint && (url || *change.StartingPoint)) {
            if (!url)
                url = NewUrlId(change.Url);
            sqlite3_bind_int64(MarkStarting.get(), 1, *url);
            sqlite3_bind_int(MarkStarting.get(), 2, *change.StartingPoint ? 1 : 0);
            Run(MarkStarting.get(), "cannot save");
        }
        if (change.Put.empty())
            return;
        if (!url)
            url = NewUrlId(change.Url);
        for (const StoredFile& file : change.Put)
            Put(*url, file);
    }
};

Result<std::unique_ptr<FileStore>> FileStore::Open(const std::string& path, std::string& notice,
                                                   const UrlNaming& nameOf) {
    return Guarded([&] {
        notice.clear();
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            throw StoreError(path + ": cannot open the store: not a regular file");
        CreateOwnerOnly(path);
        NarrowToOwner(path);
        for (const char* companion : Companions)
            NarrowToOwner(path + companion);

        Connection db = Connect(path);
        Inspection found = Inspect(db.get(), path);
        auto store = std::make_unique<Database>(path, std::move(db));
        if (found.Found == Verdict::Ours) {
            try {
                // Version 1 knew no downloads, version 2 no held ones, version 3
                // no history and no servers: what is missing is added, every row kept.
                if (found.Version < FileStore::SchemaVersion)
                    Execute(store->Db.get(), path,
                            (std::string("BEGIN IMMEDIATE;") +
                             (found.Version < 2   ? DownloadsSchema
                              : found.Version < 3 ? DownloadsFailure
                                                  : "") +
                             HistorySchema + ServersSchema + "PRAGMA user_version = " +
                             std::to_string(FileStore::SchemaVersion) + "; COMMIT;")
                                .c_str(),
                            "cannot bring the store up to date");
                // Our version, but not our tables: damaged as well.
                store->PrepareAll();
            } catch (const SqliteFailure& failure) {
                if (!failure.ContentFault())
                    throw;
                found = {Verdict::Damaged, sqlite3_errmsg(store->Db.get()), 0};
            }
        }
        if (found.Found == Verdict::Damaged || found.Found == Verdict::Foreign ||
            found.Found == Verdict::Newer) {
            store.reset();
            std::string keptAs;
            try {
                // A log left behind would be replayed into the new store: it goes along.
                keptAs = SetAside(path, SuffixOf(found.Found), Companions);
            } catch (const FileError& error) {
                throw StoreError(std::string(error.what()));
            }
            notice = Notice(path, found, keptAs);
            CreateOwnerOnly(path);
            store = std::make_unique<Database>(path, Connect(path));
            found.Found = Verdict::Empty;
        }

        sqlite3* raw = store->Db.get();
        Execute(raw, path, "PRAGMA journal_mode = WAL", "cannot open");

        // Each save is on the disk when Save returns, before the data file it
        // goes with is written.
        Execute(raw, path, "PRAGMA synchronous = FULL", "cannot open");
        // A save of every row leaves a long log; it shrinks back once checkpointed.
        Execute(raw, path, "PRAGMA journal_size_limit = 4194304", "cannot open");
        Execute(raw, path, "PRAGMA cache_size = -32768", "cannot open");
        if (found.Found == Verdict::Ours && found.Version < 3)
            store->NameUrls(nameOf);
        if (found.Found == Verdict::Empty) {
            Execute(raw, path,
                    (std::string("BEGIN IMMEDIATE; PRAGMA application_id = ") +
                     std::to_string(ApplicationId) +
                     "; PRAGMA user_version = " + std::to_string(SchemaVersion) + ";" + Schema +
                     DownloadsSchema + HistorySchema + ServersSchema + "COMMIT;")
                        .c_str(),
                    "cannot create the store");
            store->PrepareAll();
        }
        // Ours now: a clean close folds the log back into the file.
        sqlite3_db_config(raw, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
        for (const char* companion : Companions)
            NarrowToOwner(path + companion);
        return std::unique_ptr<FileStore>(new FileStore(std::move(store)));
    });
}

FileStore::FileStore(std::unique_ptr<Database> database) : db_(std::move(database)) {}

FileStore::~FileStore() = default;

Result<std::map<std::string, std::vector<StoredFile>>> FileStore::LoadAll() {
    return Guarded([&] {
        Database& d = *db_;
        std::map<std::string, std::vector<StoredFile>> all;
        std::unordered_map<std::int64_t, std::vector<StoredFile>*> byId;
        {
            sqlite3_stmt* s = d.LoadUrls.get();
            const Resetting reset(s);
            ++d.Statements;
            int result;
            while ((result = sqlite3_step(s)) == SQLITE_ROW)
                byId[sqlite3_column_int64(s, 0)] = &all[Blob(s, 1)];
            if (result != SQLITE_DONE)
                Fail(d.Db.get(), d.Path, "cannot read the store");
        }
        sqlite3_stmt* s = d.LoadFiles.get();
        const Resetting reset(s);
        ++d.Statements;
        std::int64_t lastId = 0;
        std::vector<StoredFile>* files = nullptr;
        int result;
        while ((result = sqlite3_step(s)) == SQLITE_ROW) {
            const std::int64_t id = sqlite3_column_int64(s, 0);
            if (!files || id != lastId) {
                const auto found = byId.find(id);
                // A row of no URL cannot be given to anyone.
                files = found == byId.end() ? nullptr : found->second;
                lastId = id;
                if (!files)
                    continue;
            }
            StoredFile& file = files->emplace_back();
            file.Name = Blob(s, 1);
            file.Facts.Source = static_cast<ListingSource>(sqlite3_column_int(s, 2));
            file.Facts.Type = static_cast<EntryType>(sqlite3_column_int(s, 3));
            if (sqlite3_column_type(s, 4) != SQLITE_NULL)
                file.Facts.Size = static_cast<std::uint64_t>(sqlite3_column_int64(s, 4));
            ListedTime& time = file.Facts.Modified;
            time.Precision = static_cast<ListedTime::Resolution>(sqlite3_column_int(s, 5));
            time.Year = static_cast<std::int16_t>(sqlite3_column_int(s, 6));
            time.Month = sqlite3_column_int(s, 7);
            time.Day = sqlite3_column_int(s, 8);
            time.Hour = sqlite3_column_int(s, 9);
            time.Minute = sqlite3_column_int(s, 10);
            time.Second = sqlite3_column_int(s, 11);
            time.Utc = sqlite3_column_int(s, 12) != 0;
            file.Changed = sqlite3_column_int(s, 13) != 0;
            file.Arriving = sqlite3_column_int(s, 14) != 0;
            file.Settled = sqlite3_column_int(s, 15) != 0;
            file.SteadySince = sqlite3_column_int64(s, 16);
            file.BeforeGone = static_cast<FileMark>(sqlite3_column_int(s, 17));
            file.DataState = sqlite3_column_int(s, 18);
        }
        if (result != SQLITE_DONE)
            Fail(d.Db.get(), d.Path, "cannot read the store");
        std::erase_if(all, [](const auto& url) { return url.second.empty(); });
        return all;
    });
}

Result<std::vector<std::string>> FileStore::Urls() {
    return Guarded([&] {
        Database& d = *db_;
        sqlite3_stmt* s = d.LoadUrls.get();
        const Resetting reset(s);
        ++d.Statements;
        std::vector<std::string> urls;
        int result;
        while ((result = sqlite3_step(s)) == SQLITE_ROW)
            urls.push_back(Blob(s, 1));
        if (result != SQLITE_DONE)
            Fail(d.Db.get(), d.Path, "cannot read the store");
        return urls;
    });
}

Result<void> FileStore::RenameUrls(const std::map<std::string, std::string>& renamed) {
    return Guarded([&] {
        Database& d = *db_;
        const Statement rename =
            Prepare(d.Db.get(), d.Path, "UPDATE urls SET url = ?2 WHERE url = ?1");
        d.Atomically([&] {
            for (const auto& [from, to] : renamed) {
                BindBlob(rename.get(), 1, from);
                BindBlob(rename.get(), 2, to);
                d.Run(rename.get(), "cannot save");
            }
        });
    });
}

Result<void> FileStore::Save(const std::vector<StoreChange>& changes) {
    return Guarded([&] {
        const bool nothing = std::all_of(changes.begin(), changes.end(), [](const StoreChange& c) {
            return c.Put.empty() && c.Remove.empty() && !c.RemoveAll && !c.StartingPoint;
        });
        if (nothing)
            return;
        Database& d = *db_;
        d.Atomically([&] {
            for (const StoreChange& change : changes)
                d.Apply(change);
        });
    });
}

Result<std::map<std::string, FileStore::MarkCounts>> FileStore::CountMarks() {
    return Guarded([&] {
        Database& d = *db_;
        sqlite3_stmt* s = d.CountMarks.get();
        const Resetting reset(s);
        ++d.Statements;
        std::map<std::string, MarkCounts> counts;
        int result;
        while ((result = sqlite3_step(s)) == SQLITE_ROW)
            counts[Blob(s, 0)] = {sqlite3_column_int(s, 1), sqlite3_column_int(s, 2),
                                  sqlite3_column_int(s, 3), sqlite3_column_int(s, 4)};
        if (result != SQLITE_DONE)
            Fail(d.Db.get(), d.Path, "cannot read the store");
        return counts;
    });
}

Result<std::set<std::string>> FileStore::StartingPoints() {
    return Guarded([&] {
        Database& d = *db_;
        sqlite3_stmt* s = d.LoadStarting.get();
        const Resetting reset(s);
        ++d.Statements;
        std::set<std::string> urls;
        int result;
        while ((result = sqlite3_step(s)) == SQLITE_ROW)
            urls.insert(Blob(s, 0));
        if (result != SQLITE_DONE)
            Fail(d.Db.get(), d.Path, "cannot read the store");
        return urls;
    });
}

Result<std::map<std::string, std::vector<StoredDownload>>> FileStore::LoadDownloads() {
    return Guarded([&] {
        Database& d = *db_;
        sqlite3_stmt* s = d.LoadDownloads.get();
        const Resetting reset(s);
        ++d.Statements;
        std::map<std::string, std::vector<StoredDownload>> all;
        int result;
        while ((result = sqlite3_step(s)) == SQLITE_ROW) {
            StoredDownload& download = all[Blob(s, 0)].emplace_back();
            download.Name = Blob(s, 1);
            download.Folder = Blob(s, 2);
            if (sqlite3_column_type(s, 3) != SQLITE_NULL)
                download.Size = static_cast<std::uint64_t>(sqlite3_column_int64(s, 3));
            ListedTime& time = download.Modified;
            time.Precision = static_cast<ListedTime::Resolution>(sqlite3_column_int(s, 4));
            time.Year = static_cast<std::int16_t>(sqlite3_column_int(s, 5));
            time.Month = static_cast<std::uint8_t>(sqlite3_column_int(s, 6));
            time.Day = static_cast<std::uint8_t>(sqlite3_column_int(s, 7));
            time.Hour = static_cast<std::uint8_t>(sqlite3_column_int(s, 8));
            time.Minute = static_cast<std::uint8_t>(sqlite3_column_int(s, 9));
            time.Second = static_cast<std::uint8_t>(sqlite3_column_int(s, 10));
            time.Utc = sqlite3_column_int(s, 11) != 0;
            download.Done = sqlite3_column_int(s, 12) != 0;
            download.SavedAs = Blob(s, 13);
            download.Failure = Blob(s, 14);
        }
        if (result != SQLITE_DONE)
            Fail(d.Db.get(), d.Path, "cannot read the store");
        return all;
    });
}

Result<void> FileStore::PutDownload(const std::string& url, const StoredDownload& download) {
    return Guarded([&] {
        Database& d = *db_;
        d.Atomically([&] {
            const std::int64_t id = d.UrlId(url).value_or(0);
            sqlite3_stmt* s = d.PutDownload.get();
            sqlite3_bind_int64(s, 1, id != 0 ? id : d.NewUrlId(url));
            BindBlob(s, 2, download.Name);
            BindBlob(s, 3, download.Folder);
            if (download.Size)
                sqlite3_bind_int64(s, 4, static_cast<sqlite3_int64>(*download.Size));
            else
                sqlite3_bind_null(s, 4);
            const ListedTime& time = download.Modified;
            sqlite3_bind_int(s, 5, static_cast<int>(time.Precision));
            sqlite3_bind_int(s, 6, time.Year);
            sqlite3_bind_int(s, 7, time.Month);
            sqlite3_bind_int(s, 8, time.Day);
            sqlite3_bind_int(s, 9, time.Hour);
            sqlite3_bind_int(s, 10, time.Minute);
            sqlite3_bind_int(s, 11, time.Second);
            sqlite3_bind_int(s, 12, time.Utc);
            sqlite3_bind_int(s, 13, download.Done);
            BindBlob(s, 14, download.SavedAs);
            BindBlob(s, 15, download.Failure);
            d.Run(s, "cannot save");
        });
    });
}

Result<void> FileStore::RemoveDownload(const std::string& url,
                                       const std::optional<std::string>& name) {
    return Guarded([&] {
        Database& d = *db_;
        const std::optional<std::int64_t> id = d.UrlId(url);
        if (!id)
            return;
        if (name)
            d.Forget(d.RemoveDownload.get(), *id, &*name);
        else
            d.Forget(d.RemoveDownloads.get(), *id, nullptr);
    });
}

Result<void> FileStore::AddHistory(const std::vector<HistoryEvent>& events) {
    return Guarded([&] {
        if (events.empty())
            return;
        Database& d = *db_;
        d.Atomically([&] {
            sqlite3_stmt* s = d.AddEvent.get();
            for (const HistoryEvent& event : events) {
                sqlite3_bind_int64(s, 1, event.Time);
                BindBlob(s, 2, event.Url);
                sqlite3_bind_text(s, 3, event.What.data(), static_cast<int>(event.What.size()),
                                  SQLITE_TRANSIENT);
                BindBlob(s, 4, event.Name);
                BindBlob(s, 5, event.Detail);
                d.Run(s, "cannot save");
            }
        });
    });
}

Result<std::vector<HistoryEvent>> FileStore::History(const std::string& url, std::int64_t since) {
    return Guarded([&] {
        Database& d = *db_;
        sqlite3_stmt* s = url.empty() ? d.LoadEvents.get() : d.LoadUrlEvents.get();
        const Resetting reset(s);
        sqlite3_bind_int64(s, 1, since);
        if (!url.empty())
            BindBlob(s, 2, url);
        ++d.Statements;
        std::vector<HistoryEvent> events;
        int result;
        while ((result = sqlite3_step(s)) == SQLITE_ROW) {
            const auto* what = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
            events.push_back(
                {sqlite3_column_int64(s, 0), Blob(s, 1), what ? what : "", Blob(s, 3), Blob(s, 4)});
        }
        if (result != SQLITE_DONE)
            Fail(d.Db.get(), d.Path, "cannot read the store");
        return events;
    });
}

Result<std::int64_t> FileStore::PruneHistory(std::int64_t before) {
    return Guarded([&] {
        Database& d = *db_;
        sqlite3_bind_int64(d.PruneEvents.get(), 1, before);
        d.Run(d.PruneEvents.get(), "cannot save");
        return static_cast<std::int64_t>(sqlite3_changes(d.Db.get()));
    });
}

std::uint64_t FileStore::StatementsRun() const {
    return db_->Statements;
}

Result<std::map<std::string, StoredServer>> FileStore::LoadServers() {
    return Guarded([&] {
        Database& d = *db_;
        const Statement s =
            Prepare(d.Db.get(), d.Path, "SELECT server, passive, utc_offset FROM servers");
        ++d.Statements;
        std::map<std::string, StoredServer> all;
        int result;
        while ((result = sqlite3_step(s.get())) == SQLITE_ROW) {
            StoredServer& server = all[Blob(s.get(), 0)];
            server.Passive = sqlite3_column_int(s.get(), 1) != 0;
            if (sqlite3_column_type(s.get(), 2) != SQLITE_NULL)
                server.UtcOffsetMinutes = sqlite3_column_int(s.get(), 2);
        }
        if (result != SQLITE_DONE)
            Fail(d.Db.get(), d.Path, "cannot read the store");
        return all;
    });
}

Result<void> FileStore::PutServer(const std::string& server, const StoredServer& facts) {
    return Guarded([&] {
        Database& d = *db_;
        const Statement s = Prepare(
            d.Db.get(), d.Path,
            "INSERT OR REPLACE INTO servers(server, passive, utc_offset) VALUES (?1, ?2, ?3)");
        BindBlob(s.get(), 1, server);
        sqlite3_bind_int(s.get(), 2, facts.Passive);
        if (facts.UtcOffsetMinutes)
            sqlite3_bind_int(s.get(), 3, *facts.UtcOffsetMinutes);
        else
            sqlite3_bind_null(s.get(), 3);
        d.Run(s.get(), "cannot save");
    });
}

} // namespace ornbrook
