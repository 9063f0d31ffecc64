// SettingValues: reading and writing the settings of SettingsTable through
// the settings store, by the table's names, types and ranges.
//
// querySetting leaves its target unchanged, and returns false, when the
// value is missing, cannot be read as the row's type, or (Number and
// Character) lies outside the row's range: a value edited by hand into
// nonsense counts as missing, so the default stays in force.  The setting*
// readers return the default then.  The text forms are those of the
// command line: a Number in decimal, a Flag as 1 or 0 (on/off, yes/no and
// true/false are read too), a Character as itself (or its decimal code),
// a List as its items separated by commas.
#pragma once

#include "common/CRegistry.h"
#include "common/CommonExport.h"
#include "common/SettingsTable.h"

#include <cstdint>
#include <string>
#include <vector>

// Opens the row's key in its hive: the proxy's settings hive of the family
// chosen at start-up (programContext), or the installation's.
COMMONKIT_API bool openSettingKey(CRegistry& reg, const SettingInfo& info, bool writeBack = true);

COMMONKIT_API bool querySetting(const CRegistry& reg, Setting id, int& value, int band = 0);
COMMONKIT_API bool querySetting(const CRegistry& reg, Setting id, unsigned& value, int band = 0);
COMMONKIT_API bool querySetting(const CRegistry& reg, Setting id, bool& value, int band = 0);
COMMONKIT_API bool querySetting(const CRegistry& reg, Setting id, std::string& value, int band = 0);
COMMONKIT_API bool querySetting(const CRegistry& reg, Setting id, std::vector<std::string>& value, int band = 0);

COMMONKIT_API int settingNumber(const CRegistry& reg, Setting id, int band = 0);
COMMONKIT_API bool settingFlag(const CRegistry& reg, Setting id, int band = 0);
COMMONKIT_API std::string settingText(const CRegistry& reg, Setting id, int band = 0);
// A List row's default items.
COMMONKIT_API std::vector<std::string> settingDefaultList(Setting id);

// A Number written clamped into the row's range, as the settings pages
// store what was typed; a Flag as "1"/"0" or, with asNumber, "%d" (the form
// the settings pages write).  False when the store refused the write.
COMMONKIT_API bool storeSetting(CRegistry& reg, Setting id, long long value, int band = 0);
COMMONKIT_API bool storeFlag(CRegistry& reg, Setting id, bool value, int band = 0, bool asNumber = false);
COMMONKIT_API bool storeSetting(CRegistry& reg, Setting id, const std::string& value, int band = 0);
COMMONKIT_API bool storeSetting(CRegistry& reg, Setting id, const std::vector<std::string>& value, int band = 0);

COMMONKIT_API long long clampSetting(Setting id, long long value);

// Sets the event log's levels from Logging and DebugLogging: Logging 0
// (or a value out of range) errors, warnings, information and traffic, 1
// without the traffic, 2 errors and warnings only; DebugLogging adds the
// debug level (1024) to any of them.
COMMONKIT_API uint32_t eventLogMask(int logging, bool debug);
COMMONKIT_API void applyLogSettings();

// The command line's text of the stored value, or of the default when none
// is stored (or it is unreadable); stored says which.
COMMONKIT_API std::string settingShown(const CRegistry& reg, const SettingInfo& info, int band, bool& stored);
COMMONKIT_API std::string settingDefaultShown(const SettingInfo& info, int band);
// Checks text against the row's type and range and, only when it passes
// and reg is not null, stores it.  False with a one-line reason in error
// otherwise; nothing is written then.
COMMONKIT_API bool storeSettingText(CRegistry* reg, const SettingInfo& info, int band, const std::string& text,
                                    std::string& error);
