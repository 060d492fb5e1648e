#pragma once
// The Record Setting dialog: record every chunk or only those inside a
// window at the start of every period, and show chunks as text or as
// hexadecimal. The two numbers are checked at OK, in either mode.
#include "settings/data_exchange.h"
#include "settings/record_settings.h"

#include <cstdint>

class CSpinButton;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CRecordSettingDlg : public CExchangeDialog {
    Q_OBJECT
public:
    explicit CRecordSettingDlg(QWidget* pParent = nullptr);

    void SetShowFormat(int32_t format) { m_nShowFormat = format; }
    int32_t GetShowFormat() const { return m_nShowFormat; }
    void SetRecordSettings(const RecordSettings& settings);
    RecordSettings GetRecordSettings() const;

    bool OnInitDialog() override;
    // Enables the "Record On Every" edit, the "Record Time Length" edit and
    // the unit list; the rest of the dialog stays enabled either way.
    void EnablePartialControls(bool enable);
    void OnRecordAll() { EnablePartialControls(false); }
    void OnRecordPartial() { EnablePartialControls(true); }

    QLineEdit* m_editLength = nullptr;
    QLineEdit* m_editPeriod = nullptr;
    QComboBox* m_cbUnit = nullptr;
    int32_t m_nShowFormat = 0;    // 0 "String", 1 "Hex"
    int32_t m_nUnit = 0;          // 0 "Sec", 1 "Min", 2 "Hour"
    uint32_t m_nPeriod = 1;
    uint32_t m_nTimeLength = 1;   // seconds
    int32_t m_nRecordMode = 0;    // 0 "Record All Data", 1 "Record Partial"

    QComboBox* m_cbShowFormat = nullptr;
    QRadioButton* m_radioRecordAll = nullptr;
    QRadioButton* m_radioRecordPartial = nullptr;
    CSpinButton* m_spinPeriod = nullptr;
    CSpinButton* m_spinLength = nullptr;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

private:
};
