#include "ui/ArchiveViewer.h"

#include "analysis/EncodedWords.h"
#include "analysis/ReadableText.h"
#include "common/CRegistry.h"
#include "common/DataRoots.h"
#include "common/SettingValues.h"
#include "common/DayFiles.h"
#include "learning/LearnBatch.h"
#include "learning/TokenStore.h"
#include "ui/MessageBoxes.h"
#include "ui/SettingsKey.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStringDecoder>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <fstream>

namespace {

// The list's roles: the entry's index, and what a column sorts by.
constexpr int kEntryRole = Qt::UserRole + 1;
constexpr int kSortRole = Qt::UserRole + 2;
// The places' roles: the band, and the day file (empty: every day).
constexpr int kBandRole = Qt::UserRole + 1;
constexpr int kDayRole = Qt::UserRole + 2;

// Searches sender and subject, in any case.
class SenderSubjectFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setWanted(const QString& wanted)
    {
        m_wanted = wanted;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (m_wanted.isEmpty())
            return true;
        for (const int column : {ArchiveViewer::FromColumn, ArchiveViewer::SubjectColumn})
            if (sourceModel()->index(row, column, parent).data().toString().contains(m_wanted, Qt::CaseInsensitive))
                return true;
        return false;
    }

private:
    QString m_wanted;
};

QString fromCharset(const std::string& bytes, const std::string& charset)
{
    QStringDecoder decoder(charset.empty() ? "UTF-8" : charset.c_str());
    if (!decoder.isValid())
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const QString text = decoder(QByteArray::fromStdString(bytes));
    return decoder.hasError() ? QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())) : text;
}

// A header field's value with its RFC 2047 encoded words decoded.
QString fieldText(const std::string& value)
{
    QString out;
    for (const FieldPiece& piece : fieldPieces(value))
        out += fromCharset(piece.bytes, piece.encoded ? piece.charset : "UTF-8");
    return out;
}

// A restored copy is known by its text, wherever it lies in its day file.
std::string placeKey(const ArchiveEntry& entry)
{
    return entry.digest;
}

// "SF261208.txt" as the day it names, for the places and the sorting.
QDate dayOf(const std::string& dayFile)
{
    const std::string name = dayFile.substr(dayFile.rfind('/') + 1);
    return QDate::fromString(QString::fromStdString("20" + name.substr(2, 6)), "yyyyMMdd");
}

} // namespace

std::vector<std::string> bandSubjectMacros()
{
    std::vector<std::string> macros;
    CRegistry reg;
    const bool opened = openSettingsKey(reg);
    for (int band = 1; band <= 5; ++band)
        macros.push_back(opened ? settingText(reg, Setting::SubjectMacro, band)
                                : settingDefaultText(Setting::SubjectMacro));
    return macros;
}

ArchiveViewer::ArchiveViewer(std::vector<ArchiveLocation> locations, std::string dataRoot,
                             std::vector<std::string> subjectMacros, QWidget* parent)
    : QMainWindow(parent), m_locations(std::move(locations)), m_dataRoot(std::move(dataRoot)),
      m_subjectMacros(std::move(subjectMacros))
{
    setWindowTitle("Quillfence Pro Archive Viewer");
    m_places = new QTreeWidget;
    m_places->setHeaderLabel("Archive");
    m_search = new QLineEdit;
    m_search->setPlaceholderText("Search sender and subject");
    m_search->setClearButtonEnabled(true);
    m_model = new QStandardItemModel(0, ColumnCount, this);
    m_model->setHorizontalHeaderLabels({"Date", "From", "Subject", "Rating", "Decision"});
    m_filter = new SenderSubjectFilter(this);
    m_filter->setSourceModel(m_model);
    m_filter->setSortRole(kSortRole);
    m_list = new QTableView;
    m_list->setModel(m_filter);
    m_list->setSortingEnabled(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    m_list->setWordWrap(false);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    m_list->horizontalHeader()->setStretchLastSection(true);
    const int character = m_list->fontMetrics().averageCharWidth();
    for (const auto& [column, characters] : {std::pair{DateColumn, 20}, std::pair{FromColumn, 30},
                                             std::pair{SubjectColumn, 40}, std::pair{RatingColumn, 8}})
        m_list->setColumnWidth(column, characters * character);
    m_message = new QPlainTextEdit;
    m_message->setReadOnly(true);
    m_message->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_restore = new QPushButton("&Restore");
    m_restore->setToolTip("Deliver the message to the mail program at its next collection");
    m_learnWanted = new QPushButton("Learn as &Wanted");
    m_learnSpam = new QPushButton("Learn as &Spam");
    m_delete = new QPushButton("&Delete...");
    m_empty = new QPushButton("&Empty Old Days...");
    m_status = new QLabel;

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_restore, m_learnWanted, m_learnSpam, m_delete})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(m_empty);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    auto* messages = new QSplitter(Qt::Vertical);
    messages->addWidget(m_list);
    messages->addWidget(m_message);
    rightLayout->addWidget(m_search);
    rightLayout->addWidget(messages, 1);
    rightLayout->addLayout(buttons);
    rightLayout->addWidget(m_status);
    auto* split = new QSplitter;
    split->addWidget(m_places);
    split->addWidget(right);
    split->setStretchFactor(1, 1);
    split->setSizes({180, 820});
    setCentralWidget(split);
    resize(1000, 700);

    connect(m_places, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { loadPlace(item); });
    connect(m_search, &QLineEdit::textChanged, this,
            [this](const QString& text) { static_cast<SenderSubjectFilter*>(m_filter)->setWanted(text); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { showSelected(); });
    connect(m_restore, &QPushButton::clicked, this, &ArchiveViewer::restoreSelected);
    connect(m_learnWanted, &QPushButton::clicked, this, [this] { learnSelected(false); });
    connect(m_learnSpam, &QPushButton::clicked, this, [this] { learnSelected(true); });
    connect(m_delete, &QPushButton::clicked, this, [this] { deleteSelected(true); });
    connect(m_empty, &QPushButton::clicked, this, [this] {
        CRegistry reg;
        openSettingsKey(reg);
        bool given = false;
        const int days = QInputDialog::getInt(this, "Quillfence Pro", "Delete the days older than (days):",
                                              settingNumber(reg, Setting::TidyDays), 0, 36500, 1, &given);
        if (given)
            emptyOldDays(days, true);
    });
    fillPlaces();
    showSelected();
}

void ArchiveViewer::fillPlaces()
{
    m_places->clear();
    for (const ArchiveLocation& location : m_locations) {
        auto* band = new QTreeWidgetItem(m_places, {QString::fromStdString(location.name)});
        band->setData(0, kBandRole, location.band);
        std::vector<std::string> days = archiveDayFiles(location.folder);
        for (auto it = days.rbegin(); it != days.rend(); ++it) {
            const QDate day = dayOf(*it);
            auto* item = new QTreeWidgetItem(band, {day.isValid() ? day.toString("ddd d MMM yyyy")
                                                                  : QString::fromStdString(*it)});
            item->setData(0, kBandRole, location.band);
            item->setData(0, kDayRole, QString::fromStdString(*it));
        }
    }
}

void ArchiveViewer::showBand(int band)
{
    for (int i = 0; i < m_places->topLevelItemCount(); ++i)
        if (m_places->topLevelItem(i)->data(0, kBandRole).toInt() == band)
            m_places->setCurrentItem(m_places->topLevelItem(i));
}

void ArchiveViewer::setSearch(const QString& text)
{
    m_search->setText(text);
}

void ArchiveViewer::loadRestored(const ArchiveLocation& location)
{
    m_restored.clear();
    std::ifstream in(location.folder + "/restored.lst");
    for (std::string line; std::getline(in, line);)
        m_restored.insert(line);
}

void ArchiveViewer::loadPlace(QTreeWidgetItem* item)
{
    m_model->removeRows(0, m_model->rowCount());
    m_entries.clear();
    m_message->clear();
    if (item == nullptr)
        return;
    m_band = item->data(0, kBandRole).toInt();
    const ArchiveLocation* location = locationOfBand(m_band);
    if (location == nullptr)
        return;
    loadRestored(*location);
    const QString day = item->data(0, kDayRole).toString();
    std::vector<std::string> days =
        day.isEmpty() ? archiveDayFiles(location->folder) : std::vector<std::string>{day.toStdString()};
    QStringList unreadable;
    for (auto it = days.rbegin(); it != days.rend(); ++it) {
        std::string error;
        std::vector<ArchiveEntry> entries;
        if (!readArchiveEntries(*it, entries, error))
            unreadable << QString::fromStdString(error);
        // Newest first: the file's last copy came last.
        m_entries.insert(m_entries.end(), entries.rbegin(), entries.rend());
    }
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const ArchiveEntry& entry = m_entries[i];
        const QDate dayOfFile = dayOf(entry.dayFile);
        QDateTime sent = QDateTime::fromString(QString::fromStdString(entry.date), Qt::RFC2822Date);
        QList<QStandardItem*> row;
        auto* date = new QStandardItem(sent.isValid() ? sent.toString("yyyy-MM-dd hh:mm")
                                                      : dayOfFile.toString("yyyy-MM-dd"));
        // Newest first also when sorted by date: the day, then the order within it.
        date->setData(QString("%1 %2").arg(dayOfFile.toString("yyyyMMdd")).arg(entry.place.offset, 12, 10, QChar('0')),
                      kSortRole);
        date->setData(static_cast<qulonglong>(i), kEntryRole);
        row << date;
        for (const std::string& field : {entry.from, entry.subject}) {
            auto* item = new QStandardItem(fieldText(field));
            item->setData(item->text().toLower(), kSortRole);
            row << item;
        }
        if (isRestored(entry))
            row.back()->setText("(restored) " + row.back()->text());
        auto* rating = new QStandardItem(entry.rated ? QString::number(entry.rating, 'f', 1) : QString());
        rating->setData(entry.rated ? entry.rating : -1.0, kSortRole);
        row << rating;
        auto* decision = new QStandardItem(entry.decisions.empty() ? QString()
                                                                   : fieldText(entry.decisions.front()));
        decision->setData(decision->text().toLower(), kSortRole);
        row << decision;
        m_model->appendRow(row);
    }
    m_list->sortByColumn(DateColumn, Qt::DescendingOrder);
    say(unreadable.isEmpty() ? QString("%1 messages").arg(m_entries.size()) : unreadable.join("; "));
    if (rowCount() > 0)
        selectRow(0);
    showSelected();
}

int ArchiveViewer::rowCount() const
{
    return m_filter->rowCount();
}

const ArchiveEntry* ArchiveViewer::entryAt(int row) const
{
    const QModelIndex index = m_filter->index(row, DateColumn);
    if (!index.isValid())
        return nullptr;
    const size_t at = index.data(kEntryRole).toULongLong();
    return at < m_entries.size() ? &m_entries[at] : nullptr;
}

void ArchiveViewer::selectRow(int row)
{
    m_list->selectRow(row);
    m_list->setCurrentIndex(m_filter->index(row, DateColumn));
}

const ArchiveEntry* ArchiveViewer::selectedEntry() const
{
    const QModelIndex current = m_list->currentIndex();
    return current.isValid() ? entryAt(current.row()) : nullptr;
}

bool ArchiveViewer::isRestored(const ArchiveEntry& entry) const
{
    return m_restored.count(placeKey(entry)) != 0;
}

const ArchiveLocation* ArchiveViewer::locationOfBand(int band) const
{
    for (const ArchiveLocation& location : m_locations)
        if (location.band == band)
            return &location;
    return nullptr;
}

const ArchiveLocation* ArchiveViewer::locationOf(const ArchiveEntry& entry) const
{
    for (const ArchiveLocation& location : m_locations)
        if (entry.dayFile.rfind(location.folder + "/", 0) == 0)
            return &location;
    return nullptr;
}

void ArchiveViewer::showSelected()
{
    const ArchiveEntry* entry = selectedEntry();
    for (QPushButton* button : {m_restore, m_learnWanted, m_learnSpam, m_delete})
        button->setEnabled(entry != nullptr);
    if (entry == nullptr) {
        m_message->clear();
        return;
    }
    std::string text, error;
    if (!readArchiveText(*entry, text, error)) {
        m_message->setPlainText(QString::fromStdString(error));
        return;
    }
    const ReadableMessage readable = readableMessage(text);
    QString shown;
    for (const std::string& decision : entry->decisions)
        shown += "Filter: " + fieldText(decision) + "\n";
    if (!shown.isEmpty())
        shown += "\n";
    for (const auto& [name, value] : readable.fields) {
        const QString field = QString::fromStdString(name);
        if (field.compare("X-Quillfence-Pro", Qt::CaseInsensitive) == 0)
            continue;
        for (const char* wanted : {"From", "To", "Cc", "Date", "Subject", "Reply-To"})
            if (field.compare(wanted, Qt::CaseInsensitive) == 0)
                shown += field + ": " + fieldText(value) + "\n";
    }
    for (const ReadablePart& part : readable.parts) {
        shown += "\n";
        if (part.text)
            shown += fromCharset(part.body, part.charset).replace('\r', QString()) + "\n";
        else
            shown += QString("[%1%2]\n")
                         .arg(QString::fromStdString(part.type.empty() ? "attachment" : part.type),
                              part.name.empty() ? QString() : ": " + QString::fromStdString(part.name));
    }
    m_message->setPlainText(shown);
}

void ArchiveViewer::say(const QString& text)
{
    m_status->setText(text);
}

void ArchiveViewer::restoreSelected()
{
    const ArchiveEntry* entry = selectedEntry();
    const ArchiveLocation* location = entry ? locationOf(*entry) : nullptr;
    if (entry == nullptr || location == nullptr)
        return;
    std::string text, error, path;
    const std::string& macro = m_subjectMacros.at(static_cast<size_t>(location->band - 1));
    if (!readArchiveText(*entry, text, error) ||
        !restoreToPending(m_dataRoot + "/pending", restoredText(text, macro), path, error)) {
        say("Not restored: " + QString::fromStdString(error));
        return;
    }
    const std::string key = placeKey(*entry);
    std::ofstream(location->folder + "/restored.lst", std::ios::app) << key << "\n";
    m_restored.insert(key);
    const QModelIndex subject = m_filter->mapToSource(m_list->currentIndex().siblingAtColumn(SubjectColumn));
    if (QStandardItem* item = m_model->itemFromIndex(subject); item && !item->text().startsWith("(restored) "))
        item->setText("(restored) " + item->text());
    say("Restored: the mail program gets it at its next collection.");
}

void ArchiveViewer::learnSelected(bool asSpam)
{
    const ArchiveEntry* entry = selectedEntry();
    const ArchiveLocation* location = entry ? locationOf(*entry) : nullptr;
    if (entry == nullptr || location == nullptr)
        return;
    std::string text, error;
    if (!readArchiveText(*entry, text, error)) {
        say("Not learned: " + QString::fromStdString(error));
        return;
    }
    // Learned as the mail client had it: without the filter's block.
    const std::string original = restoredText(text, m_subjectMacros.at(static_cast<size_t>(location->band - 1)));
    try {
        makeFolders(m_dataRoot + "/learn");
        TokenStore store(tokenStorePath(m_dataRoot), true);
        LearnBatch batch(store);
        const LearnBatch::Outcome outcome = batch.learnText(original, asSpam ? MailKind::Spam : MailKind::Ham);
        batch.commit();
        const QString kind = asSpam ? "spam" : "wanted mail";
        say(outcome == LearnBatch::Outcome::Unchanged ? "Learned as " + kind + " already."
            : outcome == LearnBatch::Outcome::Moved  ? "Learned as " + kind + " now, no longer as the other kind."
                                                     : "Learned as " + kind + ".");
    } catch (const std::exception& failure) {
        say(QString("Not learned: ") + failure.what());
    }
}

void ArchiveViewer::deleteSelected(bool ask)
{
    const ArchiveEntry* entry = selectedEntry();
    if (entry == nullptr)
        return;
    if (ask && !askYesNo(this, "Quillfence Pro", "Delete this message from the archive?\nIt cannot be restored afterwards."))
        return;
    std::string error;
    if (!deleteArchiveEntry(*entry, error)) {
        say("Not deleted: " + QString::fromStdString(error));
        return;
    }
    loadPlace(m_places->currentItem());
    say("Deleted.");
}

void ArchiveViewer::emptyOldDays(int days, bool ask)
{
    const ArchiveLocation* location = locationOfBand(m_band);
    if (location == nullptr)
        return;
    if (ask && !askYesNo(this, "Quillfence Pro",
                         QString("Delete the days of %1 older than %2 days?")
                             .arg(QString::fromStdString(location->name))
                             .arg(days)))
        return;
    tidyDayFiles(location->folder, {"sf"}, ".txt", days);
    const int band = m_band;
    fillPlaces();
    showBand(band);
}
