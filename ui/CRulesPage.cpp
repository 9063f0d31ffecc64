#include "ui/CRulesPage.h"

#include "common/CRegistry.h"
#include "common/SettingValues.h"
#include "common/ProgramContext.h"
#include "filter/RuleStore.h"
#include "ui/MessageBoxes.h"
#include "ui/RuleEditor.h"
#include "ui/SettingsKey.h"
#include "ui/UserRuleFile.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QFontMetrics>
#include <QScrollBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

const char* const kCaption = "Quillfence Pro";
constexpr int kUserRole = Qt::UserRole;          // bool: a rule of user.sfr
constexpr int kNameRole = Qt::UserRole + 1;      // the name the file knows

std::string rulesFolder()
{
    return programContext().dataRoot + "/rules";
}

QString ratingText(unsigned tenths)
{
    return QString::asprintf("%.1f", tenths / 10.0);
}

} // namespace

CRulesPage::CRulesPage(QWidget* parent) : CCSPropertyPage(parent)
{
    m_list = new QTreeWidget(this);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({"Rules", "Rating"});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Opening a row edits the rule; its name is edited with Rename or F2.
    m_list->setEditTriggers(QAbstractItemView::EditKeyPressed);
    m_list->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(RatingColumn, QHeaderView::ResizeToContents);
    m_list->header()->setStretchLastSection(false);

    m_new = new QPushButton("New", this);
    m_copy = new QPushButton("Copy", this);
    m_delete = new QPushButton("Delete", this);
    m_rename = new QPushButton("Rename", this);
    m_edit = new QPushButton("Edit", this);
    connect(m_new, &QPushButton::clicked, this, &CRulesPage::newRule);
    connect(m_copy, &QPushButton::clicked, this, &CRulesPage::copyRule);
    connect(m_delete, &QPushButton::clicked, this, &CRulesPage::deleteRules);
    connect(m_rename, &QPushButton::clicked, this, &CRulesPage::startRename);
    connect(m_edit, &QPushButton::clicked, this, &CRulesPage::editRule);
    connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        m_list->setCurrentItem(item);
        editRule();
    });
    connect(m_list, &QTreeWidget::itemChanged, this, &CRulesPage::labelEdited);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {m_new, m_copy, m_delete, m_rename, m_edit})
        buttons->addWidget(button);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
}

QSize CRulesPage::sizeHint() const
{
    // Each column as wide as its widest text (the heading's or a row's),
    // with the margins the style puts around an item's text.
    const int margins = 2 * (m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1) + 8;
    auto columnWidth = [&](int column) {
        int widest = m_list->header()->fontMetrics().horizontalAdvance(m_list->headerItem()->text(column));
        for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = m_list->topLevelItem(i);
            widest = std::max(widest, QFontMetrics(item->font(column)).horizontalAdvance(item->text(column)));
        }
        return widest + margins;
    };
    QSize hint = CCSPropertyPage::sizeHint();
    const int wanted = columnWidth(NameColumn) + columnWidth(RatingColumn) +
                       m_list->verticalScrollBar()->sizeHint().width() + 2 * m_list->frameWidth();
    hint.rwidth() += std::max(0, wanted - m_list->sizeHint().width());
    return hint;
}

QTreeWidgetItem* CRulesPage::addRow(const QString& name, const QString& rating, bool userRule, bool enabled)
{
    const bool filling = std::exchange(m_filling, true);
    auto* item = new QTreeWidgetItem(m_list, {name, rating});
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    if (userRule)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    item->setCheckState(NameColumn, enabled ? Qt::Checked : Qt::Unchecked);
    item->setData(NameColumn, kUserRole, userRule);
    item->setData(NameColumn, kNameRole, name);
    m_filling = filling;
    return item;
}

void CRulesPage::onInitialise()
{
    struct Entry {
        std::string name;
        int rating;
        bool user;
    };
    std::vector<Entry> entries;
    const UserRuleFile files(rulesFolder());
    for (const auto& rule : UserRuleFile::listRules(files.systemPath()))
        entries.push_back({rule.name, rule.rating, false});
    for (const auto& rule : UserRuleFile::listRules(files.userPath())) {
        auto same = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == rule.name; });
        if (same != entries.end())
            *same = {rule.name, rule.rating, true};
        else
            entries.push_back({rule.name, rule.rating, true});
    }

    CRegistry::StringList order, disabled;
    CRegistry settings, priorities;
    bool havePriorities = false;
    if (settings.OpenKey(programContext().settingsHive, "quilfpro", "/", false)) {
        querySetting(settings, Setting::RuleOrder, order);
        querySetting(settings, Setting::DisabledRules, disabled);
        // Through the parent: opening "/priority" directly would make the key.
        havePriorities = priorities.OpenKey(settings, "priority", false);
    }

    std::vector<const Entry*> rows;
    std::vector<bool> placed(entries.size(), false);
    for (const std::string& wanted : order) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!placed[i] && QString::fromStdString(entries[i].name)
                                      .compare(QString::fromStdString(wanted), Qt::CaseInsensitive) == 0) {
                placed[i] = true;
                rows.push_back(&entries[i]);
                break;
            }
        }
    }
    for (size_t i = 0; i < entries.size(); ++i)
        if (!placed[i])
            rows.push_back(&entries[i]);

    for (const Entry* entry : rows) {
        unsigned rating = static_cast<unsigned>(entry->rating);
        if (havePriorities)
            priorities.QueryValue(encodePercent(entry->name).c_str(), rating);
        const bool isDisabled = std::find(disabled.begin(), disabled.end(), entry->name) != disabled.end();
        addRow(QString::fromStdString(entry->name), ratingText(rating), entry->user, !isDisabled);
    }
}

bool CRulesPage::onOK()
{
    CRegistry priorities;
    if (openSettingsKey(priorities, "/priority")) {
        priorities.EmptyKey();
        for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = m_list->topLevelItem(i);
            priorities.SetValue(encodePercent(item->text(NameColumn).toStdString()).c_str(),
                                ratingTenths(item->text(RatingColumn)));
        }
    }
    CRegistry settings;
    if (openSettingsKey(settings)) {
        CRegistry::StringList order, disabled;
        for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = m_list->topLevelItem(i);
            order.push_back(item->text(NameColumn).toStdString());
            if (!isEnabled(item))
                disabled.push_back(order.back());
        }
        storeSetting(settings, Setting::RuleOrder, order);
        storeSetting(settings, Setting::DisabledRules, disabled);
    }
    return true;
}

QTreeWidgetItem* CRulesPage::row(const QString& name) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->text(NameColumn) == name)
            return m_list->topLevelItem(i);
    return nullptr;
}

bool CRulesPage::isUserRule(const QTreeWidgetItem* row)
{
    return row->data(NameColumn, kUserRole).toBool();
}

bool CRulesPage::isEnabled(const QTreeWidgetItem* row)
{
    return row->checkState(NameColumn) == Qt::Checked;
}

QStringList CRulesPage::names() const
{
    QStringList result;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        result << m_list->topLevelItem(i)->text(NameColumn);
    return result;
}

// The filter keys ratings and the rule order without regard to case, so two
// rules whose names differ only in case would share them.
bool CRulesPage::nameInUse(const QString& name, const QTreeWidgetItem* except) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item != except && item->text(NameColumn).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void CRulesPage::newRule()
{
    QString name;
    for (int n = 1; name.isEmpty() || nameInUse(name); ++n)
        name = QString::asprintf("<New user rule #%d>", n);
    if (!UserRuleFile(rulesFolder()).append(name.toStdString()))
        return;
    QTreeWidgetItem* item = addRow(name, "5.0", true, true);
    m_list->setCurrentItem(item);
}

void CRulesPage::copyRule()
{
    QTreeWidgetItem* source = m_list->currentItem();
    if (source == nullptr)
        return;
    const QString sourceName = source->text(NameColumn);
    QString name;
    for (int n = 1; name.isEmpty() || nameInUse(name); ++n)
        name = sourceName + QString::asprintf(" - Copy #%d", n);
    if (!UserRuleFile(rulesFolder()).copy(!isUserRule(source), sourceName.toStdString(), name.toStdString()))
        return;
    QTreeWidgetItem* item = addRow(name, source->text(RatingColumn), true, isEnabled(source));
    m_list->setCurrentItem(item);
}

void CRulesPage::deleteRules()
{
    // In list order, whatever order they were selected in.
    std::vector<QTreeWidgetItem*> chosen;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->isSelected() && isUserRule(item))
            chosen.push_back(item);
    }
    for (QTreeWidgetItem* item : chosen) {
        const QString name = item->text(NameColumn);
        if (!askYesNo(this, kCaption, QString("Are you sure you wish to delete rule\n%1?").arg(name)))
            continue;
        if (UserRuleFile(rulesFolder()).remove(name.toStdString()))
            delete item;
    }
}

void CRulesPage::startRename()
{
    QTreeWidgetItem* item = m_list->currentItem();
    if (item != nullptr && isUserRule(item))
        m_list->editItem(item, NameColumn);
}

void CRulesPage::labelEdited(QTreeWidgetItem* row, int column)
{
    if (m_filling || column != NameColumn)
        return;
    const QString typed = row->text(NameColumn);
    const QString known = row->data(NameColumn, kNameRole).toString();
    if (typed == known)
        return;   // the check box changed
    {
        const QSignalBlocker quiet(m_list);
        row->setText(NameColumn, known);
    }
    renameRule(row, typed);
}

bool CRulesPage::renameRule(QTreeWidgetItem* row, const QString& newName)
{
    if (row == nullptr || !isUserRule(row))
        return false;
    const QString name = newName.trimmed();
    const QString old = row->data(NameColumn, kNameRole).toString();
    if (name.isEmpty() || name == old)
        return false;
    if (nameInUse(name, row)) {
        showMessageBox(this, QMessageBox::Critical, kCaption, "Rule of that name already exists");
        return false;
    }
    if (!UserRuleFile::isValidName(name.toStdString())) {
        showMessageBox(this, QMessageBox::Critical, kCaption, "A rule name cannot contain a line break");
        return false;
    }
    if (!UserRuleFile(rulesFolder()).rename(old.toStdString(), name.toStdString()))
        return false;
    const bool filling = std::exchange(m_filling, true);
    row->setText(NameColumn, name);
    row->setData(NameColumn, kNameRole, name);
    m_filling = filling;
    return true;
}

void CRulesPage::editRule()
{
    QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr)
        return;
    RuleEditor editor(item->text(NameColumn), item->text(RatingColumn), isUserRule(item), isEnabled(item), this);
    if (editor.exec() != QDialog::Accepted || !editor.isUserRule())
        return;
    const bool filling = std::exchange(m_filling, true);
    item->setText(RatingColumn, editor.rating());
    item->setCheckState(NameColumn, editor.isEnabled() ? Qt::Checked : Qt::Unchecked);
    m_filling = filling;
}
