#include "common/SettingsTable.h"

#include <strings.h>

#include <cstdlib>

namespace {

using S = Setting;
using T = SettingType;
constexpr SettingStore kProxy = SettingStore::Proxy;
constexpr SettingStore kInstallation = SettingStore::Installation;
constexpr long long kNoLimit = 0;

// Row makers: a number with its range and unit, a flag, a text, a list.
constexpr SettingInfo number(S id, const char* group, const char* name, long long def, long long lo, long long hi,
                             const char* unit, const char* description, const char* key = "/")
{
    return {id, group, kProxy, key, name, T::Number, def, nullptr, lo, hi, unit, 0, 0, 0, description};
}

constexpr SettingInfo flag(S id, const char* group, const char* name, bool def, const char* description,
                           const char* key = "/")
{
    return {id, group, kProxy, key, name, T::Flag, def ? 1 : 0, nullptr, 0, 1, "", 0, 0, 0, description};
}

constexpr SettingInfo text(S id, const char* group, const char* name, const char* def, const char* description,
                           const char* key = "/")
{
    return {id, group, kProxy, key, name, T::Text, 0, def, kNoLimit, kNoLimit, "", 0, 0, 0, description};
}

constexpr SettingInfo list(S id, const char* group, const char* name, const char* def, const char* description,
                           const char* key = "/")
{
    return {id, group, kProxy, key, name, T::List, 0, def, kNoLimit, kNoLimit, "", 0, 0, 0, description};
}

constexpr SettingInfo perBand(SettingInfo row, int last = 5, int step = 0)
{
    row.firstBand = 1;
    row.lastBand = last;
    row.bandStep = step;
    return row;
}

constexpr SettingInfo installation(SettingInfo row)
{
    row.store = kInstallation;
    return row;
}

constexpr SettingInfo character(S id, const char* group, const char* name, char def, const char* description)
{
    return {id, group, kProxy, "/", name, T::Character, def, nullptr, 33, 126, "", 0, 0, 0, description};
}

constexpr const char* kProxyGroup = "Proxy";
constexpr const char* kLogGroup = "Log";
constexpr const char* kFilterGroup = "Filter";
constexpr const char* kBandGroup = "Rating bands";
constexpr const char* kVirusGroup = "Anti-virus";
constexpr const char* kDesktopGroup = "Desktop";
constexpr const char* kKeptGroup = "Kept by the program";
constexpr const char* kInstallationGroup = "Installation";
constexpr const char* kVirusKey = "/antivirus";
constexpr long long kColour = 0xFFFFFF;

constexpr SettingInfo kTable[] = {
    number(S::ListenPort, kProxyGroup, "ListenPort", 110, 1, 65535, "",
           "TCP port on 127.0.0.1 that mail clients connect to; a change takes effect at the next start"),
    flag(S::AllowOtherUsers, kProxyGroup, "AllowOtherUsers", false,
         "Serve connections of other local users too (off: only the user running the proxy)"),
    number(S::MaxSessions, kProxyGroup, "MaxSessions", 8, 1, 256, "",
           "Sessions served side by side; a client beyond them is told to try again later"),
    number(S::AccountWait, kProxyGroup, "AccountWait", 20, 0, 600, "seconds",
           "How long a login waits for another session of the same account before \"-ERR [IN-USE]\""),
    character(S::SeparatorChar, kProxyGroup, "SeparatorChar", '@',
              "Character between user name and server in the login name (name@server)"),
    number(S::UpstreamDeadline, kProxyGroup, "UpstreamDeadline", 60, 1, 3600, "seconds",
           "Longest time for connecting to the mail server, TLS and the login together"),
    text(S::TlsCAFile, kProxyGroup, "TlsCAFile", "",
         "File of certificate authorities for upstream TLS; empty: the system's"),
    flag(S::TlsVerify, kProxyGroup, "TlsVerify", true, "Check the mail server's certificate and name on TLS"),
    text(S::SecurityLibrary, kProxyGroup, "SecurityLibrary", "",
         "Library offering the MSN security package for \"$MSN\" logins; empty: none"),
    number(S::MaxCollectionTime, kProxyGroup, "MaxCollectionTime", 0, 0, 600, "seconds",
           "Longest time a collection of new mail may take before the rest waits for the next one; 0: no limit"),
    flag(S::CollectionReport, kProxyGroup, "CollectionReport", true,
         "Add a report message listing what the filter did to the mailbox"),
    flag(S::PopupStatus, kProxyGroup, "PopupStatus", true, "Show the status popup while a session runs"),

    number(S::Logging, kLogGroup, "Logging", 0, 0, 2, "",
           "0: errors, warnings, information and every line exchanged with client and server (passwords "
           "masked); 1: without that traffic; 2: errors and warnings only"),
    flag(S::DebugLogging, kLogGroup, "DebugLogging", false,
         "Also log the details of each rule run on each message"),
    flag(S::ChunkLogging, kLogGroup, "ChunkLogging", false, "Also log how each message's MIME parts are read"),
    flag(S::TidyLogs, kLogGroup, "TidyLogs", false, "Delete old log files at the end of a session"),
    number(S::TidyLogDays, kLogGroup, "TidyLogDays", 7, 1, 999, "days", "Age of the log files TidyLogs deletes"),

    number(S::MaxSpamSize, kFilterGroup, "MaxSpamSize", 30, 1, 32000, "kilobytes",
           "Messages larger than this are not judged by the rules"),
    list(S::RuleOrder, kFilterGroup, "RuleOrder", "", "Order in which the rules run (rule names)"),
    list(S::DisabledRules, kFilterGroup, "DisabledRules", "", "Rules that do not run (rule names)"),
    text(S::ReportEmailAddress, kFilterGroup, "ReportEmailAddress", "",
         "Default forward address of the rating bands"),
    flag(S::Tidy, kFilterGroup, "Tidy", false, "Delete old archive day files once a day"),
    number(S::TidyDays, kFilterGroup, "TidyDays", 7, 1, 999, "days", "Age of the archive day files Tidy deletes"),
    flag(S::SystemReport, kFilterGroup, "SystemReport", true, "Kept for the settings pages; no step acts on it"),
    flag(S::UserReport, kFilterGroup, "UserReport", true, "Kept for the settings pages; no step acts on it"),

    perBand(number(S::Rating, kBandGroup, "Rating", 20, 0, 100, "tenths of a point",
                   "Upper rating of the band: a message rated above the band before and up to this is in it "
                   "(Rating1 to Rating4: 2.0, 4.0, 6.0, 8.0 points; band 5 ends at 10.0)"),
            4, 20),
    perBand(flag(S::AllowThrough, kBandGroup, "AllowThrough", true,
                 "Let the band's messages through to the client (off: delete them on the server; band 1 always "
                 "lets through)")),
    perBand(flag(S::Subject, kBandGroup, "Subject", true, "Rewrite the subject of the band's messages")),
    perBand(text(S::SubjectMacro, kBandGroup, "SubjectMacro", "SPAM - %%SUBJECT%%",
                 "The rewritten subject; %%SUBJECT%% stands for the original one")),
    perBand(flag(S::Archive, kBandGroup, "Archive", true, "Keep a copy of the band's messages in its archive")),
    perBand(text(S::ArchivePath, kBandGroup, "ArchivePath", "",
                 "The band's archive folder; empty: archive/rating<n> in the data folder, a relative path is "
                 "taken there too")),
    perBand(flag(S::CollectionEmail, kBandGroup, "CollectionEmail", true,
                 "List the band's messages in the collection report")),
    perBand(flag(S::Forward, kBandGroup, "Forward", false, "Kept for the settings pages; no step acts on it")),
    perBand(flag(S::ForwardSubject, kBandGroup, "ForwardSubject", false,
                 "Kept for the settings pages; no step acts on it")),
    perBand(text(S::ForwardAddress, kBandGroup, "ForwardAddress", "",
                 "Kept for the settings pages; empty: ReportEmailAddress")),
    perBand(text(S::ForwardMacro, kBandGroup, "ForwardMacro", "SPAM to %%RCPT-TO%% - %%SUBJECT%%",
                 "Kept for the settings pages; no step acts on it")),

    number(S::VirusEngine, kVirusGroup, "VirusEngine", 2, 0, 2, "",
           "0: ClamAV; 1: the sweep program in SweepPath; 2: left to a resident scanner that blocks infected "
           "files (an attachment that reads to its end is clean)",
           kVirusKey),
    number(S::Engine, kVirusGroup, "Engine", 2, 0, 2, "", "As VirusEngine, and wins over it when both are set",
           kVirusKey),
    flag(S::Scan, kVirusGroup, "Scan", true, "Scan attachments when a rule asks for it", kVirusKey),
    flag(S::ForwardToUser, kVirusGroup, "ForwardToUser", true, "Kept for the settings pages; no step acts on it",
         kVirusKey),
    flag(S::Quarantine, kVirusGroup, "Quarantine", false,
         "Keep infected and unscannable attachments in QuarantinePath (off: they are dropped)", kVirusKey),
    text(S::QuarantinePath, kVirusGroup, "QuarantinePath", "",
         "Folder of quarantined attachments; empty: state in the data folder", kVirusKey),
    list(S::MimeTypes, kVirusGroup, "MimeTypes", "text/plain",
         "Content types (wildcard patterns) that are not scanned", kVirusKey),
    flag(S::MacVirusCheck, kVirusGroup, "MacVirusCheck", true, "Let the engine look into Mac file forks",
         kVirusKey),
    flag(S::PassLockedArchives, kVirusGroup, "PassLockedArchives", false,
         "Deliver encrypted archives unchanged instead of as unscannable", kVirusKey),
    flag(S::ScanArchives, kVirusGroup, "ScanArchives", true, "Let the engine look inside archives", kVirusKey),
    flag(S::UpdateEnabled, kVirusGroup, "UpdateEnabled", false, "Run UpdateCommand when a virus alert mail arrives",
         kVirusKey),
    flag(S::FullScan, kVirusGroup, "FullScan", true, "A full, not a quick, engine scan", kVirusKey),
    text(S::UpdateFrom, kVirusGroup, "UpdateFrom", "*@alerts.clamav.invalid",
         "Sender (wildcard pattern) of virus alert mails", kVirusKey),
    text(S::UpdateSubject, kVirusGroup, "UpdateSubject", "Sophos Anti-Virus IDE alert:*",
         "Subject (wildcard pattern) of virus alert mails", kVirusKey),
    text(S::UpdateCommand, kVirusGroup, "UpdateCommand", "", "Command run on a virus alert mail; empty: none",
         kVirusKey),
    text(S::SweepPath, kVirusGroup, "SweepPath", "", "Folder of the sweep program; empty: the program folder",
         kVirusKey),
    flag(S::LeaveWorkfile, kVirusGroup, "LeaveWorkfile", false, "Keep the work files of clean attachments",
         kVirusKey),
    text(S::ClamDatabase, kVirusGroup, "ClamDatabase", "", "Folder of ClamAV's signatures; empty: ClamAV's own",
         kVirusKey),

    number(S::MainPosX, kDesktopGroup, "MainPosX", 50, -100000, 100000, "pixels",
           "Left edge of the settings window"),
    number(S::MainPosY, kDesktopGroup, "MainPosY", 50, -100000, 100000, "pixels", "Top edge of the settings window"),
    text(S::EditorPos, kDesktopGroup, "EditorPos", "",
         "Rule editor window: left, top, right and bottom, separated by blanks"),
    text(S::ListEditorPos, kDesktopGroup, "ListEditorPos", "",
         "List editor window: left, top, right and bottom, separated by blanks"),
    text(S::TestMessageFolder, kDesktopGroup, "TestMessageFolder", "",
         "Rule editor: the folder of the message last tested; empty: the home folder"),
    number(S::ColourComment, kDesktopGroup, "ColourComment", 52275, 0, kColour, "colour",
           "Rule editor: comments (red in the low byte, then green, then blue)"),
    number(S::ColourPreProc, kDesktopGroup, "ColourPreProc", 32896, 0, kColour, "colour",
           "Rule editor: \"#\" directives"),
    number(S::ColourString, kDesktopGroup, "ColourString", 8421504, 0, kColour, "colour",
           "Rule editor: quoted strings"),
    number(S::ColourLabel, kDesktopGroup, "ColourLabel", 13382553, 0, kColour, "colour", "Rule editor: labels"),
    number(S::ColourJump, kDesktopGroup, "ColourJump", 13395711, 0, kColour, "colour", "Rule editor: jump targets"),
    number(S::ColourFunction, kDesktopGroup, "ColourFunction", 16711935, 0, kColour, "colour",
           "Rule editor: function calls"),
    number(S::ColourIntVar, kDesktopGroup, "ColourIntVar", 13408614, 0, kColour, "colour",
           "Rule editor: integer variables"),
    number(S::ColourStrVar, kDesktopGroup, "ColourStrVar", 16764006, 0, kColour, "colour",
           "Rule editor: string variables"),
    number(S::ColourKeyword, kDesktopGroup, "ColourKeyword", 255, 0, kColour, "colour", "Rule editor: keywords"),
    number(S::ColourText, kDesktopGroup, "ColourText", 128, 0, kColour, "colour", "Rule editor: other text"),

    flag(S::Configured, kKeptGroup, "Configured", false, "The first-run setup has been done"),
    flag(S::ConfigWizard, kKeptGroup, "ConfigWizard", false,
         "On an unconfigured start, open the settings instead of asking"),
    number(S::LastReportDay, kKeptGroup, "LastReportDay", -1, -1, 365, "day of the year",
           "Day on which the archive's daily step last ran; -1: not yet"),

    installation(flag(S::SharedMode, kInstallationGroup, "SharedMode", false,
                      "All users share one data folder and one set of settings")),
    installation(flag(S::ShowHelpId, kInstallationGroup, "ShowHelpId", false,
                      "Show the help topic's numbers before opening help")),
};

constexpr size_t kRows = sizeof kTable / sizeof kTable[0];

constexpr bool inTableOrder()
{
    for (size_t i = 0; i < kRows; ++i)
        if (static_cast<size_t>(kTable[i].id) != i)
            return false;
    return true;
}
static_assert(inTableOrder(), "the rows must follow the order of Setting");
static_assert(kRows == static_cast<size_t>(Setting::ShowHelpId) + 1, "every Setting has its row");

} // namespace

const SettingInfo* settingsTable(size_t& count)
{
    count = kRows;
    return kTable;
}

const SettingInfo& settingInfo(Setting id)
{
    return kTable[static_cast<size_t>(id)];
}

std::string settingName(Setting id, int band)
{
    const SettingInfo& info = settingInfo(id);
    return info.firstBand == 0 ? std::string(info.name) : info.name + std::to_string(band);
}

long long settingDefault(Setting id, int band)
{
    const SettingInfo& info = settingInfo(id);
    if (info.firstBand == 0 || band < info.firstBand)
        return info.defaultNumber;
    return info.defaultNumber + static_cast<long long>(band - info.firstBand) * info.bandStep;
}

const char* settingDefaultText(Setting id)
{
    const char* text = settingInfo(id).defaultText;
    return text != nullptr ? text : "";
}

bool settingInRange(Setting id, long long value)
{
    const SettingInfo& info = settingInfo(id);
    if (info.minimum == kNoLimit && info.maximum == kNoLimit)
        return true;
    return value >= info.minimum && value <= info.maximum;
}

const SettingInfo* findSetting(std::string_view name, int& band)
{
    band = 0;
    for (const SettingInfo& info : kTable) {
        const std::string_view row(info.name);
        if (name.size() < row.size() || strncasecmp(name.data(), row.data(), row.size()) != 0)
            continue;
        const std::string_view rest = name.substr(row.size());
        if (info.firstBand == 0) {
            if (rest.empty())
                return &info;
            continue;
        }
        if (rest.size() != 1 || rest[0] < '0' || rest[0] > '9')
            continue;
        const int n = rest[0] - '0';
        if (n < info.firstBand || n > info.lastBand)
            continue;
        band = n;
        return &info;
    }
    return nullptr;
}
