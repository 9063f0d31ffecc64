// RuleStore: the rules of the process, loaded from "system.sfr" and then
// "user.sfr" in the data root's rules folder, each compiled with the
// include file "spamfltr.inc" in front of it.
//
// A rule file is text; outside rule blocks every line is ignored.  A block
// starts at a line whose first word is "#rule" (any case) followed by the
// rule's name in double quotes and an optional rating (tenths, 0 to 100,
// else 50), and ends before the first line whose first word is "#endrule"
// or at the end of the file.  Lines are read whole, however long.  Names
// may hold %xx escapes.  Rules named in DisabledRules (exact case) are
// dropped; a later rule of the same name replaces an earlier one's script
// and rating.  The order they run in is RuleOrder, completed (ignoring
// case) with every rule it does not name; ratings set by the user live
// under the key "/PRIORITY".
//
// Each load makes a new store in a RuleSet of its own (RuleSet.h); a
// session reads the one its context holds, without a lock.
#pragma once

#include "scriptkit/ScriptKit.h"

#include <istream>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct RuleStore {
    std::vector<std::string> names;   // parsed and not disabled, file order
    std::vector<std::string> texts;   // include text + body, parallel to names
    std::vector<std::string> order;
    std::map<std::string, HSCRIPT> scripts;   // exact name -> compiled script
    std::map<std::string, int> ratings;       // upper-cased name -> tenths

    // The compiled script of name, or null.
    HSCRIPT script(const std::string& name) const;
    // The rating of name (any case), or fallback.
    int rating(const std::string& name, int fallback = 50) const;
};

struct RuleSet;

// The rules of the calling thread's set (ruleSet()).
RuleStore& ruleStore();

// The reload: a new set, its settings, include file, both rule files,
// order, ratings, compilation; made the latest and returned.  Settings
// missing from the store, and ratings, keep what the latest load had.
// Every failure is logged and loading goes on.  Loads run one at a time.
std::shared_ptr<RuleSet> loadRules();
// Makes the latest set one without rules (order, ratings and settings
// stay); sets still held by contexts live on until they end.
void freeRules();
// Appends the rules of one rule file to store.
void parseRuleFile(RuleStore& store, std::istream& file, const std::string& include,
                   const std::vector<std::string>& disabled);
// "%xx" becomes the byte of hex xx (one or two digits), "%" before a
// non-hex character becomes 'x'; never reads past the end.
void decodePercent(std::string& text);
// Double quote, "%" and "/" become "%" and two lowercase hex digits: rule
// names as "#rule" lines and the rating value names under "/PRIORITY"
// hold them.  decodePercent undoes it.
std::string encodePercent(const std::string& name);
// The first word of line is "#rule" / "#endrule" (any case).
bool isRuleLine(const std::string& line);
bool isEndRuleLine(const std::string& line);
// A "#rule" line's name (decoded) and rating (tenths; 50 when missing or
// outside 0 to 100).  False when line is not a "#rule" line or names no
// rule.
bool readRuleLine(const std::string& line, std::string& name, int& rating);
