#include "ui/CAboutPage.h"

#include <QFont>
#include <QLabel>
#include <QVBoxLayout>

QString CAboutPage::version()
{
#ifdef QF_VERSION
    return QStringLiteral(QF_VERSION);
#else
    return {};
#endif
}

CAboutPage::CAboutPage(QWidget* parent) : CCSPropertyPage(parent), m_version(new QLabel(this))
{
    auto* name = new QLabel("Quillfence Pro", this);
    QFont large = name->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    name->setFont(large);
    m_version->setText(version().isEmpty() ? tr("Version unknown") : tr("Version %1").arg(version()));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(name, 0, Qt::AlignHCenter);
    layout->addWidget(m_version, 0, Qt::AlignHCenter);
    layout->addStretch();
}
