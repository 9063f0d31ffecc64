#include "filter/RuleSet.h"

#include "filter/FilterContext.h"

#include <utility>

namespace {

std::mutex latestMutex;

std::shared_ptr<RuleSet>& latest()
{
    static std::shared_ptr<RuleSet> set = std::make_shared<RuleSet>();
    return set;
}

} // namespace

RuleSet::~RuleSet()
{
    for (auto& [name, script] : rules.scripts)
        CloseScript(script);
}

std::shared_ptr<RuleSet> latestRuleSet()
{
    const std::lock_guard<std::mutex> lock(latestMutex);
    return latest();
}

void publishRuleSet(std::shared_ptr<RuleSet> set)
{
    std::shared_ptr<RuleSet> previous;
    {
        const std::lock_guard<std::mutex> lock(latestMutex);
        previous = std::exchange(latest(), std::move(set));
    }
    // The previous set, when no context holds it, goes here, outside the lock.
}

RuleSet& ruleSet()
{
    if (FilterContext* context = currentContext())
        return context->rules();
    const std::lock_guard<std::mutex> lock(latestMutex);
    return *latest();
}
