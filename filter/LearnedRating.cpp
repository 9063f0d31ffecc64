#include "filter/LearnedRating.h"

#include "analysis/MessageTokens.h"
#include "filter/FilterContext.h"

#include "common/CEventLog.h"

#include <cmath>
#include <vector>

LearnedRating::LearnedRating(const std::string& storePath)
{
    try {
        m_store = std::make_unique<TokenStore>(storePath, false);
        m_store->beginRead();
        m_spam = m_store->messages(MailKind::Spam);
        m_ham = m_store->messages(MailKind::Ham);
        m_store->endRead();
    } catch (const std::exception& error) {
        CEventLog().LogEvent(1, "Learned counts unavailable: %s", error.what());
        m_store.reset();
        m_spam = m_ham = 0;
    }
}

LearnedRating::~LearnedRating() = default;

int LearnedRating::probability(FILE* file)
{
    if (!ready() || file == nullptr)
        return kNeutral;
    try {
        TokenSet tokens;
        tokenizeMessage(file, tokens);
        std::vector<TokenCounts> counts;
        counts.reserve(tokens.size());
        if (m_cache.size() > kMaxCached)
            m_cache.clear();
        bool reading = false;
        for (const std::string& token : tokens) {
            const uint64_t hash = tokenHash(token);
            auto cached = m_cache.find(hash);
            if (cached == m_cache.end()) {
                if (!reading) {
                    m_store->beginRead();
                    reading = true;
                }
                cached = m_cache.emplace(hash, m_store->counts(hash)).first;
            }
            counts.push_back(cached->second);
        }
        if (reading)
            m_store->endRead();
        const double p = spamProbability(counts, m_spam, m_ham, m_parameters);
        return static_cast<int>(std::lround(p * 100));
    } catch (const std::exception& error) {
        CEventLog().LogEvent(1, "Learned rating failed: %s", error.what());
        try {
            m_store->endRead();
        } catch (...) {
            DebugX(__FILE__, __LINE__);
        }
        return kNeutral;
    }
}

int learnedProbability(FilterContext& context)
{
    LearnedRating& rating = context.learnedRating();
    // Nothing to rate by: no reason to download a message.
    if (!rating.ready() || !context.message.open(context.currentMessage))
        return LearnedRating::kNeutral;
    // The whole message: the body says the most.
    context.message.ensureWholeMessage(context.currentMessage);
    if (!context.message.open(context.currentMessage))
        return LearnedRating::kNeutral;
    return rating.probability(context.message.file());
}
