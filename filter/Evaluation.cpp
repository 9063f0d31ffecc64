#include "filter/Evaluation.h"

#include "filter/Archive.h"
#include "filter/BandActions.h"
#include "filter/FilterSettings.h"
#include "filter/RuleStore.h"

#include "common/CEventLog.h"

#include <cctype>
#include <cstdio>

namespace {

std::string formatLine(const char* format, const std::string& name, const std::string& sender, double total)
{
    char line[2048];
    std::snprintf(line, sizeof line, format, name.c_str(), sender.c_str(), total);
    return line;
}

// A rule that failed or ran out of steps decides nothing; why is logged.
void runRule(FilterContext& context, HSCRIPT script, const std::string& name)
{
    ResetScript(script);
    if (RunScript(script))
        return;
    const char* message = "";
    int line = 0;
    GetError(script, &message, &line, nullptr, nullptr);
    CEventLog().LogEvent(1, "Rule '%s' failed: %s (line %d)", name.c_str(), message ? message : "", line);
    context.isSpam = false;
    context.isOk = false;
    context.stopChecking = false;
}

class RuleJudge : public MessageJudge
{
public:
    bool judge(FilterContext& context, const MessageDescriptor& message, int size) override
    {
        return evaluate(context, message, size);
    }
};

} // namespace

MessageJudge& ruleJudge()
{
    static RuleJudge judge;
    return judge;
}

bool evaluate(FilterContext& context, const MessageDescriptor& message, int size)
{
    try {
        const FilterSettings& settings = filterSettings();
        const RuleStore& store = ruleStore();
        context.stopChecking = false;
        context.currentMessage = &message;
        double total = 0.0;
        bool decided = false;
        context.message.reset(&message);
        context.message.clearUserMacros();
        context.decisionHeaders.clear();
        context.headerNotes.clear();
        context.reportText.clear();
        context.isOk = false;
        context.isSpam = false;
        context.keptUnarchived = false;
        context.spoolDamaged = false;

        if (size > settings.sizeLimit) {
            CEventLog().LogEvent(4, "Large message, skipping scanning phase");
        } else {
            CEventLog().LogEvent(kDebugLevel, "Checking %s against rules", message.path ? message.path : "");
            std::string sender;
            bool wholeOrder = true;
            bool maxReached = false;
            for (const std::string& name : store.order) {
                if (context.stopChecking) {
                    wholeOrder = false;
                    break;
                }
                int rating = 50;
                context.isOk = false;
                context.isSpam = false;
                context.decisionDetails.clear();
                CEventLog().LogEvent(kDebugLevel, "%s", name.c_str());
                if (HSCRIPT script = store.script(name)) {
                    CEventLog().LogEvent(kDebugLevel, "Running %s", name.c_str());
                    rating = store.rating(name);
                    context.message.selectSegment(1);
                    context.addressCopy.clear();
                    context.addressCursor = std::string::npos;
                    context.ruleRating = rating;
                    runRule(context, script, name);
                    rating = context.ruleRating;
                }
                context.currentRule = name;
                if (context.isSpam) {
                    context.getFromAddress(sender);
                    total += rating * kPointsPerTenth;
                    const std::string line = formatLine("Rule '%s' detected spam from %s, rating total %.1f", name,
                                                        sender, total < kMaxTotal ? total : kMaxTotal);
                    context.addDecision(line);
                    CEventLog().LogEvent(4, "%s", line.c_str());
                    decided = true;
                    if (total >= kMaxTotal) {
                        total = kMaxTotal;
                        context.decisionDetails.clear();
                        context.addDecision("Max spam rating reached, skipping further rules");
                        CEventLog().LogEvent(4, "Max spam rating reached, skipping further rules");
                        maxReached = true;
                        break;
                    }
                }
                if (context.isOk) {
                    context.getFromAddress(sender);
                    const std::string line = formatLine("Rule '%s' detected message from %s OK", name, sender, 0.0);
                    context.addDecision(line);
                    CEventLog().LogEvent(4, "%s", line.c_str());
                    total = 0.0;
                    decided = true;
                    wholeOrder = false;
                    break;
                }
            }
            if (!maxReached && total == 0.0 && !context.isOk && wholeOrder)
                CEventLog().LogEvent(4, "No rules matched");
        }

        const double shown = total == 0.0 ? 0.1 : total;
        const int band = settings.bandOf(total);
        context.lastTotal = total;
        context.lastBand = band;
        bool allowThrough = settings.bands[band].allowThrough;
        if (!context.ratingOnly) {
            if (decided)
                writeReportEntry(context, static_cast<float>(shown), band);
            // A spool that a failed rewrite damaged (or the restore of a
            // failed whole fetch) is no copy to archive: the message stays
            // on the server, relayed from there.
            if (!rewriteSubject(context, message, band))
                context.spoolDamaged = true;
            if (context.spoolDamaged) {
                allowThrough = true;
            } else if (!archiveMessage(context, message, band, !allowThrough) && !allowThrough) {
                // A message of a band that archives is deleted only when
                // its whole copy is staged; else it is delivered, marked as
                // its band says, and judged again next time.
                CEventLog().LogEvent(1, "No whole archive copy of %s: the message stays on the server",
                                     message.path ? message.path : "");
                noteKeptOnServer(context, shown, band);
                context.keptUnarchived = true;
                allowThrough = true;
            }
        }
        context.message.closeFile();
        context.closeOpenFiles();
        return allowThrough;
    } catch (...) {
        DebugX("filter", __LINE__);
        context.message.closeFile();
        context.closeOpenFiles();
        return true;
    }
}

void runSingleScript(FilterContext& context, const MessageDescriptor& message, HSCRIPT script, int rating)
{
    context.currentMessage = &message;
    context.message.reset(&message);
    context.message.clearUserMacros();
    context.decisionHeaders.clear();
    context.headerNotes.clear();
    context.reportText.clear();
    ResetScript(script);
    context.ruleRating = rating;
    RunScript(script);
}
