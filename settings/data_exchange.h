#pragma once
// Moving values between a dialog's members and its controls. Into the
// controls when the dialog opens; out of them, with checks, at OK. A check
// that fails says why in a message box, puts the focus back on the field
// with its whole text selected, stops the exchange there and keeps the
// dialog open.
#include <QDialog>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

class QAbstractButton;
class QDialogButtonBox;
class QPushButton;
class QComboBox;
class QLineEdit;

class CDataExchange {
public:
    explicit CDataExchange(bool bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate) {}

    // True: out of the controls into the members, with checks.
    const bool m_bSaveAndValidate;

    bool Failed() const { return m_bFailed; }
    // The edit that a following range check refers to.
    void PrepareEditCtrl(QLineEdit* edit) { m_pLastEdit = edit; }
    // Ends the exchange: the focus goes back to the last edit with its text
    // selected, and every later exchange step does nothing.
    void Fail();

private:
    QLineEdit* m_pLastEdit = nullptr;
    bool m_bFailed = false;
};

// A list's selection index; -1 when out of the list (or nothing selected).
void DDX_CBIndex(CDataExchange* pDX, QComboBox* list, int32_t& index);
// A list's selected text; empty when nothing is selected. Into the list it
// selects the entry equal to `text`, else the first starting with it.
void DDX_CBString(CDataExchange* pDX, QComboBox* list, QString& text);
// An unsigned number in an edit, written as decimal. Out of the edit a text
// that is not a number shows "Please enter a positive integer.".
void DDX_Text(CDataExchange* pDX, QLineEdit* edit, uint32_t& value);
// At OK: a value outside minVal to maxVal shows "Please enter an integer
// between minVal and maxVal." for the edit read last.
void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t minVal, uint32_t maxVal);
// The index of the checked button of a radio group; -1 when none is.
void DDX_Radio(CDataExchange* pDX, const QList<QAbstractButton*>& group, int32_t& value);

// The number an edit's text holds: blanks and tabs around it, an optional
// plus sign, then decimal digits. A minus sign, an empty text or anything
// else gives no number. Values beyond 32 bits give the largest 32-bit value,
// so a range check refuses them rather than seeing them wrapped.
std::optional<uint32_t> ParseUnsignedText(const QString& text);

// List searches, case-insensitive, starting after entry `startAfter` (-1 for
// the whole list) and wrapping round to the beginning. -1 when none matches;
// an empty text matches nothing.
int FindListString(const QComboBox* list, int startAfter, const QString& prefix);
int FindListStringExact(const QComboBox* list, int startAfter, const QString& text);

// A dialog whose members are exchanged with its controls: DoModal runs
// OnInitDialog once and then the modal loop; OK runs the exchange out and
// ends the dialog with IDOK only when every check passed; Cancel, Escape and
// the close button end it with IDCANCEL.
class CExchangeDialog : public QDialog {
    Q_OBJECT
public:
    explicit CExchangeDialog(QWidget* pParent = nullptr);

    int DoModal();
    bool UpdateData(bool bSaveAndValidate = true);

    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

protected:
    virtual void DoDataExchange(CDataExchange* pDX) = 0;
    // The OK (default) and Cancel buttons, wired to OnOK and OnCancel.
    QDialogButtonBox* MakeOkCancelButtons();
    QPushButton* m_btnOK = nullptr;

private:
    bool m_bInitialized = false;
};
