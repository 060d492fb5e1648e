#include "settings/port_setting_dlg.h"

#include "platform/device_map.h"
#include "settings/enumerate_ports.h"
#include "settings/list_accessibility.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

const QList<uint32_t> CPortSettingDlg::kBaudRates = {110,   300,   600,   1200,   2400,   4800,   9600,  14400,
                                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};
const QStringList CPortSettingDlg::kParityTexts = {QStringLiteral("Even"), QStringLiteral("Mark"),
                                                   QStringLiteral("No parity"), QStringLiteral("Odd"),
                                                   QStringLiteral("Space")};
const QList<uint8_t> CPortSettingDlg::kParities = {EVENPARITY, MARKPARITY, NOPARITY, ODDPARITY, SPACEPARITY};
const QList<bool> CPortSettingDlg::kParityChecks = {true, true, false, true, true};
const QList<uint8_t> CPortSettingDlg::kByteSizes = {5, 6, 7, 8};
const QStringList CPortSettingDlg::kStopBitsTexts = {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")};
const QList<uint8_t> CPortSettingDlg::kStopBits = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};

namespace {

QComboBox* makeList(QWidget* parent, const char* name, const QStringList& entries)
{
    InstallListAccessibility();
    auto* list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    list->addItems(entries);
    list->setMinimumContentsLength(9);
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return list;
}

template <typename T>
int indexOf(const QList<T>& table, T value)
{
    return int(table.indexOf(value));
}

} // namespace

CPortSettingDlg::CPortSettingDlg(const PortSettings& settings, QWidget* pParent)
    : CExchangeDialog(pParent), m_dcb(settings)
{
    setObjectName(QStringLiteral("portSettingDialog"));
    setWindowTitle(QStringLiteral("Port Setting"));

    QStringList rates;
    for (uint32_t rate : kBaudRates)
        rates.append(QString::number(rate));
    QStringList dataBits;
    for (uint8_t size : kByteSizes)
        dataBits.append(QString::number(size));

    m_cbPort = makeList(this, "portList", {});
    m_cbBaudRate = makeList(this, "baudRateList", rates);
    m_cbParity = makeList(this, "parityList", kParityTexts);
    m_cbDataBits = makeList(this, "dataBitsList", dataBits);
    m_cbStopBits = makeList(this, "stopBitsList", kStopBitsTexts);

    m_labelDevicePath = new QLabel(this);
    m_labelDevicePath->setObjectName(QStringLiteral("devicePath"));
    m_labelDevicePath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_labelDevicePath->setForegroundRole(QPalette::PlaceholderText);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    const std::pair<const char*, QComboBox*> rows[] = {
        {"Port", m_cbPort},         {"Baud Rate", m_cbBaudRate}, {"Parity", m_cbParity},
        {"Data Bits", m_cbDataBits}, {"Stop Bits", m_cbStopBits},
    };
    int row = 0;
    for (const auto& [text, list] : rows) {
        auto* label = new QLabel(QString::fromLatin1(text), this);
        // The buddy is also the label a screen reader reads for the list.
        label->setBuddy(list);
        grid->addWidget(label, row, 0);
        grid->addWidget(list, row, 1);
        ++row;
    }
    grid->addWidget(m_labelDevicePath, 0, 2);
    grid->setColumnStretch(2, 1);
    grid->setColumnMinimumWidth(2, fontMetrics().horizontalAdvance(QStringLiteral("/dev/ttyUSB00")));

    QDialogButtonBox* buttons = MakeOkCancelButtons();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_cbPort, &QComboBox::currentIndexChanged, this, &CPortSettingDlg::UpdateDevicePath);
}

void CPortSettingDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_CBString(pDX, m_cbPort, m_strPort);
}

bool CPortSettingDlg::OnInitDialog()
{
    CExchangeDialog::OnInitDialog();
    SelectFromSettings(m_dcb);
    FillPortList();

    // The entry equal to the stored name first: a prefix search alone would
    // take COM10 for COM1 and quietly move the user to another port. Then
    // the prefix search from entry 1, entry 0 last.
    int found = FindListStringExact(m_cbPort, -1, m_strPort);
    if (found < 0)
        found = FindListString(m_cbPort, 0, m_strPort);
    if (found >= 0)
        m_cbPort->setCurrentIndex(found);
    UpdateDevicePath();

    m_btnOK->setFocus();
    return true;
}

void CPortSettingDlg::SelectFromSettings(const PortSettings& settings)
{
    m_cbBaudRate->setCurrentIndex(indexOf(kBaudRates, settings.BaudRate));
    m_cbParity->setCurrentIndex(indexOf(kParities, settings.Parity));
    m_cbDataBits->setCurrentIndex(indexOf(kByteSizes, settings.ByteSize));
    m_cbStopBits->setCurrentIndex(indexOf(kStopBits, settings.StopBits));
}

void CPortSettingDlg::FillPortList()
{
    QStringList ports;
    EnumeratePorts(ports);
    m_cbPort->clear();
    m_cbPort->addItems(ports);
    m_cbPort->setCurrentIndex(ports.isEmpty() ? -1 : 0);
}

void CPortSettingDlg::OnOK()
{
    // A list without selection (the stored value is not in its table) keeps
    // the stored value of its field.
    if (const int i = m_cbBaudRate->currentIndex(); i >= 0)
        m_dcb.BaudRate = kBaudRates[i];
    if (const int i = m_cbDataBits->currentIndex(); i >= 0)
        m_dcb.ByteSize = kByteSizes[i];
    if (const int i = m_cbStopBits->currentIndex(); i >= 0)
        m_dcb.StopBits = kStopBits[i];
    if (const int i = m_cbParity->currentIndex(); i >= 0) {
        m_dcb.Parity = kParities[i];
        if (kParityChecks[i])
            m_dcb.Flags |= kDcbParity;
        else
            m_dcb.Flags &= ~uint32_t(kDcbParity);
    }
    CExchangeDialog::OnOK();
}

void CPortSettingDlg::UpdateDevicePath()
{
    if (m_cbPort->count() == 0) {
        m_labelDevicePath->setText(QStringLiteral("(no port found)"));
        m_labelDevicePath->setToolTip({});
        return;
    }
    const QString path = m_cbPort->currentIndex() >= 0 ? platform::devicePathForPort(m_cbPort->currentText()) : QString();
    // Long /dev/serial/by-id names are shortened in the middle; the tooltip
    // keeps the whole path.
    const int width = fontMetrics().averageCharWidth() * 30;
    m_labelDevicePath->setText(fontMetrics().elidedText(path, Qt::ElideMiddle, width));
    m_labelDevicePath->setToolTip(path);
}
