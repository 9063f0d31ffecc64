// qfpavwr: the Quillfence Pro archive viewer (ui/ArchiveViewer).
//   qfpavwr [--band N] [--search TEXT]   open at band N (1 to 5), searching
//   qfpavwr --help | --version
// It finds the data folder and the settings as quillfnc does, and reads
// the archive places the proxy registered.
#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "common/SystemInfo.h"
#include "filter/Archive.h"
#include "ui/ArchiveViewer.h"

#include <QApplication>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage = "usage: qfpavwr [--band N] [--search TEXT] | --help | --version\n";

struct ViewerLine {
    int band = 0;
    std::string search;
    bool help = false;   // else the version
    std::string error;
};

ViewerLine parseLine(int argc, char** argv)
{
    ViewerLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--band" && i + 1 < argc) {
            char* end = nullptr;
            const long band = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || band < 1 || band > 5)
                line.error = std::string("qfpavwr: the band is 1 to 5, not \"") + argv[i] + "\"\n";
            line.band = static_cast<int>(band);
        } else if (arg == "--search" && i + 1 < argc) {
            line.search = argv[++i];
        } else {
            line.error = "qfpavwr: unexpected \"" + arg + "\"\n";
        }
    }
    return line;
}

// The data folder and the settings hive, chosen as the proxy chooses them.
bool chooseDataRoot()
{
    char folder[4096];
    GetRootPath(folder, sizeof folder);
    programContext().programFolder = folder;
    CRegistry reg;
    bool shared = settingDefault(Setting::SharedMode) != 0;
    if (openSettingKey(reg, settingInfo(Setting::SharedMode), false))
        querySetting(reg, Setting::SharedMode, shared);
    return chooseProgramDataRoot(kProductName, shared);
}

int printHelpOrVersion(const ViewerLine& line);

} // namespace

int main(int argc, char** argv)
{
    ::umask(077);
    // --help and --version need no display; Qt takes its own options
    // (-platform, -style) out of the line before it is read.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0) {
            ViewerLine asked;
            asked.help = std::strcmp(argv[i], "--help") == 0;
            return printHelpOrVersion(asked);
        }
    }
    QApplication application(argc, argv);
    const ViewerLine line = parseLine(argc, argv);
    if (!line.error.empty()) {
        std::fputs(line.error.c_str(), stderr);
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!chooseDataRoot()) {
        std::fprintf(stderr, "qfpavwr: no usable data folder\n");
        return 1;
    }
    ArchiveViewer viewer(registeredArchiveLocations(), programContext().dataRoot, bandSubjectMacros());
    viewer.show();
    viewer.showBand(line.band > 0 ? line.band : 5);
    if (!line.search.empty())
        viewer.setSearch(QString::fromStdString(line.search));
    return application.exec();
}

namespace {

int printHelpOrVersion(const ViewerLine& line)
{
    if (line.help) {
        std::printf("%sShows the messages the filter archived, band by band and day by day, and restores,\n"
                    "learns or deletes them.\n",
                    kUsage);
        return 0;
    }
    std::printf("qfpavwr (Quillfence Pro) %s\n", QF_VERSION);
    return 0;
}

} // namespace
