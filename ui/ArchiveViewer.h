// ArchiveViewer: the window of qfpavwr, the archive viewer.  It shows what
// the filter held back: the registered archive places (filter/Archive),
// band by band and day by day, newest first, each message with its date,
// sender, subject, rating and first decision line (store/ArchiveEntries),
// a search over sender and subject, sorting by any column, and the
// selected message as text (analysis/ReadableText: nothing is fetched).
//
// Restore drops the selected message, as the mail client first had it,
// into the data root's pending folder for the next session, and marks it
// in the list ("restored.lst" in the band's folder remembers the copy's
// digest).  Learn as
// wanted / as spam teaches the learning classifier that text, once (a
// message learned as that kind already is left as it is).  Delete takes a
// message out of its day file and Empty deletes a band's day files older
// than a number of days, each after the user confirms; both hold the
// archive's lock (store/ArchiveEntries), so that the proxy's merges wait.
#pragma once

#include "filter/Archive.h"
#include "store/ArchiveEntries.h"

#include <QMainWindow>

#include <set>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

// The SubjectMacro of each band, band 1 first, from the settings.
std::vector<std::string> bandSubjectMacros();

class ArchiveViewer : public QMainWindow
{
    Q_OBJECT
public:
    // The list's columns.
    enum Column { DateColumn, FromColumn, SubjectColumn, RatingColumn, DecisionColumn, ColumnCount };

    // dataRoot: the pending folder and the learned data; subjectMacros: the
    // SubjectMacro of each band, band 1 first, to give subjects back.
    ArchiveViewer(std::vector<ArchiveLocation> locations, std::string dataRoot,
                  std::vector<std::string> subjectMacros, QWidget* parent = nullptr);

    // Opens at band (1 to 5), all its days.
    void showBand(int band);
    void setSearch(const QString& text);

    // The entry of the list's row (as sorted and searched); null for none.
    const ArchiveEntry* entryAt(int row) const;
    int rowCount() const;
    void selectRow(int row);
    bool isRestored(const ArchiveEntry& entry) const;

    QTreeWidget* placesView() const { return m_places; }
    QTableView* listView() const { return m_list; }
    QPlainTextEdit* messageView() const { return m_message; }
    QLineEdit* searchField() const { return m_search; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* learnWantedButton() const { return m_learnWanted; }
    QPushButton* learnSpamButton() const { return m_learnSpam; }
    QPushButton* deleteButton() const { return m_delete; }
    QLabel* statusText() const { return m_status; }

public slots:
    void restoreSelected();
    void learnSelected(bool asSpam);
    // ask: confirm with the user first (tests answer for them).
    void deleteSelected(bool ask = true);
    void emptyOldDays(int days, bool ask = true);

private:
    void fillPlaces();
    void loadPlace(QTreeWidgetItem* item);
    void showSelected();
    const ArchiveEntry* selectedEntry() const;
    const ArchiveLocation* locationOf(const ArchiveEntry& entry) const;
    const ArchiveLocation* locationOfBand(int band) const;
    void loadRestored(const ArchiveLocation& location);
    void say(const QString& text);

    std::vector<ArchiveLocation> m_locations;
    std::string m_dataRoot;
    std::vector<std::string> m_subjectMacros;
    std::vector<ArchiveEntry> m_entries;       // of the place shown
    std::set<std::string> m_restored;          // the digests of the band's restored copies
    int m_band = 0;

    QTreeWidget* m_places = nullptr;
    QLineEdit* m_search = nullptr;
    QTableView* m_list = nullptr;
    QStandardItemModel* m_model = nullptr;
    QSortFilterProxyModel* m_filter = nullptr;
    QPlainTextEdit* m_message = nullptr;
    QPushButton* m_restore = nullptr;
    QPushButton* m_learnWanted = nullptr;
    QPushButton* m_learnSpam = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_empty = nullptr;
    QLabel* m_status = nullptr;
};
