#include "app/close_question.h"

#include "app/monitor_dlg.h"
#include "platform/save_file_dialog.h"

#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

CCloseQuestion::Answer CCloseQuestion::Ask(QWidget* owner, qint64 unsavedItems)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vantrel"),
                    QStringLiteral("The capture holds %1 items that have not been saved.\n\n"
                                   "Save them before closing?")
                        .arg(QLocale().toString(unsavedItems)),
                    QMessageBox::NoButton, owner);
    box.setObjectName(QStringLiteral("closeQuestion"));
    QPushButton* save = box.addButton(QStringLiteral("Save"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save)
        return Save;
    if (box.clickedButton() == discard)
        return Discard;
    return Cancel;
}

void CMonitorDlg::reject()
{
    if (ConfirmClose())
        QDialog::reject();
}

bool CMonitorDlg::ConfirmClose()
{
    // Not while a Save is being written: its Cancel ends it first.
    if (m_bSaving)
        return false;
    if (UnsavedItems() == 0)
        return true;
    switch (CCloseQuestion::Ask(this, UnsavedItems())) {
    case CCloseQuestion::Discard:
        m_bCloseConfirmed = true;
        return true;
    case CCloseQuestion::Save: {
        // Save is a command for a stopped capture, but the capture stops
        // only once a file is chosen: Cancel in the dialog leaves it running.
        const SaveFileAnswer answer = AskSaveFileName();
        if (!answer.accepted)
            return false;
        OnStop();
        SaveTo(answer);
        return UnsavedItems() == 0;
    }
    case CCloseQuestion::Cancel:
        break;
    }
    return false;
}
