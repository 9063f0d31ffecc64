#include "app/ProbabilityCommand.h"

#include "filter/FilterContext.h"
#include "learning/LearnFolders.h"
#include "filter/LearnedRating.h"
#include "filter/MessageDescriptor.h"
#include "filter/SessionLink.h"

#include <chrono>
#include <cstdio>

namespace {

// Saved messages are whole: nothing is ever fetched.
class SavedFiles : public SessionLink
{
public:
    long currentMessageSize() const override { return 0; }
    bool isCurrentHeaderOnly() const override { return false; }
    void fetchWholeMessage() override {}
};

} // namespace

int probabilityCommand(const std::vector<std::string>& paths)
{
    int rated = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        SavedFiles session;
        FilterContext context(&session);
        context.ratingOnly = true;
        const ContextRegistration registration(context);
        for (const std::string& path : paths) {
            std::vector<std::string> files;
            if (!messageFiles(path, files)) {
                std::fprintf(stderr, "quillfnc -probability: %s: not a file or a folder\n", path.c_str());
                continue;
            }
            for (const std::string& file : files) {
                MessageDescriptor descriptor;
                descriptor.path = file.c_str();
                context.currentMessage = &descriptor;
                context.message.reset(&descriptor);
                const int probability = learnedProbability(context);
                context.message.reset(nullptr);
                context.currentMessage = nullptr;
                std::printf("%s\t%d\n", file.c_str(), probability);
                ++rated;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("rated %d messages in %.2f s (%.0f msgs/s)\n", rated, seconds, seconds > 0 ? rated / seconds : 0.0);
    return rated > 0 ? 0 : 1;
}
