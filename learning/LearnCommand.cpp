#include "learning/LearnCommand.h"

#include "common/ProgramContext.h"
#include "store/ArchiveMessages.h"
#include "learning/LearnBatch.h"
#include "learning/LearnFolders.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

namespace {

constexpr long kMaxPruneDays = 36500;

std::optional<MailKind> kindNamed(const std::string& name)
{
    if (name == "spam")
        return MailKind::Spam;
    if (name == "ham")
        return MailKind::Ham;
    return std::nullopt;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: quillfnc -learn spam|ham FILE|FOLDER...\n"
                 "       quillfnc -unlearn spam|ham FILE|FOLDER...\n"
                 "       quillfnc -learn-archive BAND\n"
                 "       quillfnc -learn-prune DAYS\n");
    return 2;
}

struct Tally {
    int outcomes[5] = {};
    int total = 0;

    void add(LearnBatch::Outcome outcome)
    {
        ++outcomes[static_cast<int>(outcome)];
        ++total;
    }
};

// The messages to learn, each as a file or, out of an archive, a text.
struct Work {
    std::vector<std::string> files;
    std::vector<std::string> texts;
};

bool gatherFiles(const std::vector<std::string>& paths, Work& work)
{
    bool ok = true;
    for (const std::string& path : paths)
        if (!messageFiles(path, work.files)) {
            std::fprintf(stderr, "quillfnc: %s: not a file or a folder\n", path.c_str());
            ok = false;
        }
    return ok;
}

bool gatherArchive(const std::string& bandText, const ArchiveFolders& archiveFolders, Work& work)
{
    const std::vector<std::string> folders = archiveFolders();
    const long bands = static_cast<long>(folders.size());
    char* end = nullptr;
    const long band = std::strtol(bandText.c_str(), &end, 10);
    if (end == bandText.c_str() || *end != '\0' || band < 1 || band > bands) {
        std::fprintf(stderr, "quillfnc -learn-archive: the band is a number from 1 to %ld\n", bands);
        return false;
    }
    const std::string& folder = folders[static_cast<size_t>(band - 1)];
    for (const std::string& day : archiveDayFiles(folder)) {
        std::ifstream in(day, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) {
            std::fprintf(stderr, "quillfnc -learn-archive: %s cannot be read\n", day.c_str());
            return false;
        }
        splitArchive(text, [&work](const std::string& message) { work.texts.push_back(message); });
    }
    return true;
}

} // namespace

int learnCommand(const std::string& verb, const std::vector<std::string>& arguments,
                 const ArchiveFolders& archiveFolders)
{
    const bool archive = verb == "-learn-archive";
    const bool learn = verb != "-unlearn";
    std::optional<MailKind> kind = MailKind::Spam;
    Work work;
    if (archive) {
        if (arguments.size() != 1)
            return usage();
        if (!gatherArchive(arguments[0], archiveFolders, work))
            return 1;
    } else {
        if (arguments.size() < 2 || !(kind = kindNamed(arguments[0])))
            return usage();
        if (!gatherFiles(std::vector<std::string>(arguments.begin() + 1, arguments.end()), work))
            return 1;
    }

    const std::string& root = programContext().dataRoot;
    if (!makeLearnFolders(root)) {
        std::fprintf(stderr, "quillfnc: cannot make %s\n", learnRoot(root).c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    Tally tally;
    int64_t spam = 0, ham = 0;
    try {
        TokenStore store(tokenStorePath(root), true);
        LearnBatch batch(store);
        for (const std::string& file : work.files) {
            const auto outcome = learn ? batch.learnFile(file, *kind) : batch.unlearnFile(file, *kind);
            if (outcome == LearnBatch::Outcome::Unreadable)
                std::fprintf(stderr, "quillfnc: %s cannot be read\n", file.c_str());
            tally.add(outcome);
        }
        for (const std::string& text : work.texts)
            tally.add(batch.learnText(text, *kind));
        batch.commit();
        spam = store.messages(MailKind::Spam);
        ham = store.messages(MailKind::Ham);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillfnc: the token store failed, nothing was learned: %s\n", error.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    using Outcome = LearnBatch::Outcome;
    std::printf("%s %d messages in %.2f s (%.0f msgs/s): %d added, %d moved, %d removed, %d unchanged, "
                "%d unreadable\n",
                learn ? "learned" : "unlearned", tally.total, seconds, seconds > 0 ? tally.total / seconds : 0.0,
                tally.outcomes[static_cast<int>(Outcome::Added)], tally.outcomes[static_cast<int>(Outcome::Moved)],
                tally.outcomes[static_cast<int>(Outcome::Removed)],
                tally.outcomes[static_cast<int>(Outcome::Unchanged)],
                tally.outcomes[static_cast<int>(Outcome::Unreadable)]);
    std::printf("the store holds %lld spam and %lld ham messages\n", static_cast<long long>(spam),
                static_cast<long long>(ham));
    return 0;
}

int pruneCommand(const std::string& daysText)
{
    char* end = nullptr;
    const long days = std::strtol(daysText.c_str(), &end, 10);
    if (end == daysText.c_str() || *end != '\0' || days < 1 || days > kMaxPruneDays) {
        std::fprintf(stderr, "quillfnc -learn-prune: DAYS is a number from 1 to %ld\n", kMaxPruneDays);
        return 2;
    }
    const std::string path = tokenStorePath(programContext().dataRoot);
    std::error_code missing;
    if (!std::filesystem::exists(path, missing) && !missing) {
        std::printf("nothing has been learned: there is no store to prune\n");
        return 0;
    }
    int64_t before = 0, pruned = 0;
    std::unique_ptr<TokenStore> store;
    try {
        store = std::make_unique<TokenStore>(path, true);
        store->begin();
        before = store->tokenCount();
        pruned = store->pruneTokens(today() - days, today());
        store->commit();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillfnc: the token store failed, nothing was pruned: %s\n", error.what());
        return 1;
    }
    // Pruned: nothing below undoes that.
    try {
        store->compact();
    } catch (const TokenStoreError& busy) {
        std::fprintf(stderr, "quillfnc: the store could not be compacted now: %s\n", busy.what());
    }
    std::printf("pruned %lld of %lld tokens", static_cast<long long>(pruned), static_cast<long long>(before));
    try {
        uintmax_t bytes = 0;
        for (const std::string& file : {path, path + "-wal"}) {
            std::error_code error;
            const uintmax_t size = std::filesystem::file_size(file, error);
            bytes += error ? 0 : size;
        }
        std::printf("; the store holds %lld tokens of %lld spam and %lld ham messages, %lld KB",
                    static_cast<long long>(store->tokenCount()),
                    static_cast<long long>(store->messages(MailKind::Spam)),
                    static_cast<long long>(store->messages(MailKind::Ham)),
                    static_cast<long long>((bytes + 1023) / 1024));
    } catch (const std::exception&) {
    }
    std::printf("\n");
    return 0;
}
