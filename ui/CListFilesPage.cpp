#include "ui/CListFilesPage.h"

#include "common/ProgramContext.h"
#include "ui/ListEditor.h"
#include "ui/MessageBoxes.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kFileRole = Qt::UserRole;
constexpr int kSystemRole = Qt::UserRole + 1;

} // namespace

const char* const CListFilesPage::kSystemMark = " (System)";

CListFilesPage::CListFilesPage(const QString& column, const QString& userExtension, const QString& systemExtension,
                               QWidget* parent)
    : CCSPropertyPage(parent),
      m_userExtension(userExtension),
      m_systemExtension(systemExtension),
      m_lists(new QTreeWidget(this))
{
    m_lists->setColumnCount(1);
    m_lists->setHeaderLabels({column});
    m_lists->setRootIsDecorated(false);
    m_lists->header()->setStretchLastSection(true);
    auto* edit = new QPushButton(tr("Edit..."), this);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(edit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lists);
    layout->addLayout(row);
    connect(m_lists, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { openItem(item); });
    connect(edit, &QPushButton::clicked, this, [this] { openItem(m_lists->currentItem()); });
}

void CListFilesPage::onInitialise()
{
    const QDir rules(QString::fromStdString(programContext().dataRoot) + "/rules");
    const QFileInfoList files = rules.entryInfoList({"*" + m_userExtension, "*" + m_systemExtension},
                                                    QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& file : files) {
        // The pattern matches without regard to case; only the exact
        // extensions are the filter's lists.
        const QString name = file.fileName();
        const bool system = name.endsWith(m_systemExtension);
        if (!system && !name.endsWith(m_userExtension))
            continue;
        const QString shown = file.completeBaseName() + (system ? kSystemMark : "");
        auto* item = new QTreeWidgetItem(m_lists, {shown});
        item->setData(0, kFileRole, name);
        item->setData(0, kSystemRole, system);
        if (system) {
            QFont italic = item->font(0);
            italic.setItalic(true);
            item->setFont(0, italic);
        }
    }
}

void CListFilesPage::openRow(int row)
{
    openItem(m_lists->topLevelItem(row));
}

void CListFilesPage::openItem(QTreeWidgetItem* item)
{
    if (item == nullptr)
        return;
    if (item->data(0, kSystemRole).toBool()) {
        showMessageBox(this, QMessageBox::Warning, "Spam Filter", "You cannot edit this system list");
        return;
    }
    ListEditor editor(item->data(0, kFileRole).toString(), this);
    editor.exec();
}
