#pragma once
// The Port Setting dialog: which serial port, and its baud rate, parity, data
// bits and stop bits. It edits a copy of the line parameters; every byte of
// the record other than those four fields and the parity-check bit comes
// back exactly as it went in.
#include "settings/data_exchange.h"
#include "settings/port_settings.h"

#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;

class CPortSettingDlg : public CExchangeDialog {
    Q_OBJECT
public:
    explicit CPortSettingDlg(const PortSettings& settings, QWidget* pParent = nullptr);

    void SetPortName(const QString& name) { m_strPort = name; }
    QString GetPortName() const { return m_strPort; }
    PortSettings GetPortSettings() const { return m_dcb; }

    bool OnInitDialog() override;
    void OnOK() override;

    // Selects the four parameter lists from the record; a value missing from
    // a list's table leaves that list without selection.
    void SelectFromSettings(const PortSettings& settings);
    // Rebuilds the port list from the ports present now and selects its
    // first entry.
    void FillPortList();

    // The lists' tables, index for index with their entries.
    static const QList<uint32_t> kBaudRates;
    static const QStringList kParityTexts;
    static const QList<uint8_t> kParities;
    static const QList<bool> kParityChecks;
    static const QList<uint8_t> kByteSizes;
    static const QStringList kStopBitsTexts;
    static const QList<uint8_t> kStopBits;

    // The five lists.
    QComboBox* m_cbPort = nullptr;
    QComboBox* m_cbStopBits = nullptr;
    QComboBox* m_cbParity = nullptr;
    QComboBox* m_cbDataBits = nullptr;
    QComboBox* m_cbBaudRate = nullptr;
    QString m_strPort = QStringLiteral("COM1");
    PortSettings m_dcb;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

private:
    // Shows the device that stands behind the selected port.
    void UpdateDevicePath();

    QLabel* m_labelDevicePath = nullptr;
};
