#include "app/about_dlg.h"

#include "app/monitor_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent), m_strVersion(QStringLiteral("Vantrel V 0.4"))
{
    setWindowTitle(QStringLiteral("Vantrel About"));
    setObjectName(QStringLiteral("aboutDialog"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/res/vantrel.svg")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignCenter);

    m_version = new QLabel(this);
    m_version->setObjectName(QStringLiteral("version"));
    m_version->setAlignment(Qt::AlignCenter);
    QFont big = m_version->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    m_version->setFont(big);

    auto* maker = new QLabel(QStringLiteral("A serial-port data logger by Kerbix."), this);
    auto* note = new QLabel(QStringLiteral("It only listens: nothing is ever\nsent to the instrument."), this);
    maker->setAlignment(Qt::AlignCenter);
    note->setAlignment(Qt::AlignCenter);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(icon);
    layout->addWidget(m_version);
    layout->addSpacing(8);
    layout->addWidget(maker);
    layout->addWidget(note);
    layout->addSpacing(8);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CAboutDlg::DoDataExchange()
{
    m_version->setText(m_strVersion);
}

int CAboutDlg::DoModal()
{
    DoDataExchange();
    return exec();
}

bool CMonitorDlg::OnHelpInfo(void*)
{
    CAboutDlg dlg(this);
    dlg.DoModal();
    return true;
}

void CMonitorDlg::OnAbout()
{
    OnHelpInfo(nullptr);
}
