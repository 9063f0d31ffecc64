// LearnedRating: rates messages by what the token store has learned, for
// SPAMPROBABILITY() and LEARNEDCOUNT() and the commands that measure them.
//
// It opens the store read-only when made (a store not there yet has
// learned nothing) and reads the learned message counts then; a token's
// counts are read when a message first holds it, and kept (at most
// kMaxCached of them) for the messages after.  A training command that
// commits meanwhile is seen whole by the next LearnedRating (the proxy
// makes one per session).
//
// probability() is the Fisher-combined spam probability (Classifier.h) of
// the message file's tokens (MessageTokens.h), rounded to 0 to 100; it is
// 50 while fewer than kMinLearned spam or kMinLearned ham messages have been
// learned, and when the store fails (the failure is logged).  Never throws.
#pragma once

#include "learning/Classifier.h"
#include "learning/TokenStore.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>

class FilterContext;

class LearnedRating
{
public:
    // Fewer messages than this of either kind teach too little to judge by.
    static constexpr int64_t kMinLearned = 50;
    // A million tokens: some 40 MB, more than a user's mail has.
    static constexpr size_t kMaxCached = 1000000;
    static constexpr int kNeutral = 50;

    explicit LearnedRating(const std::string& storePath);
    ~LearnedRating();
    LearnedRating(const LearnedRating&) = delete;
    LearnedRating& operator=(const LearnedRating&) = delete;

    int probability(FILE* file);
    // Enough has been learned for probability() to say anything.
    bool ready() const { return m_store && m_spam >= kMinLearned && m_ham >= kMinLearned; }
    int64_t learned(MailKind kind) const { return kind == MailKind::Spam ? m_spam : m_ham; }

private:
    std::unique_ptr<TokenStore> m_store;
    int64_t m_spam = 0;
    int64_t m_ham = 0;
    std::unordered_map<uint64_t, TokenCounts> m_cache;
    ClassifierParameters m_parameters;
};

// SPAMPROBABILITY() of the context's current message, rated by the
// context's LearnedRating: the whole message is fetched when only its header
// is spooled, but only once enough has been learned to rate it.  kNeutral
// without a message.
int learnedProbability(FilterContext& context);
