// settings_reference SHIPPED [REFERENCE]: writes docs/settings.md, the
// reference of every setting, from the program's settings table and the
// shipped settings file (data/default.dat).  With REFERENCE, compares
// instead and exits 1 when the file differs (the test that keeps the two in
// step).  Either way it checks the shipped file first: every value it holds
// must be a setting of the table, of its type and range, and differ from
// the table's default (a shipped value equal to the default would be a
// second place that states it).  Exit status 2: the shipped file is wrong.
#include "common/HiveFormat.h"
#include "common/SettingValues.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

namespace {

const char kIntroduction[] = R"(# Settings

Every setting of Quillfence Pro, with its default and range. This page is made
from the program's own table of settings (`common/SettingsTable.cpp`) by
`build/tools/settings_reference data/default.dat > docs/settings.md`; a test
fails when the two disagree.

## Where they are

| What | Where |
|---|---|
| your settings | `~/.local/share/Corvanta Ltd/config/quilfpro_usr.dat` (`$XDG_DATA_HOME/Corvanta Ltd/config/` when that variable is set) |
| settings in shared mode | `<common root>/config/quilfpro_usr.dat` |
| installation settings (`SharedMode`, `ShowHelpId`) | `<common root>/config/quilfpro_sys.dat` |
| rules, lists, archive, log | `~/.local/share/Corvanta Ltd/Quillfence Pro/` (`rules/`, `archive/`, `log/`) |

The common root is `$QUILLFENCE_COMMON_ROOT`, else `Application Data` in the
program's folder. The settings file is created from the shipped settings
(`default.dat` beside the program) the first time the program runs; the
"Shipped" column below gives the values that file changes.

## Reading and changing them

    quillfnc --settings                   every value, and its default when it differs
    quillfnc --get MaxSessions            one value
    quillfnc --set Logging=2 TidyLogs=1   one or more values

These work while the proxy runs, through the same lock as the settings
window; the proxy takes a change at its next connection (`ListenPort` at its
next start). A value of the wrong type or out of range is refused with a
message and exit status 2, and then nothing is written. Flags take 1 or 0
(also on/off, yes/no, true/false); lists are written with commas between the
items. The settings window changes the same values.

A per-band value exists once for each band: `Rating1` to `Rating4`,
`Subject1` to `Subject5` and so on; band 1 holds the lowest ratings. The
rating each rule adds lives beside them, under the key `/priority`, one value
per rule in tenths of a point; the rules page of the settings window edits it.

Values under the key `/antivirus` are marked so in the tables below; all
others are at the top key `/`.
)";

const char* typeName(SettingType type)
{
    switch (type) {
    case SettingType::Number: return "number";
    case SettingType::Flag: return "flag";
    case SettingType::Character: return "character";
    case SettingType::Text: return "text";
    case SettingType::List: return "list";
    }
    return "";
}

std::string rowName(const SettingInfo& info)
{
    std::string name = info.name;
    if (info.firstBand != 0)
        name += std::to_string(info.firstBand) + "` to `" + info.name + std::to_string(info.lastBand);
    return "`" + name + "`";
}

// The default as --settings shows it (every band's when they differ),
// quoted where it is text.
std::string shownDefault(const SettingInfo& info)
{
    const bool eachBand = info.bandStep != 0;
    std::string all;
    for (int band = eachBand ? info.firstBand : 0; band <= (eachBand ? info.lastBand : 0); ++band)
        all += (all.empty() ? "" : ", ") + settingDefaultShown(info, band);
    if (info.type == SettingType::Number || info.type == SettingType::Flag)
        return all;
    return all.empty() ? "empty" : "`" + all + "`";
}

std::string shownRange(const SettingInfo& info)
{
    if (info.type != SettingType::Number)
        return "";
    std::string range = std::to_string(info.minimum) + " to " + std::to_string(info.maximum);
    if (*info.unit != '\0')
        range += " " + std::string(info.unit);
    return range;
}

// The text |, as a table cell needs it.
std::string cell(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '|' ? std::string("\\|") : std::string(1, c);
    return out;
}

struct ShippedValue {
    std::string name;   // as written in the file
    std::string shown;
};

// The shipped file's values by setting row and band; false (with the
// reasons on standard error) when one is not as it must be.
bool readShipped(const std::string& path, std::map<std::pair<Setting, int>, ShippedValue>& shipped)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream data;
    data << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "settings_reference: cannot read %s\n", path.c_str());
        return false;
    }
    const hiveformat::Parsed parsed = hiveformat::parseHive(data.str());
    if (!parsed.whole) {
        std::fprintf(stderr, "settings_reference: %s is not a whole settings file\n", path.c_str());
        return false;
    }
    bool good = true;
    for (const auto& [entryPath, value] : parsed.entries) {
        if (value.empty())
            continue;   // a key
        const size_t slash = entryPath.rfind('/');
        const std::string key = slash == 0 ? "/" : entryPath.substr(0, slash);
        int band = 0;
        const SettingInfo* info = findSetting(entryPath.substr(slash + 1), band);
        if (info == nullptr || hiveformat::upperPath(info->key) != key) {
            std::fprintf(stderr, "settings_reference: %s: %s is no setting\n", path.c_str(), entryPath.c_str());
            good = false;
            continue;
        }
        ShippedValue item{settingName(info->id, band), value};
        bool same = false;
        switch (info->type) {
        case SettingType::Number:
        case SettingType::Character:
        case SettingType::Flag: {
            char* end = nullptr;
            const long long number = std::strtoll(value.c_str(), &end, 10);
            const bool readable = end != value.c_str() && *end == '\0' &&
                                  (info->type != SettingType::Flag || number == 0 || number == 1);
            if (!readable || !settingInRange(info->id, number)) {
                std::fprintf(stderr, "settings_reference: %s: %s = %s is out of range\n", path.c_str(),
                             entryPath.c_str(), value.c_str());
                good = false;
            }
            same = number == settingDefault(info->id, band);
            item.shown = info->type == SettingType::Character ? std::string(1, static_cast<char>(number)) : value;
            break;
        }
        case SettingType::Text:
        case SettingType::List:
            hiveformat::decode(value, item.shown);
            same = info->type == SettingType::Text && item.shown == settingDefaultText(info->id);
            break;
        }
        if (same) {
            std::fprintf(stderr, "settings_reference: %s: %s is shipped as its default\n", path.c_str(),
                         entryPath.c_str());
            good = false;
        }
        shipped[{info->id, band}] = item;
    }
    return good;
}

std::string reference(const std::map<std::pair<Setting, int>, ShippedValue>& shipped)
{
    std::string out = kIntroduction;
    size_t count = 0;
    const SettingInfo* table = settingsTable(count);
    std::string group;
    for (size_t i = 0; i < count; ++i) {
        const SettingInfo& info = table[i];
        if (group != info.group) {
            group = info.group;
            out += "\n## " + group + "\n\n| Name | Type | Default | Shipped | Range | Meaning |\n|---|---|---|---|---|---|\n";
        }
        std::string shippedText;
        for (const auto& [where, value] : shipped)
            if (where.first == info.id)
                shippedText += (shippedText.empty() ? "" : ", ") + std::string("`") + value.name + "` " + value.shown;
        std::string meaning = info.description;
        if (info.type != SettingType::Number && *info.unit != '\0')
            meaning += " (" + std::string(info.unit) + ")";
        if (std::string(info.key) != "/")
            meaning += "; key `" + std::string(info.key) + "`";
        out += "| " + rowName(info) + " | " + typeName(info.type) + " | " + cell(shownDefault(info)) + " | " +
               cell(shippedText) + " | " + shownRange(info) + " | " + cell(meaning) + " |\n";
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: settings_reference SHIPPED [REFERENCE]\n");
        return 2;
    }
    std::map<std::pair<Setting, int>, ShippedValue> shipped;
    if (!readShipped(argv[1], shipped))
        return 2;
    const std::string text = reference(shipped);
    if (argc == 2) {
        std::cout << text;
        return 0;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream current;
    current << in.rdbuf();
    if (current.str() != text) {
        std::fprintf(stderr,
                     "settings_reference: %s is not what the settings table gives; make it again with\n"
                     "  build/tools/settings_reference data/default.dat > docs/settings.md\n",
                     argv[2]);
        return 1;
    }
    return 0;
}
