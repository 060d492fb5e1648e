// The main window's Port Setting and Record Setting commands: each runs its
// dialog on copies of the settings and takes the result only on OK.
#include "app/monitor_dlg.h"
#include "platform/message_box.h"
#include "settings/port_setting_dlg.h"
#include "settings/record_setting_dlg.h"

void CMonitorDlg::OnPortSetting()
{
    CPortSettingDlg dlg(m_engine.m_portSettings, this);
    dlg.SetPortName(m_engine.m_strPortName);
    if (dlg.DoModal() != IDOK)
        return;
    m_engine.m_portSettings = dlg.GetPortSettings();
    m_engine.m_strPortName = dlg.GetPortName();
    // Applies the new line parameters to an open port; none is open while
    // the command is enabled, so they take effect at the next Begin.
    if (const QString problem = m_engine.ConfigurePort(); !problem.isEmpty())
        ShowMessageBox(this, problem, QStringLiteral("Error"), MB_OK);
}

void CMonitorDlg::OnRecordSetting()
{
    CRecordSettingDlg dlg(this);
    dlg.SetShowFormat(m_engine.m_nShowFormat);
    dlg.SetRecordSettings(m_engine.m_recordSettings);
    if (dlg.DoModal() != IDOK)
        return;
    RecordSettings settings = dlg.GetRecordSettings();
    // A unit list left without selection (its stored value was not one of
    // the entries) keeps the stored unit rather than taking -1. A show format
    // without selection is stored as -1: it shows chunks as text.
    if (settings.nUnit < 0 || settings.nUnit > 2)
        settings.nUnit = m_engine.m_recordSettings.nUnit;
    m_engine.m_nShowFormat = dlg.GetShowFormat();
    m_engine.m_recordSettings = settings;
}
