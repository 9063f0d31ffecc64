#include "filter/FilterSettings.h"

#include "common/CRegistry.h"
#include "common/CVDir.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "filter/RuleSet.h"

FilterSettings::FilterSettings()
{
    for (int i = 0; i < kBands; ++i)
        bands[i] = defaultBand(i);
}

RatingBand FilterSettings::defaultBand(int index)
{
    const int n = index + 1;
    RatingBand band;
    band.threshold = n <= 4 ? static_cast<float>(settingDefault(Setting::Rating, n)) * 0.1f : 10.0f;
    band.allowThrough = settingDefault(Setting::AllowThrough, n) != 0;
    band.subject = settingDefault(Setting::Subject, n) != 0;
    band.subjectMacro = settingDefaultText(Setting::SubjectMacro);
    band.archive = settingDefault(Setting::Archive, n) != 0;
    band.collectionEmail = settingDefault(Setting::CollectionEmail, n) != 0;
    band.forward = settingDefault(Setting::Forward, n) != 0;
    band.forwardSubject = settingDefault(Setting::ForwardSubject, n) != 0;
    band.forwardMacro = settingDefaultText(Setting::ForwardMacro);
    return band;
}

FilterSettings& filterSettings()
{
    return ruleSet().settings;
}

std::mutex& writtenSettingsMutex()
{
    static std::mutex mutex;
    return mutex;
}

void FilterSettings::load(const std::string& dataRoot)
{
    tidyDays = defaultOf(Setting::TidyDays);
    systemReport = settingDefault(Setting::SystemReport) != 0;
    tidy = settingDefault(Setting::Tidy) != 0;
    userReport = settingDefault(Setting::UserReport) != 0;
    disabledRules.clear();

    CRegistry reg;
    const bool opened = openSettingKey(reg, settingInfo(Setting::MaxSpamSize));
    if (opened) {
        querySetting(reg, Setting::ReportEmailAddress, reportAddress);
        int kilobytes = 0;
        if (querySetting(reg, Setting::MaxSpamSize, kilobytes))
            sizeLimit = static_cast<long>(kilobytes) * 1024;
    }
    for (int i = 0; i < kBands; ++i) {
        RatingBand& band = bands[i];
        const float threshold = band.threshold;
        band = defaultBand(i);
        band.threshold = threshold;
        band.archivePath = dataRoot + "/archive/Rating" + std::to_string(i + 1) + "/";
        band.forwardAddress = reportAddress;
    }
    if (!opened)
        return;
    querySetting(reg, Setting::Tidy, tidy);
    querySetting(reg, Setting::TidyDays, tidyDays);
    querySetting(reg, Setting::SystemReport, systemReport);
    querySetting(reg, Setting::UserReport, userReport);
    querySetting(reg, Setting::DisabledRules, disabledRules);
    querySetting(reg, Setting::LastReportDay, lastReportDay);
    querySetting(reg, Setting::DebugLogging, debugLogging);
    querySetting(reg, Setting::RuleOrder, ruleOrder);
    for (int n = 1; n <= 4; ++n) {
        unsigned tenths = 0;
        if (querySetting(reg, Setting::Rating, tenths, n))
            bands[n - 1].threshold = static_cast<float>(tenths) * 0.1f;
    }
    for (int i = 0; i < kBands; ++i) {
        RatingBand& band = bands[i];
        const int n = i + 1;
        band.archivePath = dataRoot + "/archive/rating" + std::to_string(n) + "/";
        querySetting(reg, Setting::Subject, band.subject, n);
        querySetting(reg, Setting::Forward, band.forward, n);
        querySetting(reg, Setting::Archive, band.archive, n);
        querySetting(reg, Setting::ForwardSubject, band.forwardSubject, n);
        querySetting(reg, Setting::CollectionEmail, band.collectionEmail, n);
        querySetting(reg, Setting::SubjectMacro, band.subjectMacro, n);
        querySetting(reg, Setting::ForwardAddress, band.forwardAddress, n);
        querySetting(reg, Setting::ForwardMacro, band.forwardMacro, n);
        querySetting(reg, Setting::AllowThrough, band.allowThrough, n);
        // An empty folder is the default; a relative one is the data
        // folder's, never that of whatever folder the program started in.
        std::string folder;
        if (querySetting(reg, Setting::ArchivePath, folder, n) && !folder.empty())
            band.archivePath = folder[0] == '/' ? folder : dataRoot + "/" + folder;
        if (band.archivePath.back() != '/')
            band.archivePath += '/';
        // Each missing folder on the way, private to the user.
        for (size_t slash = band.archivePath.find('/', 1); slash != std::string::npos;
             slash = band.archivePath.find('/', slash + 1))
            CVDir::mkdir(band.archivePath.substr(0, slash).c_str());
    }
}

int FilterSettings::bandOf(double total) const
{
    const double t = total == 0.0 ? 0.1 : total;
    double lower = 0.0;
    for (int i = 0; i < kBands; ++i) {
        if (lower < t && t <= bands[i].threshold)
            return i;
        lower = bands[i].threshold;
    }
    return t <= 0.0 ? 0 : kBands - 1;
}
