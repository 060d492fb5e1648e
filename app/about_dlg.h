#pragma once
// The About box: the program's name and version.
#include <QDialog>
#include <QString>

class QLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
    int DoModal();
    void DoDataExchange();

    QString m_strVersion;

private:
    QLabel* m_version = nullptr;  // control 1002
};
