// FilterSettings: the filter's settings, loaded with the rules (hive
// "quilfpro", key "/"), and the five rating bands.
//
// A value missing from the store keeps what the last load left (the
// defaults at the first load), except those reset before every load: tidy
// days 7, system and user report on, tidy off.  Each load fills the
// settings of a new RuleSet; a session reads its own set's without a lock.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct RatingBand {
    float threshold = 0.0f;   // upper end, points (T1 to T5)
    bool allowThrough = true;
    bool subject = true;
    std::string subjectMacro = "SPAM - %%SUBJECT%%";
    bool archive = true;
    std::string archivePath;
    bool collectionEmail = true;
    bool forward = false;
    bool forwardSubject = false;
    std::string forwardAddress;
    std::string forwardMacro = "SPAM to %%RCPT-TO%% - %%SUBJECT%%";
};

struct FilterSettings {
    static constexpr int kBands = 5;

    long sizeLimit = 30720;   // bytes
    bool debugLogging = false;
    std::vector<std::string> ruleOrder;
    std::vector<std::string> disabledRules;
    std::string reportAddress;
    bool tidy = false;
    int tidyDays = 7;
    int lastReportDay = -1;
    bool systemReport = true;
    bool userReport = true;
    RatingBand bands[kBands];

    FilterSettings();
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
