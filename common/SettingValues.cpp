#include "common/SettingValues.h"

#include "common/CEventLog.h"
#include "common/ProgramContext.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

bool readNumber(const CRegistry& reg, Setting id, int band, long long& value)
{
    int stored = 0;
    if (!reg.QueryValue(settingName(id, band).c_str(), stored) || !settingInRange(id, stored))
        return false;
    value = stored;
    return true;
}

// A whole decimal number, nothing before or after it.
bool parseNumber(const std::string& text, long long& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end != text.c_str() && *end == '\0' && (std::isdigit(static_cast<unsigned char>(text[0])) ||
                                                                 text[0] == '-');
}

bool parseFlag(const std::string& text, bool& value)
{
    for (const char* yes : {"1", "on", "yes", "true"})
        if (strcasecmp(text.c_str(), yes) == 0)
            return value = true, true;
    for (const char* no : {"0", "off", "no", "false"})
        if (strcasecmp(text.c_str(), no) == 0)
            return value = false, true;
    return false;
}

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t first = item.find_first_not_of(" \t");
        item = first == std::string::npos ? "" : item.substr(first, item.find_last_not_of(" \t") - first + 1);
        if (!item.empty())
            items.push_back(std::move(item));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return items;
}

std::string joinList(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

std::string shownNumber(const SettingInfo& info, long long value)
{
    if (info.type == SettingType::Character)
        return std::string(1, static_cast<char>(value));
    return std::to_string(value);
}

} // namespace

bool openSettingKey(CRegistry& reg, const SettingInfo& info, bool writeBack)
{
    const eRegKeyType family = info.store == SettingStore::Installation ? eRegSystem : programContext().settingsHive;
    return reg.CreateKey(family, "quilfpro", info.key, writeBack);
}

bool querySetting(const CRegistry& reg, Setting id, int& value, int band)
{
    long long number = 0;
    if (!readNumber(reg, id, band, number))
        return false;
    value = static_cast<int>(number);
    return true;
}

bool querySetting(const CRegistry& reg, Setting id, unsigned& value, int band)
{
    long long number = 0;
    if (!readNumber(reg, id, band, number) || number < 0)
        return false;
    value = static_cast<unsigned>(number);
    return true;
}

bool querySetting(const CRegistry& reg, Setting id, bool& value, int band)
{
    return reg.QueryValue(settingName(id, band).c_str(), value);
}

bool querySetting(const CRegistry& reg, Setting id, std::string& value, int band)
{
    return reg.QueryValue(settingName(id, band).c_str(), value);
}

bool querySetting(const CRegistry& reg, Setting id, std::vector<std::string>& value, int band)
{
    return reg.QueryValue(settingName(id, band).c_str(), value);
}

int settingNumber(const CRegistry& reg, Setting id, int band)
{
    int value = static_cast<int>(settingDefault(id, band));
    querySetting(reg, id, value, band);
    return value;
}

bool settingFlag(const CRegistry& reg, Setting id, int band)
{
    bool value = settingDefault(id, band) != 0;
    querySetting(reg, id, value, band);
    return value;
}

std::string settingText(const CRegistry& reg, Setting id, int band)
{
    std::string value = settingDefaultText(id);
    querySetting(reg, id, value, band);
    return value;
}

std::vector<std::string> settingDefaultList(Setting id)
{
    return splitList(settingDefaultText(id));
}

long long clampSetting(Setting id, long long value)
{
    const SettingInfo& info = settingInfo(id);
    return std::clamp(value, info.minimum, info.maximum);
}

bool storeSetting(CRegistry& reg, Setting id, long long value, int band)
{
    return reg.SetValue(settingName(id, band).c_str(), static_cast<int>(clampSetting(id, value)));
}

bool storeFlag(CRegistry& reg, Setting id, bool value, int band, bool asNumber)
{
    const std::string name = settingName(id, band);
    return asNumber ? reg.SetValue(name.c_str(), value ? 1 : 0) : reg.SetValue(name.c_str(), value);
}

bool storeSetting(CRegistry& reg, Setting id, const std::string& value, int band)
{
    return reg.SetValue(settingName(id, band).c_str(), value.c_str());
}

bool storeSetting(CRegistry& reg, Setting id, const std::vector<std::string>& value, int band)
{
    return reg.SetValue(settingName(id, band).c_str(), value);
}

uint32_t eventLogMask(int logging, bool debug)
{
    const uint32_t mask = logging == 1 ? 0x2007 : logging == 2 ? 0x2003 : 0x20C7;
    return debug ? mask | 1024 : mask;
}

void applyLogSettings()
{
    CRegistry reg;
    if (!openSettingKey(reg, settingInfo(Setting::Logging)))
        return;
    CEventLog::SetLogging(
        eventLogMask(settingNumber(reg, Setting::Logging), settingFlag(reg, Setting::DebugLogging)));
}

std::string settingDefaultShown(const SettingInfo& info, int band)
{
    switch (info.type) {
    case SettingType::Number:
    case SettingType::Flag:
    case SettingType::Character:
        return shownNumber(info, settingDefault(info.id, band));
    case SettingType::Text:
    case SettingType::List:
        break;
    }
    return settingDefaultText(info.id);
}

std::string settingShown(const CRegistry& reg, const SettingInfo& info, int band, bool& stored)
{
    switch (info.type) {
    case SettingType::Number:
    case SettingType::Character: {
        long long value = 0;
        stored = readNumber(reg, info.id, band, value);
        return stored ? shownNumber(info, value) : settingDefaultShown(info, band);
    }
    case SettingType::Flag: {
        bool value = false;
        stored = querySetting(reg, info.id, value, band);
        return stored ? (value ? "1" : "0") : settingDefaultShown(info, band);
    }
    case SettingType::Text: {
        std::string value;
        stored = querySetting(reg, info.id, value, band);
        return stored ? value : settingDefaultShown(info, band);
    }
    case SettingType::List: {
        std::vector<std::string> value;
        stored = querySetting(reg, info.id, value, band);
        return stored ? joinList(value) : settingDefaultShown(info, band);
    }
    }
    stored = false;
    return "";
}

bool storeSettingText(CRegistry* reg, const SettingInfo& info, int band, const std::string& text, std::string& error)
{
    const std::string name = settingName(info.id, band);
    auto refuse = [&](const std::string& why) {
        error = name + ": " + why;
        return false;
    };
    bool written = false;
    switch (info.type) {
    case SettingType::Number: {
        long long value = 0;
        if (!parseNumber(text, value))
            return refuse("\"" + text + "\" is not a whole number");
        if (!settingInRange(info.id, value))
            return refuse(std::to_string(value) + " is out of range (" + std::to_string(info.minimum) + " to " +
                          std::to_string(info.maximum) + ")");
        written = !reg || reg->SetValue(name.c_str(), static_cast<int>(value));
        break;
    }
    case SettingType::Character: {
        long long code = 0;
        if (text.size() == 1)
            code = static_cast<unsigned char>(text[0]);
        else if (!parseNumber(text, code))
            return refuse("\"" + text + "\" is not one character");
        if (!settingInRange(info.id, code))
            return refuse("the character must be a printable one other than a blank");
        written = !reg || reg->SetValue(name.c_str(), static_cast<int>(code));
        break;
    }
    case SettingType::Flag: {
        bool value = false;
        if (!parseFlag(text, value))
            return refuse("\"" + text + "\" is not 1 or 0 (on or off)");
        written = !reg || reg->SetValue(name.c_str(), value);
        break;
    }
    case SettingType::Text:
        if (text.find_first_of("\r\n") != std::string::npos)
            return refuse("a line break cannot be stored");
        written = !reg || reg->SetValue(name.c_str(), text.c_str());
        break;
    case SettingType::List:
        if (text.find_first_of("\r\n") != std::string::npos)
            return refuse("a line break cannot be stored");
        written = !reg || reg->SetValue(name.c_str(), splitList(text));
        break;
    }
    if (!written)
        return refuse("the settings store refused the value (too long)");
    return true;
}
