// LearnBatch: learning messages as spam or ham, and unlearning them, with
// every change of one batch written in one transaction of the token store.
//
// The batch takes the store's write lock when it is made (waiting as the
// store does for another writer) and holds it until commit(); the token
// counts are gathered in memory and written once, at commit.  Until then
// nothing of the batch is in the store, and a batch that goes without
// commit() (an exception, a crash, a kill) leaves the store as it was.
//
// A message is known by the MD5 digest of its text with every CR left out
// (so a copy saved with other line ends is the same message):
//   learn as K:   a message learned as K already counts once (Unchanged); one
//                 learned as the other kind is moved (its counts taken
//                 from there and given to K); any other is added.
//   unlearn as K: a message learned as K has its counts taken away; any
//                 other is left (Unchanged).
// The message's tokens are those of tokenizeMessage; counts never go
// below 0.  Files are read whole; one that cannot be read is Unreadable and
// changes nothing.  Throws TokenStoreError when the store fails.
#pragma once

#include "learning/TokenStore.h"

#include <map>
#include <string>
#include <unordered_map>

class LearnBatch
{
public:
    enum class Outcome { Added, Moved, Removed, Unchanged, Unreadable };

    explicit LearnBatch(TokenStore& store);
    ~LearnBatch();
    LearnBatch(const LearnBatch&) = delete;
    LearnBatch& operator=(const LearnBatch&) = delete;

    Outcome learnFile(const std::string& path, MailKind kind);
    Outcome unlearnFile(const std::string& path, MailKind kind);
    // The same for a message held in memory.
    Outcome learnText(const std::string& text, MailKind kind);
    Outcome unlearnText(const std::string& text, MailKind kind);
    // Writes everything and releases the lock; the batch is done with.
    void commit();

private:
    Outcome change(const std::string& text, MailKind kind, bool learn);
    std::optional<MailKind> learnedAs(const MessageDigest& digest);
    void count(const std::string& text, MailKind kind, int64_t delta);

    TokenStore& m_store;
    bool m_open = true;
    // The digests this batch changed: their kind now, or none.
    std::map<MessageDigest, std::optional<MailKind>> m_digests;
    std::unordered_map<uint64_t, TokenCounts> m_deltas;
    int64_t m_spamDelta = 0;
    int64_t m_hamDelta = 0;
};

// MD5 of text with every CR left out.
MessageDigest messageDigest(const std::string& text);
