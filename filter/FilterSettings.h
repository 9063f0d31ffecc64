// FilterSettings: the filter's settings, loaded with the rules (hive
// "quilfpro", key "/"), and the five rating bands.
//
// A value missing from the store keeps what the last load left (the
// defaults at the first load), except those reset to their defaults before
// every load: tidy, tidy days, the system and user report.  Each load fills the
// settings of a new RuleSet; a session reads its own set's without a lock.
#pragma once

#include "common/SettingsTable.h"

#include <mutex>
#include <string>
#include <vector>

// A band's settings; FilterSettings::defaultBand gives the table's defaults.
struct RatingBand {
    float threshold = 0.0f;   // upper end, points (T1 to T5)
    bool allowThrough = false;
    bool subject = false;
    std::string subjectMacro;
    bool archive = false;
    std::string archivePath;
    bool collectionEmail = false;
    bool forward = false;
    bool forwardSubject = false;
    std::string forwardAddress;
    std::string forwardMacro;
};

struct FilterSettings {
    static constexpr int kBands = 5;

    long sizeLimit = defaultOf(Setting::MaxSpamSize) * 1024L;   // bytes
    bool debugLogging = defaultOf(Setting::DebugLogging) != 0;
    std::vector<std::string> ruleOrder;
    std::vector<std::string> disabledRules;
    std::string reportAddress;
    bool tidy = defaultOf(Setting::Tidy) != 0;
    int tidyDays = defaultOf(Setting::TidyDays);
    int lastReportDay = defaultOf(Setting::LastReportDay);
    bool systemReport = defaultOf(Setting::SystemReport) != 0;
    bool userReport = defaultOf(Setting::UserReport) != 0;
    RatingBand bands[kBands];

    FilterSettings();
    // The settings table's defaults of band index (0 to 4), without its
    // archive folder and forward address (worked out when loading).
    static RatingBand defaultBand(int index);
    // Loads every value from the settings store as the rule reload does.
    void load(const std::string& dataRoot);
    // The band (0 to 4) of a total: the first whose lower threshold is below
    // it and whose upper one is not; 0.0 counts as 0.1.  Totals at or below
    // 0.0 fall in band 0, totals above every threshold in band 4.
    int bandOf(double total) const;
};

// The settings of the calling thread's set (ruleSet()).
FilterSettings& filterSettings();
// Guards the one value a session writes into its set's settings
// (lastReportDay, by the daily tidy) against a load copying them.
std::mutex& writtenSettingsMutex();
