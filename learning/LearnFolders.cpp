#include "learning/LearnFolders.h"

#include "learning/LearnBatch.h"

#include "common/CEventLog.h"
#include "common/CVDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

bool beingWritten(const std::string& name)
{
    return name.empty() || name[0] == '.' || (name.size() >= 4 && name.compare(name.size() - 4, 4, ".tmp") == 0);
}

bool isFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Sub-folders nested deeper than this are not followed: a link loop
// would otherwise never end.
constexpr int kMaxFolderDepth = 16;

void addFolder(const std::string& folder, std::vector<std::string>& files, int depth)
{
    std::vector<std::string> found;
    for (CVDir it(folder.c_str(), "*"); !it.atEnd(); it.moveNext()) {
        const std::string name = it.fileName();
        if (name.empty() || name[0] == '.')
            continue;
        const std::string path = folder + (folder.back() == '/' ? "" : "/") + name;
        if (!it.isDir())
            found.push_back(path);
        else if (depth < kMaxFolderDepth)
            addFolder(path, found, depth + 1);
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
}

} // namespace

std::string learnRoot(const std::string& dataRoot)
{
    return dataRoot + "/learn";
}

std::string learnFolder(const std::string& dataRoot, MailKind kind)
{
    return learnRoot(dataRoot) + (kind == MailKind::Spam ? "/spam" : "/ham");
}

bool makeLearnFolders(const std::string& dataRoot)
{
    CVDir::mkdir(learnRoot(dataRoot).c_str());
    CVDir::mkdir(learnFolder(dataRoot, MailKind::Spam).c_str());
    CVDir::mkdir(learnFolder(dataRoot, MailKind::Ham).c_str());
    return isFolder(learnRoot(dataRoot));
}

bool messageFiles(const std::string& path, std::vector<std::string>& files)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (S_ISREG(st.st_mode)) {
        files.push_back(path);
        return true;
    }
    if (!S_ISDIR(st.st_mode))
        return false;
    addFolder(path, files, 0);
    return true;
}

int learnSavedMessages(const std::string& dataRoot)
{
    try {
        if (!makeLearnFolders(dataRoot))
            return 0;
        std::vector<std::string> taken;
        std::vector<std::pair<std::string, MailKind>> saved;
        for (MailKind kind : {MailKind::Spam, MailKind::Ham}) {
            const std::string folder = learnFolder(dataRoot, kind);
            for (CVDir it(folder.c_str(), "*"); !it.atEnd(); it.moveNext())
                if (!it.isDir() && !beingWritten(it.fileName()))
                    saved.emplace_back(folder + "/" + it.fileName(), kind);
        }
        if (saved.empty())
            return 0;
        TokenStore store(tokenStorePath(dataRoot), true);
        LearnBatch batch(store);
        for (const auto& [path, kind] : saved) {
            if (batch.learnFile(path, kind) == LearnBatch::Outcome::Unreadable)
                CEventLog().LogEvent(1, "Unable to learn %s", path.c_str());
            else
                taken.push_back(path);
        }
        batch.commit();
        // Only now are they in the store.
        for (const std::string& path : taken)
            ::unlink(path.c_str());
        CEventLog().LogEvent(4, "Learned %d saved messages", static_cast<int>(taken.size()));
        return static_cast<int>(taken.size());
    } catch (const std::exception& error) {
        CEventLog().LogEvent(1, "Unable to learn the saved messages: %s", error.what());
        return 0;
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return 0;
    }
}
