#include "learning/TokenStore.h"

#include <sqlite3.h>

#include <ctime>

// A prepared statement, reset after every use.
class TokenStore::Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) != SQLITE_OK)
            throw TokenStoreError(std::string("cannot prepare: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const { return m_statement; }

private:
    sqlite3_stmt* m_statement = nullptr;
};

namespace {

// Resets a statement when the step is done with, whatever happens.
class StepScope
{
public:
    explicit StepScope(sqlite3_stmt* statement) : m_statement(statement) {}
    ~StepScope()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    StepScope(const StepScope&) = delete;
    StepScope& operator=(const StepScope&) = delete;

private:
    sqlite3_stmt* m_statement;
};

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS totals(kind INTEGER PRIMARY KEY, messages INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS tokens(hash INTEGER PRIMARY KEY, spam INTEGER NOT NULL, ham INTEGER NOT NULL,"
    " day INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS learned(digest BLOB PRIMARY KEY, kind INTEGER NOT NULL, day INTEGER NOT NULL)"
    " WITHOUT ROWID;"
    "INSERT OR IGNORE INTO totals VALUES(0, 0);"
    "INSERT OR IGNORE INTO totals VALUES(1, 0);";

} // namespace

uint64_t tokenHash(std::string_view token)
{
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : token) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    // FNV-1a's low bits are weak; the finaliser of splitmix64 spreads them.
    hash ^= hash >> 30;
    hash *= 0xbf58476d1ce4e5b9ULL;
    hash ^= hash >> 27;
    hash *= 0x94d049bb133111ebULL;
    hash ^= hash >> 31;
    return hash;
}

std::string tokenStorePath(const std::string& dataRoot)
{
    return dataRoot + "/learn/tokens.db";
}

int64_t today()
{
    return static_cast<int64_t>(std::time(nullptr)) / 86400;
}

TokenStore::TokenStore(const std::string& path, bool writable)
{
    const int flags = writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READWRITE;
    if (sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        if (!writable)
            return;   // nothing learned yet
        throw TokenStoreError(path + ": " + message);
    }
    try {
        sqlite3_busy_timeout(m_db, kBusyMs);
        execute("PRAGMA journal_mode=WAL");
        // FULL: a commit is on disk before the command says it learned.
        execute("PRAGMA synchronous=FULL");
        execute("PRAGMA cache_size=-16000");
        if (writable) {
            begin();
            execute(kSchema);
            commit();
        }
    } catch (...) {
        if (m_inTransaction)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        m_selectTotal.reset();
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

TokenStore::~TokenStore()
{
    if (m_db == nullptr)
        return;
    if (m_inTransaction)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    // Statements go before the connection they belong to.
    for (auto* slot : {&m_selectTotal, &m_selectToken, &m_selectLearned, &m_updateTotal, &m_upsertToken,
                       &m_deleteToken, &m_insertLearned, &m_deleteLearned, &m_dataVersion})
        slot->reset();
    sqlite3_close(m_db);
}

void TokenStore::fail(const char* what) const
{
    throw TokenStoreError(std::string(what) + ": " + sqlite3_errmsg(m_db));
}

void TokenStore::execute(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        throw TokenStoreError(message);
    }
}

TokenStore::Statement& TokenStore::prepared(std::unique_ptr<Statement>& slot, const char* sql)
{
    if (!slot)
        slot = std::make_unique<Statement>(m_db, sql);
    return *slot;
}

int64_t TokenStore::messages(MailKind kind)
{
    if (m_db == nullptr)
        return 0;
    sqlite3_stmt* statement = prepared(m_selectTotal, "SELECT messages FROM totals WHERE kind = ?1").get();
    const StepScope scope(statement);
    sqlite3_bind_int(statement, 1, static_cast<int>(kind));
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW)
        return sqlite3_column_int64(statement, 0);
    if (result != SQLITE_DONE)
        fail("reading totals");
    return 0;
}

TokenCounts TokenStore::counts(uint64_t token)
{
    TokenCounts counts;
    if (m_db == nullptr)
        return counts;
    sqlite3_stmt* statement = prepared(m_selectToken, "SELECT spam, ham FROM tokens WHERE hash = ?1").get();
    const StepScope scope(statement);
    sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(token));
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW) {
        counts.spam = sqlite3_column_int64(statement, 0);
        counts.ham = sqlite3_column_int64(statement, 1);
    } else if (result != SQLITE_DONE) {
        fail("reading a token");
    }
    return counts;
}

std::optional<MailKind> TokenStore::learnedAs(const MessageDigest& digest)
{
    if (m_db == nullptr)
        return std::nullopt;
    sqlite3_stmt* statement = prepared(m_selectLearned, "SELECT kind FROM learned WHERE digest = ?1").get();
    const StepScope scope(statement);
    sqlite3_bind_blob(statement, 1, digest.data(), static_cast<int>(digest.size()), SQLITE_STATIC);
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW)
        return sqlite3_column_int(statement, 0) == 0 ? MailKind::Spam : MailKind::Ham;
    if (result != SQLITE_DONE)
        fail("reading a digest");
    return std::nullopt;
}

int64_t TokenStore::dataVersion()
{
    if (m_db == nullptr)
        return 0;
    sqlite3_stmt* statement = prepared(m_dataVersion, "PRAGMA data_version").get();
    const StepScope scope(statement);
    if (sqlite3_step(statement) != SQLITE_ROW)
        fail("reading the data version");
    return sqlite3_column_int64(statement, 0);
}

void TokenStore::beginRead()
{
    if (m_db == nullptr || m_inTransaction)
        return;
    execute("BEGIN");
    m_inTransaction = true;
}

void TokenStore::endRead()
{
    if (m_db == nullptr || !m_inTransaction)
        return;
    m_inTransaction = false;
    execute("COMMIT");
}

void TokenStore::begin()
{
    if (m_db == nullptr)
        throw TokenStoreError("no store");
    execute("BEGIN IMMEDIATE");
    m_inTransaction = true;
}

void TokenStore::commit()
{
    execute("COMMIT");
    m_inTransaction = false;
}

void TokenStore::rollback()
{
    if (m_inTransaction)
        execute("ROLLBACK");
    m_inTransaction = false;
}

void TokenStore::addMessages(MailKind kind, int64_t delta)
{
    if (!m_inTransaction)
        throw TokenStoreError("write outside a transaction");
    sqlite3_stmt* statement =
        prepared(m_updateTotal, "UPDATE totals SET messages = max(0, messages + ?2) WHERE kind = ?1").get();
    const StepScope scope(statement);
    sqlite3_bind_int(statement, 1, static_cast<int>(kind));
    sqlite3_bind_int64(statement, 2, delta);
    if (sqlite3_step(statement) != SQLITE_DONE)
        fail("writing totals");
}

void TokenStore::addToken(uint64_t token, int64_t spamDelta, int64_t hamDelta, int64_t day)
{
    if (!m_inTransaction)
        throw TokenStoreError("write outside a transaction");
    {
        sqlite3_stmt* statement =
            prepared(m_upsertToken,
                     "INSERT INTO tokens(hash, spam, ham, day) VALUES(?1, max(0, ?2), max(0, ?3), ?4)"
                     " ON CONFLICT(hash) DO UPDATE SET spam = max(0, spam + ?2), ham = max(0, ham + ?3),"
                     " day = max(day, ?4)")
                .get();
        const StepScope scope(statement);
        sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(token));
        sqlite3_bind_int64(statement, 2, spamDelta);
        sqlite3_bind_int64(statement, 3, hamDelta);
        sqlite3_bind_int64(statement, 4, day);
        if (sqlite3_step(statement) != SQLITE_DONE)
            fail("writing a token");
    }
    if (spamDelta >= 0 && hamDelta >= 0)
        return;
    sqlite3_stmt* statement =
        prepared(m_deleteToken, "DELETE FROM tokens WHERE hash = ?1 AND spam = 0 AND ham = 0").get();
    const StepScope scope(statement);
    sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(token));
    if (sqlite3_step(statement) != SQLITE_DONE)
        fail("deleting a token");
}

void TokenStore::setLearned(const MessageDigest& digest, std::optional<MailKind> kind, int64_t day)
{
    if (!m_inTransaction)
        throw TokenStoreError("write outside a transaction");
    sqlite3_stmt* statement =
        kind ? prepared(m_insertLearned, "INSERT OR REPLACE INTO learned(digest, kind, day) VALUES(?1, ?2, ?3)").get()
             : prepared(m_deleteLearned, "DELETE FROM learned WHERE digest = ?1").get();
    const StepScope scope(statement);
    sqlite3_bind_blob(statement, 1, digest.data(), static_cast<int>(digest.size()), SQLITE_STATIC);
    if (kind) {
        sqlite3_bind_int(statement, 2, static_cast<int>(*kind));
        sqlite3_bind_int64(statement, 3, day);
    }
    if (sqlite3_step(statement) != SQLITE_DONE)
        fail("writing a digest");
}

int64_t TokenStore::pruneTokens(int64_t staleBefore, int64_t singleBefore)
{
    if (!m_inTransaction)
        throw TokenStoreError("write outside a transaction");
    Statement statement(m_db, "DELETE FROM tokens WHERE day < ?1 OR (spam + ham <= 1 AND day < ?2)");
    sqlite3_bind_int64(statement.get(), 1, staleBefore);
    sqlite3_bind_int64(statement.get(), 2, singleBefore);
    if (sqlite3_step(statement.get()) != SQLITE_DONE)
        fail("pruning tokens");
    const int64_t pruned = sqlite3_changes64(m_db);
    Statement digests(m_db, "DELETE FROM learned WHERE day < ?1");
    sqlite3_bind_int64(digests.get(), 1, staleBefore);
    if (sqlite3_step(digests.get()) != SQLITE_DONE)
        fail("pruning digests");
    return pruned;
}

int64_t TokenStore::tokenCount()
{
    if (m_db == nullptr)
        return 0;
    Statement statement(m_db, "SELECT count(*) FROM tokens");
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        fail("counting tokens");
    return sqlite3_column_int64(statement.get(), 0);
}

void TokenStore::compact()
{
    if (m_inTransaction)
        throw TokenStoreError("compacting inside a transaction");
    execute("VACUUM");
    // The WAL file holds the whole copy until a checkpoint, which a reader
    // (a session) holds up: that is said in the pragma's row, not as an
    // error.
    Statement checkpoint(m_db, "PRAGMA wal_checkpoint(TRUNCATE)");
    if (sqlite3_step(checkpoint.get()) != SQLITE_ROW)
        fail("checkpointing");
    if (sqlite3_column_int(checkpoint.get(), 0) != 0)
        throw TokenStoreError("the store is being read; its file shrinks at the next prune");
}
