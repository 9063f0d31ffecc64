// RuleSet: one load of the filter's rules, their settings and the caches of
// the lists they read.  Every session judges with the set loaded when it
// began (its filter context holds it), so a reload for a new session never
// changes what a running one sees: sets are shared and freed when the last
// holder lets go, which closes their compiled scripts.
//
// A set is read-only once loaded, but for its list caches (locked) and the
// day of the last daily tidy (under writtenSettingsMutex()).  Its compiled scripts are run by one thread at
// a time: each session has a set of its own, and the set of a command or of
// the rule editor's test is used on that one thread.
#pragma once

#include "filter/FilterSettings.h"
#include "filter/ListStore.h"
#include "filter/RuleStore.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

// The lists one set has loaded, keyed by upper-cased name; a pattern list
// and a word list of the same name are different lists.
struct ListCaches {
    std::map<std::string, PatternList> patterns;
    std::map<std::string, WordList> words;
    std::set<std::string> patternsNotFound;
    std::set<std::string> wordsNotFound;
    std::mutex mutex;
};

struct RuleSet {
    RuleSet() = default;
    ~RuleSet();
    RuleSet(const RuleSet&) = delete;
    RuleSet& operator=(const RuleSet&) = delete;

    RuleStore rules;
    FilterSettings settings;
    ListCaches lists;
};

// The set the calling thread judges with: that of the filter context
// registered for it, else the latest load.  The latest is replaced by every
// load, so a thread without a context (a command, a test) must not hold the
// reference across another thread's load.
RuleSet& ruleSet();
// The latest load (an empty set before the first).
std::shared_ptr<RuleSet> latestRuleSet();
// Makes set the latest.
void publishRuleSet(std::shared_ptr<RuleSet> set);
