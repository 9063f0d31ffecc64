#include "filter/RuleStore.h"

#include "filter/FilterSettings.h"
#include "filter/ListStore.h"
#include "filter/RuleSet.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/ProgramContext.h"

#include <sys/file.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <strings.h>

namespace {

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The first white-space-separated word of line.
std::string firstWord(const std::string& line)
{
    size_t start = 0;
    while (start < line.size() && isBlank(line[start]))
        ++start;
    size_t end = start;
    while (end < line.size() && !isBlank(line[end]))
        ++end;
    return line.substr(start, end - start);
}

// A whole file, read while other writers are kept out; false when it
// cannot be opened.
bool readShared(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream data;
    data << in.rdbuf();
    text = data.str();
    return true;
}

} // namespace

RuleStore& ruleStore()
{
    return ruleSet().rules;
}

HSCRIPT RuleStore::script(const std::string& name) const
{
    auto it = scripts.find(name);
    return it == scripts.end() ? nullptr : it->second;
}

int RuleStore::rating(const std::string& name, int fallback) const
{
    auto it = ratings.find(upper(name));
    return it == ratings.end() ? fallback : it->second;
}

void decodePercent(std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        int value = 0, digits = 0;
        while (digits < 2 && i + 1 + digits < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 1 + digits]))) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1 + digits])));
            value = value * 16 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10);
            ++digits;
        }
        out += digits == 0 ? 'x' : static_cast<char>(value);
        // "%" and the two characters after it (as many as there are).
        i += std::min<size_t>(2, text.size() - i - 1);
    }
    text = out;
}

bool isRuleLine(const std::string& line)
{
    return ::strcasecmp(firstWord(line).c_str(), "#rule") == 0;
}

bool isEndRuleLine(const std::string& line)
{
    return ::strcasecmp(firstWord(line).c_str(), "#endrule") == 0;
}

bool readRuleLine(const std::string& line, std::string& name, int& rating)
{
    const size_t keyword = line.find_first_not_of(" \t");
    if (keyword == std::string::npos || !isRuleLine(line))
        return false;
    const std::string rest = line.substr(keyword + 5);
    // The name: the first piece between double quotes that is not blank.
    size_t after = std::string::npos;
    size_t pos = 0;
    for (;;) {
        const size_t quote = rest.find('"', pos);
        const std::string piece = rest.substr(pos, quote == std::string::npos ? std::string::npos : quote - pos);
        if (piece.find_first_not_of(" \t\r\n") != std::string::npos) {
            name = piece.substr(piece.find_first_not_of(" \t\r\n"));
            after = quote == std::string::npos ? rest.size() : quote + 1;
            break;
        }
        if (quote == std::string::npos)
            break;
        pos = quote + 1;
    }
    if (after == std::string::npos)
        return false;
    decodePercent(name);
    rating = 50;
    const std::string token = firstWord(rest.substr(after));
    if (!token.empty()) {
        const long value = std::strtol(token.c_str(), nullptr, 10);
        rating = (value < 0 || value > 100) ? 50 : static_cast<int>(value);
    }
    return true;
}

std::string encodePercent(const std::string& name)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '"' || c == '%' || c == '/') {
            out += '%';
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[static_cast<unsigned char>(c) & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

void freeRules()
{
    const std::shared_ptr<RuleSet> latest = latestRuleSet();
    auto empty = std::make_shared<RuleSet>();
    empty->settings = latest->settings;
    empty->rules.order = latest->rules.order;
    empty->rules.ratings = latest->rules.ratings;
    publishRuleSet(std::move(empty));
}

void parseRuleFile(RuleStore& store, std::istream& file, const std::string& include,
                   const std::vector<std::string>& disabled)
{
    std::string line;
    // std::getline reads a physical line whole, however long: no piece of
    // a long line can pass for a "#rule" or "#endrule" line.
    while (std::getline(file, line)) {
        if (!isRuleLine(line))
            continue;
        std::string name;
        int rating = 50;
        if (!readRuleLine(line, name, rating)) {
            CEventLog().LogEvent(1, "Missing name for #rule statement");
            continue;
        }
        store.ratings[upper(name)] = rating;

        std::string text = include;
        while (std::getline(file, line)) {
            if (isEndRuleLine(line))
                break;
            text += line;
            text += '\n';
        }
        if (name.empty())
            continue;
        bool isDisabled = false;
        for (const std::string& entry : disabled)
            isDisabled = isDisabled || entry == name;
        if (isDisabled)
            continue;
        store.names.push_back(name);
        store.texts.push_back(std::move(text));
    }
}

std::shared_ptr<RuleSet> loadRules()
{
    // One load at a time: each reads the latest and replaces it.
    static std::mutex loading;
    const std::lock_guard<std::mutex> lock(loading);
    auto set = std::make_shared<RuleSet>();
    try {
        const std::shared_ptr<RuleSet> latest = latestRuleSet();
        RuleStore& store = set->rules;
        FilterSettings& settings = set->settings;
        {
            const std::lock_guard<std::mutex> copying(writtenSettingsMutex());
            settings = latest->settings;
        }
        store.ratings = latest->rules.ratings;
        const std::string& root = programContext().dataRoot;
        settings.load(root);

        std::string include;
        const std::string includePath = root + "/rules/spamfltr.inc";
        if (!readShared(includePath, include))
            CEventLog().LogEvent(1, "Unable to open %s", includePath.c_str());
        for (const char* file : {"system.sfr", "user.sfr"}) {
            const std::string path = root + "/rules/" + file;
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                if (std::string(file) == "system.sfr")
                    CEventLog().LogEvent(1, "Unable to open %s", path.c_str());
                continue;
            }
            CEventLog().LogEvent(4, "Parsing %s", path.c_str());
            parseRuleFile(store, in, include, settings.disabledRules);
        }

        store.order = settings.ruleOrder;
        for (const std::string& name : store.names) {
            bool listed = false;
            for (const std::string& entry : store.order)
                listed = listed || ::strcasecmp(entry.c_str(), name.c_str()) == 0;
            if (!listed)
                store.order.push_back(name);
        }

        CRegistry priorities;
        if (priorities.OpenKey(programContext().settingsHive, "quilfpro", "/PRIORITY", false)) {
            std::string valueName;
            unsigned long type = 0;
            for (unsigned long i = 0; priorities.EnumValue(i, valueName, type); ++i) {
                unsigned int rating = 0;
                if (!priorities.QueryValue(valueName.c_str(), rating))
                    continue;
                std::string decoded = valueName;
                decodePercent(decoded);
                store.ratings[upper(decoded)] = static_cast<int>(rating);
            }
        }

        for (size_t i = 0; i < store.names.size(); ++i) {
            const std::string& name = store.names[i];
            HSCRIPT script = CreateScript();
            if (script && ParseScript(script, store.texts[i].c_str())) {
                auto& slot = store.scripts[name];
                CloseScript(slot);   // a later rule of the same name replaces it
                slot = script;
                if (settings.debugLogging)
                    CEventLog().LogEvent(kDebugLevel, "Initialised rule '%s'", name.c_str());
            } else {
                const char* message = "";
                int line = 0;
                if (script)
                    GetError(script, &message, &line, nullptr, nullptr);
                CEventLog().LogEvent(1, "Rule '%s' not initialised", name.c_str());
                CEventLog().LogEvent(1, "Rule '%s': %s (line %d)", name.c_str(), message ? message : "", line);
                CloseScript(script);
            }
        }
    } catch (...) {
        DebugX("filter", __LINE__);
    }
    publishRuleSet(set);
    return set;
}
