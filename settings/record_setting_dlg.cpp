#include "settings/record_setting_dlg.h"

#include "settings/list_accessibility.h"
#include "settings/spin_button.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

constexpr uint32_t kMinNumber = 1;
constexpr uint32_t kMaxNumber = 999;

QLineEdit* makeNumberEdit(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12);
    return edit;
}

CSpinButton* makeSpin(QLineEdit* buddy, QWidget* parent, const char* name)
{
    auto* spin = new CSpinButton(buddy, parent);
    spin->setObjectName(QLatin1String(name));
    spin->SetRange(kMinNumber, kMaxNumber);
    return spin;
}

QComboBox* makeList(QWidget* parent, const char* name, const QStringList& entries)
{
    InstallListAccessibility();
    auto* list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    list->addItems(entries);
    return list;
}

// An edit with its arrows right against it.
QHBoxLayout* numberField(QLineEdit* edit, CSpinButton* spin)
{
    auto* field = new QHBoxLayout;
    field->setSpacing(0);
    field->addWidget(edit);
    field->addWidget(spin);
    return field;
}

} // namespace

CRecordSettingDlg::CRecordSettingDlg(QWidget* pParent) : CExchangeDialog(pParent)
{
    setObjectName(QStringLiteral("recordSettingDialog"));
    setWindowTitle(QStringLiteral("Record Setting"));

    auto* group = new QGroupBox(QStringLiteral("Advance"), this);
    group->setObjectName(QStringLiteral("advanceGroup"));
    m_radioRecordAll = new QRadioButton(QStringLiteral("Record All Data"), group);
    m_radioRecordAll->setObjectName(QStringLiteral("recordAll"));
    m_radioRecordPartial = new QRadioButton(QStringLiteral("Record Partial"), group);
    m_radioRecordPartial->setObjectName(QStringLiteral("recordPartial"));

    m_editPeriod = makeNumberEdit(group, "periodEdit");
    m_spinPeriod = makeSpin(m_editPeriod, group, "periodSpin");
    m_cbUnit = makeList(group, "unitList", {QStringLiteral("Sec"), QStringLiteral("Min"), QStringLiteral("Hour")});
    m_editLength = makeNumberEdit(group, "lengthEdit");
    m_spinLength = makeSpin(m_editLength, group, "lengthSpin");

    auto* periodLabel = new QLabel(QStringLiteral("Record On Every"), group);
    periodLabel->setBuddy(m_editPeriod);
    auto* lengthLabel = new QLabel(QStringLiteral("Record Time Length"), group);
    lengthLabel->setBuddy(m_editLength);
    auto* secondLabel = new QLabel(QStringLiteral("Second"), group);
    // The unit list has no label of its own on screen: the row's label
    // introduces it ("Record On Every" ... "Min").
    SetListLabel(m_cbUnit, periodLabel);
    m_spinPeriod->SetAccessibleName(periodLabel->text());
    m_spinLength->SetAccessibleName(lengthLabel->text());

    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->addWidget(m_radioRecordAll, 0, 0, 1, 2);
    grid->addWidget(m_radioRecordPartial, 1, 0, 1, 2);
    grid->addItem(new QSpacerItem(0, 6), 2, 0);
    grid->addWidget(periodLabel, 3, 0, 1, 2);
    grid->addLayout(numberField(m_editPeriod, m_spinPeriod), 4, 0);
    grid->addWidget(m_cbUnit, 4, 1);
    grid->addItem(new QSpacerItem(0, 6), 5, 0);
    grid->addWidget(lengthLabel, 6, 0, 1, 2);
    grid->addLayout(numberField(m_editLength, m_spinLength), 7, 0);
    grid->addWidget(secondLabel, 7, 1);
    grid->setColumnStretch(2, 1);

    m_cbShowFormat = makeList(this, "showFormatList", {QStringLiteral("String"), QStringLiteral("Hex")});
    auto* formatLabel = new QLabel(QStringLiteral("Show Format"), this);
    formatLabel->setBuddy(m_cbShowFormat);
    auto* format = new QHBoxLayout;
    format->addWidget(formatLabel);
    format->addWidget(m_cbShowFormat, 1);

    QDialogButtonBox* buttons = MakeOkCancelButtons();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addSpacing(4);
    layout->addLayout(format);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The controls follow the choice however it was made: a click, the
    // keyboard, the data exchange or a screen reader's action.
    connect(m_radioRecordAll, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            OnRecordAll();
    });
    connect(m_radioRecordPartial, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            OnRecordPartial();
    });
}

void CRecordSettingDlg::SetRecordSettings(const RecordSettings& settings)
{
    m_nPeriod = uint32_t(settings.nPeriod);
    m_nUnit = settings.nUnit;
    m_nRecordMode = settings.bRecordAll == 0 ? 1 : 0;
    m_nTimeLength = uint32_t(settings.nLength);
}

RecordSettings CRecordSettingDlg::GetRecordSettings() const
{
    RecordSettings settings{};
    settings.nUnit = m_nUnit;
    settings.nPeriod = int32_t(m_nPeriod);
    settings.nLength = int32_t(m_nTimeLength);
    settings.bRecordAll = m_nRecordMode == 0 ? 1 : 0;
    return settings;
}

void CRecordSettingDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_CBIndex(pDX, m_cbShowFormat, m_nShowFormat);
    DDX_CBIndex(pDX, m_cbUnit, m_nUnit);
    DDX_Text(pDX, m_editPeriod, m_nPeriod);
    DDV_MinMaxUInt(pDX, m_nPeriod, kMinNumber, kMaxNumber);
    DDX_Text(pDX, m_editLength, m_nTimeLength);
    DDV_MinMaxUInt(pDX, m_nTimeLength, kMinNumber, kMaxNumber);
    DDX_Radio(pDX, {m_radioRecordAll, m_radioRecordPartial}, m_nRecordMode);
}

bool CRecordSettingDlg::OnInitDialog()
{
    CExchangeDialog::OnInitDialog();
    EnablePartialControls(m_nRecordMode != 0);
    m_btnOK->setFocus();
    return true;
}

void CRecordSettingDlg::EnablePartialControls(bool enable)
{
    m_editPeriod->setEnabled(enable);
    m_editLength->setEnabled(enable);
    m_cbUnit->setEnabled(enable);
}
