// Every value of the settings table (each band of a per-band row), and a
// valid text for each that differs from its default: for tests that send
// every setting through a way of storing it and back.
#pragma once

#include "common/SettingValues.h"

#include <string>
#include <vector>

struct SettingSample {
    const SettingInfo* info;
    int band;

    std::string name() const { return settingName(info->id, band); }

    // A valid text of the value other than its default, as --set takes it
    // and --get prints it.
    std::string otherText() const
    {
        const long long def = settingDefault(info->id, band);
        switch (info->type) {
        case SettingType::Number:
            return std::to_string(def < info->maximum ? def + 1 : def - 1);
        case SettingType::Flag:
            return def != 0 ? "0" : "1";
        case SettingType::Character:
            return def == '#' ? "%" : "#";
        case SettingType::Text:
            return "a \"quoted\" 100% text, " + name();
        case SettingType::List:
            return "first,second item,third";
        }
        return "";
    }
};

inline std::vector<SettingSample> everySetting()
{
    std::vector<SettingSample> all;
    size_t count = 0;
    const SettingInfo* table = settingsTable(count);
    for (size_t i = 0; i < count; ++i) {
        if (table[i].firstBand == 0)
            all.push_back({&table[i], 0});
        for (int band = table[i].firstBand; band != 0 && band <= table[i].lastBand; ++band)
            all.push_back({&table[i], band});
    }
    return all;
}
