// TokenStore: what the learning classifier has learned, in one SQLite
// database ("<data root>/learn/tokens.db"):
//   totals(kind, messages)            how many spam (0) and ham (1) messages
//   tokens(hash, spam, ham, day)      per token (a 64-bit hash of its text):
//                                     in how many learned spam and ham
//                                     messages it was, and the day (days
//                                     since 1970) it was last learned
//   learned(digest, kind, day)        the MD5 digest of every message learned
//                                     and as what, so that it counts once
//
// The database runs in WAL mode: the proxy reads while a training command
// writes, and a write is one transaction, so a crash, a kill or a full disk
// leaves the counts of the last commit.  Every connection waits up to
// kBusyMs for a lock another process holds.
//
// Opening throws TokenStoreError when the file cannot be opened as a store
// (a read-only store that does not exist yet is not an error: it answers
// zero for every count).  Writes outside begin()/commit() throw; a
// transaction that was begun and not committed is rolled back when the
// store goes.  One thread at a time.
#pragma once

#include "learning/Classifier.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

enum class MailKind { Spam = 0, Ham = 1 };

using MessageDigest = std::array<unsigned char, 16>;

class TokenStoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A token's key in the store: the 64-bit FNV-1a hash of its text, mixed.
uint64_t tokenHash(std::string_view token);
// "<dataRoot>/learn/tokens.db".
std::string tokenStorePath(const std::string& dataRoot);
// Days since 1 January 1970, UTC.
int64_t today();

class TokenStore
{
public:
    // 10 s: a training command's commit takes well under a second, and a
    // session may wait that long for its first count rather than fail.
    static constexpr int kBusyMs = 10000;

    // writable: the file and its tables are made when missing (the folder
    // must exist).
    TokenStore(const std::string& path, bool writable);
    ~TokenStore();
    TokenStore(const TokenStore&) = delete;
    TokenStore& operator=(const TokenStore&) = delete;

    int64_t messages(MailKind kind);
    TokenCounts counts(uint64_t token);
    std::optional<MailKind> learnedAs(const MessageDigest& digest);
    // SQLite's count of commits by other connections: it changes when the
    // learned data may have.
    int64_t dataVersion();

    // A read transaction: the counts read until endRead() are those of one
    // commit, and each read costs no lock of its own.
    void beginRead();
    void endRead();
    // Takes the write lock (waiting kBusyMs for another writer).
    void begin();
    void commit();
    void rollback();
    void addMessages(MailKind kind, int64_t delta);
    // Adds the deltas to a token's counts, never below 0; a token left at
    // 0 and 0 is deleted.  day is stored when it is later than the one kept.
    void addToken(uint64_t token, int64_t spamDelta, int64_t hamDelta, int64_t day);
    // Records digest as learned as kind, or forgets it (no kind).
    void setLearned(const MessageDigest& digest, std::optional<MailKind> kind, int64_t day);
    // Drops the tokens last learned before the day staleBefore, and those
    // that were in one learned message only and last learned before
    // singleBefore; returns how many went.  The digests of messages learned
    // before staleBefore go too (such a message learned again counts
    // again); the message counts stay.  In a transaction.
    int64_t pruneTokens(int64_t staleBefore, int64_t singleBefore);
    int64_t tokenCount();
    // Gives the space of dropped rows back (VACUUM and a checkpoint);
    // outside a transaction.  Throws when a reader held the checkpoint up:
    // the space then comes back at a later compaction.
    void compact();

private:
    class Statement;
    void execute(const char* sql);
    Statement& prepared(std::unique_ptr<Statement>& slot, const char* sql);
    [[noreturn]] void fail(const char* what) const;

    sqlite3* m_db = nullptr;
    bool m_inTransaction = false;
    std::unique_ptr<Statement> m_selectTotal, m_selectToken, m_selectLearned, m_updateTotal, m_upsertToken,
        m_deleteToken, m_insertLearned, m_deleteLearned, m_dataVersion;
};
