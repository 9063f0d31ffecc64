#include "app/SettingsCommand.h"

#include "common/CRegistry.h"
#include "common/SettingValues.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kUsageError = 2;

struct Named {
    const SettingInfo* info = nullptr;
    int band = 0;
};

bool lookUp(const std::string& name, Named& named)
{
    named.info = findSetting(name, named.band);
    if (named.info != nullptr)
        return true;
    std::fprintf(stderr, "quillfnc: no setting is called \"%s\" (quillfnc --settings lists them)\n", name.c_str());
    return false;
}

} // namespace

int getSettingCommand(const std::string& name)
{
    Named named;
    if (!lookUp(name, named))
        return kUsageError;
    CRegistry reg;
    if (!openSettingKey(reg, *named.info, false)) {
        std::fprintf(stderr, "quillfnc: the settings cannot be opened\n");
        return 1;
    }
    bool stored = false;
    std::printf("%s\n", settingShown(reg, *named.info, named.band, stored).c_str());
    return 0;
}

int listSettingsCommand()
{
    size_t count = 0;
    const SettingInfo* table = settingsTable(count);
    const char* group = "";
    for (size_t i = 0; i < count; ++i) {
        const SettingInfo& info = table[i];
        if (std::string(group) != info.group) {
            group = info.group;
            std::printf("%s# %s\n", i == 0 ? "" : "\n", group);
        }
        CRegistry reg;
        const bool opened = openSettingKey(reg, info, false);
        const int first = info.firstBand == 0 ? 0 : info.firstBand;
        const int last = info.firstBand == 0 ? 0 : info.lastBand;
        for (int band = first; band <= last; ++band) {
            bool stored = false;
            const std::string value = opened ? settingShown(reg, info, band, stored) : "";
            const std::string fallback = settingDefaultShown(info, band);
            std::printf("%s = %s", settingName(info.id, band).c_str(), value.c_str());
            if (stored && value != fallback)
                std::printf("    (default %s)", fallback.empty() ? "empty" : fallback.c_str());
            std::printf("\n");
        }
    }
    return 0;
}

int setSettingsCommand(const std::vector<std::string>& args)
{
    struct Change {
        Named named;
        std::string value;
    };
    std::vector<Change> changes;
    for (const std::string& arg : args) {
        const size_t equals = arg.find('=');
        Change change;
        if (equals == std::string::npos || equals == 0) {
            std::fprintf(stderr, "quillfnc: \"%s\" is not NAME=VALUE\n", arg.c_str());
            return kUsageError;
        }
        if (!lookUp(arg.substr(0, equals), change.named))
            return kUsageError;
        change.value = arg.substr(equals + 1);
        changes.push_back(std::move(change));
    }
    // Every value is checked before any is written, so that one bad value
    // leaves the settings untouched.
    for (const Change& change : changes) {
        std::string error;
        if (!storeSettingText(nullptr, *change.named.info, change.named.band, change.value, error)) {
            std::fprintf(stderr, "quillfnc: %s; nothing was changed\n", error.c_str());
            return kUsageError;
        }
    }
    std::vector<Hive*> written;
    for (const Change& change : changes) {
        CRegistry reg;
        std::string error;
        if (!openSettingKey(reg, *change.named.info, false) ||
            !storeSettingText(&reg, *change.named.info, change.named.band, change.value, error)) {
            std::fprintf(stderr, "quillfnc: the settings cannot be written%s%s\n", error.empty() ? "" : ": ",
                         error.c_str());
            return 1;
        }
        if (std::find(written.begin(), written.end(), reg.regKey()) == written.end())
            written.push_back(reg.regKey());
    }
    // On disk, or reported: a change left in memory would be lost.
    for (Hive* hive : written) {
        if (!hive->save() || hive->unsaved()) {
            std::fprintf(stderr, "quillfnc: the settings file %s could not be written (locked by another "
                                 "program?)\n",
                         hive->path().c_str());
            return 1;
        }
    }
    return 0;
}

