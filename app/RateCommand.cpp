#include "app/RateCommand.h"

#include "common/CVDir.h"
#include "common/ProgramContext.h"
#include "filter/Evaluation.h"
#include "filter/FilterContext.h"
#include "filter/FilterSettings.h"
#include "filter/ListStore.h"
#include "filter/RuleStore.h"
#include "filter/SavedMessage.h"
#include "scriptkit/ScriptKit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The files a path stands for, in name order; false (reported) when it is
// neither a file nor a folder.
bool collectFiles(const std::string& path, std::vector<std::string>& files)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "quillfnc -rate: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        files.push_back(path);
        return true;
    }
    if (!S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "quillfnc -rate: %s: not a file or a folder\n", path.c_str());
        return false;
    }
    std::vector<std::string> inside;
    for (CVDir it(path.c_str(), "*"); !it.atEnd(); it.moveNext()) {
        const std::string name = it.fileName();
        if (!it.isDir())
            inside.push_back(path + (path.back() == '/' ? "" : "/") + name);
    }
    std::sort(inside.begin(), inside.end());
    files.insert(files.end(), inside.begin(), inside.end());
    return true;
}

} // namespace

int rateMessages(const std::vector<std::string>& paths)
{
    StartScriptEngine();
    initialiseFilter();

    char folder[] = "/tmp/quillfnc-rate.XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::fprintf(stderr, "quillfnc -rate: no temporary folder: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string spool = std::string(folder) + "/message.msg";
    int rated = 0;
    int perBand[FilterSettings::kBands] = {};
    const auto start = std::chrono::steady_clock::now();
    {
        SavedMessage session;
        FilterContext context(&session);
        context.ratingOnly = true;
        const ContextRegistration registration(context);
        for (const std::string& path : paths) {
            std::vector<std::string> files;
            if (!collectFiles(path, files))
                continue;
            for (const std::string& file : files) {
                if (!session.spool(file, spool)) {
                    std::fprintf(stderr, "quillfnc -rate: %s: cannot be read\n", file.c_str());
                    continue;
                }
                MessageDescriptor descriptor;
                descriptor.path = spool.c_str();
                evaluate(context, descriptor, static_cast<int>(session.size));
                const std::string& decisions = context.reportText;
                const std::string first = decisions.substr(0, decisions.find('\n'));
                std::printf("%s\tband %d\t%.1f\t%s\n", file.c_str(), context.lastBand + 1, context.lastTotal,
                            first.c_str());
                ++perBand[context.lastBand];
                ++rated;
            }
        }
    }
    ::unlink(spool.c_str());
    ::rmdir(folder);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("rated %d messages in %.2f s:", rated, seconds);
    for (int band = 0; band < FilterSettings::kBands; ++band)
        std::printf(" band %d: %d;", band + 1, perBand[band]);
    std::printf("\n");
    StopScriptEngine();
    freeRules();
    clearListCaches();
    return rated > 0 ? 0 : 1;
}
