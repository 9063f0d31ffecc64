#include "learning/LearnBatch.h"

#include "analysis/MessageTokens.h"
#include "common/MD5.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <memory>

namespace {

// Room for the tokens of a few thousand messages before the first rehash.
constexpr size_t kExpectedTokens = 1 << 17;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// The text as a file the tokenizer can read.  A memory file rather than
// fmemopen: the MIME parser sizes the message from the file's descriptor.
std::unique_ptr<FILE, FileCloser> memoryFile(const std::string& text)
{
    UniqueFd fd(::memfd_create("message", MFD_CLOEXEC));
    if (!fd || !writeFully(fd.get(), text.data(), text.size()) || ::lseek(fd.get(), 0, SEEK_SET) != 0)
        return nullptr;
    std::unique_ptr<FILE, FileCloser> file(::fdopen(fd.get(), "rb"));
    if (file)
        fd.release();
    return file;
}

// The whole file in text, read in blocks to its end (a pipe has no size).
bool readWhole(const std::string& path, std::string& text)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    text.clear();
    text.reserve(static_cast<size_t>(st.st_size));
    return readToEnd(fd.get(), text, std::string::npos);
}

} // namespace

MessageDigest messageDigest(const std::string& text)
{
    MD5_CTX context;
    MD5Init(&context);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\r', start);
        if (end == std::string::npos)
            end = text.size();
        // MD5Update takes an unsigned int length: large runs go in pieces.
        while (start < end) {
            const size_t piece = std::min<size_t>(end - start, 1u << 30);
            MD5Update(&context, reinterpret_cast<const unsigned char*>(text.data() + start),
                      static_cast<unsigned int>(piece));
            start += piece;
        }
        start = end + 1;
    }
    MessageDigest digest;
    MD5Final(digest.data(), &context);
    return digest;
}

LearnBatch::LearnBatch(TokenStore& store) : m_store(store)
{
    m_store.begin();
}

LearnBatch::~LearnBatch()
{
    if (!m_open)
        return;
    try {
        m_store.rollback();
    } catch (...) {
        // The store rolls back when its connection closes.
    }
}

LearnBatch::Outcome LearnBatch::learnFile(const std::string& path, MailKind kind)
{
    std::string text;
    return readWhole(path, text) ? change(text, kind, true) : Outcome::Unreadable;
}

LearnBatch::Outcome LearnBatch::unlearnFile(const std::string& path, MailKind kind)
{
    std::string text;
    return readWhole(path, text) ? change(text, kind, false) : Outcome::Unreadable;
}

LearnBatch::Outcome LearnBatch::learnText(const std::string& text, MailKind kind)
{
    return change(text, kind, true);
}

LearnBatch::Outcome LearnBatch::unlearnText(const std::string& text, MailKind kind)
{
    return change(text, kind, false);
}

std::optional<MailKind> LearnBatch::learnedAs(const MessageDigest& digest)
{
    const auto pending = m_digests.find(digest);
    return pending != m_digests.end() ? pending->second : m_store.learnedAs(digest);
}

LearnBatch::Outcome LearnBatch::change(const std::string& text, MailKind kind, bool learn)
{
    if (!m_open)
        throw TokenStoreError("batch already committed");
    const MessageDigest digest = messageDigest(text);
    const std::optional<MailKind> was = learnedAs(digest);
    if (!learn) {
        if (was != kind)
            return Outcome::Unchanged;
        count(text, kind, -1);
        m_digests[digest] = std::nullopt;
        return Outcome::Removed;
    }
    if (was == kind)
        return Outcome::Unchanged;
    if (was)
        count(text, *was, -1);
    count(text, kind, +1);
    m_digests[digest] = kind;
    return was ? Outcome::Moved : Outcome::Added;
}

void LearnBatch::count(const std::string& text, MailKind kind, int64_t delta)
{
    TokenSet tokens;
    if (!text.empty()) {
        const auto file = memoryFile(text);
        if (!file)
            throw TokenStoreError("no memory for a message");
        tokenizeMessage(file.get(), tokens);
    }
    if (m_deltas.empty())
        m_deltas.reserve(kExpectedTokens);
    for (const std::string& token : tokens) {
        TokenCounts& counts = m_deltas[tokenHash(token)];
        (kind == MailKind::Spam ? counts.spam : counts.ham) += delta;
    }
    (kind == MailKind::Spam ? m_spamDelta : m_hamDelta) += delta;
}

void LearnBatch::commit()
{
    if (!m_open)
        throw TokenStoreError("batch already committed");
    const int64_t day = today();
    for (const auto& [digest, kind] : m_digests)
        m_store.setLearned(digest, kind, day);
    for (const auto& [token, delta] : m_deltas)
        if (delta.spam != 0 || delta.ham != 0)
            m_store.addToken(token, delta.spam, delta.ham, delta.spam > 0 || delta.ham > 0 ? day : 0);
    m_store.addMessages(MailKind::Spam, m_spamDelta);
    m_store.addMessages(MailKind::Ham, m_hamDelta);
    m_store.commit();
    m_open = false;
}
