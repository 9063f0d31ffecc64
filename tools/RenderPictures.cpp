// render_pictures OUTPUT-FOLDER [dark|scale2]: draws the desktop side's
// windows offscreen into OUTPUT-FOLDER as PNG files, at the sizes they take
// on their own, with the shipped rules and settings in a throw-away data
// root.  "dark" draws the settings window and the rule editor in a dark
// theme, "scale2" the settings window (run with QT_SCALE_FACTOR=2), each
// named with the variant.  Run with QT_QPA_PLATFORM=offscreen.
#include "common/DataRoots.h"
#include "common/ProgramContext.h"
#include "filter/Archive.h"
#include "ui/ArchiveViewer.h"
#include "ui/CActionPageV2.h"
#include "ui/CCSPropertySheet.h"
#include "ui/CStatusPopup.h"
#include "ui/RuleEditor.h"
#include "ui/SetupWizard.h"
#include "ui/SettingsWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QColor>
#include <QPalette>
#include <QTabWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool save(QWidget& widget, const std::string& folder, const char* name)
{
    widget.show();
    QApplication::processEvents();
    const std::string path = folder + "/" + name + ".png";
    if (!widget.grab().save(QString::fromStdString(path))) {
        std::fprintf(stderr, "render_pictures: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

// A data root of its own: the shipped settings and rules, and one user rule
// for the editor to show.
bool makeDataRoot(const fs::path& scratch)
{
    ::setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (scratch / "run").c_str(), 1);
    ::setenv("QUILLFENCE_COMMON_ROOT", (scratch / "common").c_str(), 1);
    ::setenv("QUILLFENCE_GLOBAL_ROOT", (scratch / "global").c_str(), 1);
    fs::create_directories(scratch / "run");
    fs::permissions(scratch / "run", fs::perms::owner_all);
    const char* folder = QF_PROGRAM_FOLDER;
    programContext().programFolder = folder;
    char root[4096];
    getAppDataRoot(kProductName, root, sizeof root, true);
    programContext().dataRoot = root;
    programContext().settingsHive = eRegUser;
    const fs::path program(folder);
    const fs::path data(root);
    std::error_code error;
    fs::create_directories(data.parent_path() / "config");
    fs::copy_file(program / "default.dat", data.parent_path() / "config/quilfpro_usr.dat", error);
    fs::copy(program / "rules", data / "rules", fs::copy_options::recursive, error);
    std::ofstream user(data / "rules/user.sfr", std::ios::app);
    user << "#rule \"Pills in the subject\"\n"
            "// Catches the pharmacy offers that name their pills up front.\n"
            "if \"pills\" in HEADERFIELDVALUE(\"Subject\") then\n"
            "  ADDDECISIONDETAILS(\"pills: \" + HEADERFIELDVALUE(\"Subject\"))\n"
            "  ISSPAM()\n"
            "endif\n"
            "#endrule\n";
    return fs::exists(data / "rules/system.sfr");
}

// Band 5's archive of a day, as sessions leave it: three held-back offers.
void fillArchive(const fs::path& data)
{
    const fs::path band = data / "archive/rating5";
    fs::create_directories(band);
    std::ofstream day(band / "SF261208.txt", std::ios::binary);
    const char* const copies[][4] = {
        {"Pharmacy Direct <deals@pharma-direct.example>", "SPAM - Cheap pills, 80% off today", "10.0",
         "Rule 'Pills in the subject' detected spam from Pharmacy Direct <deals@pharma-direct.example>"},
        {"Prize Office <claims@winner-notice.example>", "SPAM - You have won: claim your prize", "8.6",
         "Rule 'Prize or lottery win' detected spam from Prize Office <claims@winner-notice.example>"},
        {"Crypto Desk <desk@fast-returns.example>", "SPAM - Double your savings in a week", "7.2",
         "Rule 'Money offer' detected spam from Crypto Desk <desk@fast-returns.example>"},
    };
    int hour = 7;
    for (const auto& copy : copies) {
        day << "From: " << copy[0] << "\r\nTo: you@example.com\r\nSubject: " << copy[1]
            << "\r\nDate: Tue, 8 Dec 2026 0" << hour++ << ":14:00 +0000\r\n"
            << "X-Quillfence-Pro: " << copy[3] << ", rating total " << copy[2]
            << "\r\n\r\nDear customer,\r\n\r\nThis offer ends tonight. Reply now.\r\n.\r\n";
    }
}

// A dark theme as desktops offer one.
void useDarkTheme(QApplication& app)
{
    app.setStyle("Fusion");
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x2d));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::AlternateBase, QColor(0x2d, 0x2d, 0x2d));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    app.setPalette(dark);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string variant = argc == 3 ? argv[2] : "";
    if ((argc != 2 && argc != 3) || (argc == 3 && variant != "dark" && variant != "scale2")) {
        std::fprintf(stderr, "usage: render_pictures OUTPUT-FOLDER [dark|scale2]\n");
        return 2;
    }
    const std::string output = fs::absolute(argv[1]).string();
    fs::create_directories(output);
    const fs::path scratch = fs::temp_directory_path() / ("render-pictures." + std::to_string(::getpid()));
    if (!makeDataRoot(scratch)) {
        std::fprintf(stderr, "render_pictures: the shipped rules are not beside the program\n");
        return 1;
    }
    QApplication app(argc, argv);
    if (variant == "dark")
        useDarkTheme(app);
    const std::string suffix = variant.empty() ? "" : "-" + variant;
    bool ok = true;
    {
        std::unique_ptr<CCSPropertySheet> sheet = buildSettingsWindow();
        const char* names[] = {"settings-rules", "settings-general", "settings-patterns", "settings-words",
                               "settings-rating", "settings-about", "settings-antivirus"};
        const int pages = variant.empty() ? 7 : 1;
        for (int i = 0; i < sheet->pageCount() && i < pages; ++i) {
            sheet->tabs()->setCurrentIndex(i);
            ok = save(*sheet, output, (names[i] + suffix).c_str()) && ok;
        }
        sheet->reject();
    }
    if (variant != "scale2") {
        RuleEditor editor("Pills in the subject", "8.0", true, true);
        ok = save(editor, output, ("rule-editor" + suffix).c_str()) && ok;
        editor.reject();
    }
    if (variant.empty()) {
        CActionPageV2 actions(3, 4.0, 6.0);
        ok = save(actions, output, "action-dialog") && ok;
        // A text the collection shows while it reads a message.
        CStatusPopup popup;
        popup.setStatusText("Reading Msg 3, 12 KB");
        ok = save(popup, output, "status-popup") && ok;
        // The wizard's first and last pages, for a provider that wants TLS.
        SetupWizard wizard;
        wizard.userField()->setText("you@example.com");
        wizard.hostField()->setText("pop.example.com");
        wizard.show();
        ok = save(wizard, output, "setup-wizard-account") && ok;
        wizard.next();
        wizard.next();
        ok = save(wizard, output, "setup-wizard-client") && ok;
        wizard.reject();
        // The archive viewer on band 5, a message selected.
        fillArchive(fs::path(programContext().dataRoot));
        ArchiveViewer viewer(registeredArchiveLocations(), programContext().dataRoot, bandSubjectMacros());
        viewer.resize(1000, 600);
        viewer.show();
        viewer.showBand(5);
        viewer.selectRow(0);
        ok = save(viewer, output, "archive-viewer") && ok;
    }
    fs::remove_all(scratch);
    return ok ? 0 : 1;
}
