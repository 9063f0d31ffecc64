// Drives the archive viewer offscreen as its user would, for
// test_archive_viewer.py: opens band 5 of the data root that XDG_DATA_HOME
// names, searches for the text given, clicks a button (Restore, Learn as
// Wanted or Learn as Spam) on the one message found and prints the
// viewer's status line.  Exit status 0 when the viewer says it was done.
//   viewer_click restore|learn-wanted|learn-spam TEXT
#include "common/DataRoots.h"
#include "common/ProgramContext.h"
#include "filter/Archive.h"
#include "ui/ArchiveViewer.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const std::string action = argc == 3 ? argv[1] : "";
    QPushButton* (ArchiveViewer::*button)() const = action == "restore"        ? &ArchiveViewer::restoreButton
                                                    : action == "learn-wanted" ? &ArchiveViewer::learnWantedButton
                                                    : action == "learn-spam"   ? &ArchiveViewer::learnSpamButton
                                                                               : nullptr;
    if (button == nullptr) {
        std::fprintf(stderr, "usage: viewer_click restore|learn-wanted|learn-spam TEXT\n");
        return 2;
    }
    char root[4096];
    getAppDataRoot("Quillfence Pro", root, sizeof root, false);
    programContext().dataRoot = root;
    programContext().settingsHive = eRegUser;
    ArchiveViewer viewer(registeredArchiveLocations(), root, bandSubjectMacros());
    viewer.show();
    viewer.showBand(5);
    viewer.setSearch(QString::fromLocal8Bit(argv[2]));
    if (viewer.rowCount() != 1) {
        std::printf("%d messages found\n", viewer.rowCount());
        return 1;
    }
    viewer.selectRow(0);
    QTest::mouseClick((viewer.*button)(), Qt::LeftButton);
    const QString status = viewer.statusText()->text();
    std::printf("%s\n", status.toLocal8Bit().constData());
    return status.startsWith("Restored") || status.startsWith("Learned") ? 0 : 1;
}
