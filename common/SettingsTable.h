// SettingsTable: every value the program keeps in its settings store, with
// where it lives, its type, unit, default, range and meaning.
//
// This is the one place a setting's name and default are written: the
// proxy, the filter, the scanner, the settings window and the command line
// take them from here, and docs/settings.md is made from it
// (tools/settings_reference).  A per-band value ("Rating%d") is one row with
// the bands it exists for; its name is the row's name followed by the band
// number.  A Text default of "" may stand for a value worked out at run
// time, as the description says (the data folder's archive, for example).
#pragma once

#include "common/CommonExport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// In the order of the table's rows.
enum class Setting : uint8_t {
    // Proxy
    ListenPort, AllowOtherUsers, MaxSessions, AccountWait, SeparatorChar, UpstreamDeadline,
    TlsCAFile, TlsVerify, SecurityLibrary, MaxCollectionTime, CollectionReport, PopupStatus,
    // Log
    Logging, DebugLogging, ChunkLogging, TidyLogs, TidyLogDays,
    // Filter
    MaxSpamSize, RuleOrder, DisabledRules, ReportEmailAddress, Tidy, TidyDays, SystemReport,
    UserReport,
    // Rating bands
    Rating, AllowThrough, Subject, SubjectMacro, Archive, ArchivePath, CollectionEmail, Forward,
    ForwardSubject, ForwardAddress, ForwardMacro,
    // Anti-virus
    VirusEngine, Engine, Scan, ForwardToUser, Quarantine, QuarantinePath, MimeTypes, MacVirusCheck,
    PassLockedArchives, ScanArchives, UpdateEnabled, FullScan, UpdateFrom, UpdateSubject,
    UpdateCommand, SweepPath, LeaveWorkfile, ClamDatabase,
    // Desktop
    MainPosX, MainPosY, EditorPos, ListEditorPos, TestMessageFolder, ColourComment, ColourPreProc, ColourString,
    ColourLabel, ColourJump, ColourFunction, ColourIntVar, ColourStrVar, ColourKeyword, ColourText,
    // Kept by the program
    Configured, ConfigWizard, LastReportDay,
    // Installation
    SharedMode, ShowHelpId,
};

// Proxy: the hive "quilfpro" of the family chosen at start-up (the user's,
// or the shared one in shared mode).  Installation: the hive "quilfpro" of
// the installation-wide family.
enum class SettingStore : uint8_t { Proxy, Installation };

// Number: a decimal integer.  Flag: 1 or 0.  Character: the code of one
// printable character.  Text: a string.  List: strings, written on the
// command line separated by commas.
enum class SettingType : uint8_t { Number, Flag, Character, Text, List };

struct SettingInfo {
    Setting id;
    const char* group;
    SettingStore store;
    const char* key;             // "/" or "/antivirus"
    const char* name;
    SettingType type;
    long long defaultNumber;     // Number, Flag (1/0), Character (its code)
    const char* defaultText;     // Text; List: the items joined by ","
    long long minimum;           // Number and Character
    long long maximum;
    const char* unit;            // "" when none
    int firstBand;               // 0: not a per-band value
    int lastBand;
    int bandStep;                // Number per band: the default grows by this each band
    const char* description;
};

COMMONKIT_API const SettingInfo* settingsTable(size_t& count);
COMMONKIT_API const SettingInfo& settingInfo(Setting id);

// The stored name: "Rating3" for Setting::Rating and band 3.
COMMONKIT_API std::string settingName(Setting id, int band = 0);
// A Number, Flag or Character default (of that band).
COMMONKIT_API long long settingDefault(Setting id, int band = 0);
COMMONKIT_API const char* settingDefaultText(Setting id);
// settingDefault as the int that most readers keep.
inline int defaultOf(Setting id, int band = 0)
{
    return static_cast<int>(settingDefault(id, band));
}
COMMONKIT_API bool settingInRange(Setting id, long long value);
// The setting a user names ("listenport", "Rating3"; case does not
// matter), with its band in band (0 when not per band); null when no
// setting has that name or the band is not one of the row's.
COMMONKIT_API const SettingInfo* findSetting(std::string_view name, int& band);
