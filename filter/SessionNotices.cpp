#include "filter/SessionNotices.h"

#include "common/HiveNotices.h"

namespace {

std::string entry(const std::string& title, const std::string& lines)
{
    return "-----------------\n" + title + "\n=================\n" + lines + "-----------------\n\n";
}

std::string settingsNotice(const HiveSetAside& notice)
{
    std::string lines = "The settings file " + notice.path + " was damaged and could not be read whole.\n";
    if (notice.asidePath.empty())
        lines += "It could not be set aside; its values are not used.\n";
    else
        lines += "It has been set aside as " + notice.asidePath + ".\n";
    lines += notice.shipped ? "The shipped settings are used in its place: check your settings.\n"
                            : "The default settings are used in its place: check your settings.\n";
    return entry("Settings file damaged", lines);
}

std::string scanningNotice(const std::vector<VirusScanner::Unscanned>& unscanned)
{
    std::string lines;
    for (const VirusScanner::Unscanned& why : unscanned)
        lines += "Virus scanning is inactive: " + why.reason + ".\n" + why.remedy + "\n";
    lines += "Until then attachments are delivered unscanned; each such message says so in its\n"
             "\"X-Quillfence-Pro: attachments not scanned\" header line.\n";
    return entry("Virus scanning inactive", lines);
}

} // namespace

bool writeSessionNotices(FilterContext& context, bool withSettings)
{
    bool written = false;
    for (const HiveSetAside& notice : withSettings ? takeHiveSetAsides() : std::vector<HiveSetAside>{}) {
        context.notices.push_back(settingsNotice(notice));
        written = true;
    }
    const VirusScanner* scanner = context.scannerIfMade();
    if (scanner && !scanner->sessionUnscanned().empty()) {
        context.notices.push_back(scanningNotice(scanner->sessionUnscanned()));
        written = true;
    }
    return written;
}
