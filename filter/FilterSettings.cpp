#include "filter/FilterSettings.h"

#include "common/CRegistry.h"
#include "common/CVDir.h"
#include "common/ProgramContext.h"
#include "filter/RuleSet.h"

namespace {

// The thresholds of bands 1 to 4 in tenths, as the store holds them.
constexpr int kDefaultRatings[] = {20, 40, 60, 80};

std::string bandValue(const char* name, int band)
{
    return std::string(name) + std::to_string(band);
}

} // namespace

FilterSettings::FilterSettings()
{
    for (int i = 0; i < kBands; ++i)
        bands[i].threshold = (i < 4 ? static_cast<float>(kDefaultRatings[i]) * 0.1f : 10.0f);
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
    tidyDays = 7;
    systemReport = true;
    tidy = false;
    userReport = true;
    disabledRules.clear();

    CRegistry reg;
    const bool opened = reg.CreateKey(programContext().settingsHive, "quilfpro", "/", true);
    if (opened) {
        reg.QueryValue("ReportEmailAddress", reportAddress);
        int kilobytes = 0;
        if (reg.QueryValue("MaxSpamSize", kilobytes))
            sizeLimit = static_cast<long>(kilobytes) * 1024;
    }
    for (int i = 0; i < kBands; ++i) {
        RatingBand& band = bands[i];
        const float threshold = band.threshold;
        band = RatingBand();
        band.threshold = threshold;
        band.archivePath = dataRoot + "/archive/Rating" + std::to_string(i + 1) + "/";
        band.forwardAddress = reportAddress;
    }
    if (!opened)
        return;
    reg.QueryValue("Tidy", tidy);
    reg.QueryValue("TidyDays", tidyDays);
    reg.QueryValue("SystemReport", systemReport);
    reg.QueryValue("UserReport", userReport);
    reg.QueryValue("DisabledRules", disabledRules);
    reg.QueryValue("LastReportDay", lastReportDay);
    reg.QueryValue("DebugLogging", debugLogging);
    reg.QueryValue("RuleOrder", ruleOrder);
    for (int i = 0; i < 4; ++i) {
        unsigned int tenths = 0;
        if (reg.QueryValue(bandValue("Rating", i + 1).c_str(), tenths))
            bands[i].threshold = static_cast<float>(tenths) * 0.1f;
    }
    for (int i = 0; i < kBands; ++i) {
        RatingBand& band = bands[i];
        const int n = i + 1;
        band.archivePath = dataRoot + "/archive/rating" + std::to_string(n) + "/";
        reg.QueryValue(bandValue("Subject", n).c_str(), band.subject);
        reg.QueryValue(bandValue("Forward", n).c_str(), band.forward);
        reg.QueryValue(bandValue("Archive", n).c_str(), band.archive);
        reg.QueryValue(bandValue("ForwardSubject", n).c_str(), band.forwardSubject);
        reg.QueryValue(bandValue("CollectionEmail", n).c_str(), band.collectionEmail);
        reg.QueryValue(bandValue("SubjectMacro", n).c_str(), band.subjectMacro);
        reg.QueryValue(bandValue("ForwardAddress", n).c_str(), band.forwardAddress);
        reg.QueryValue(bandValue("ForwardMacro", n).c_str(), band.forwardMacro);
        reg.QueryValue(bandValue("AllowThrough", n).c_str(), band.allowThrough);
        // An empty folder is the default; a relative one is the data
        // folder's, never that of whatever folder the program started in.
        std::string folder;
        if (reg.QueryValue(bandValue("ArchivePath", n).c_str(), folder) && !folder.empty())
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
