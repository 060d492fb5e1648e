#include "settings/data_exchange.h"

#include "platform/message_box.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <limits>

void CDataExchange::Fail()
{
    m_bFailed = true;
    if (!m_pLastEdit)
        return;
    // A disabled edit cannot take the focus; its text is still selected so
    // it shows once the field is enabled.
    if (m_pLastEdit->isEnabled())
        m_pLastEdit->setFocus(Qt::OtherFocusReason);
    m_pLastEdit->selectAll();
}

void DDX_CBIndex(CDataExchange* pDX, QComboBox* list, int32_t& index)
{
    if (pDX->Failed())
        return;
    if (pDX->m_bSaveAndValidate)
        index = list->currentIndex();
    else
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void DDX_CBString(CDataExchange* pDX, QComboBox* list, QString& text)
{
    if (pDX->Failed())
        return;
    if (pDX->m_bSaveAndValidate) {
        text = list->currentIndex() >= 0 ? list->currentText() : QString();
        return;
    }
    int found = FindListStringExact(list, -1, text);
    if (found < 0)
        found = FindListString(list, -1, text);
    if (found >= 0)
        list->setCurrentIndex(found);
}

std::optional<uint32_t> ParseUnsignedText(const QString& text)
{
    auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    if (begin < end && text[begin] == QLatin1Char('+'))
        ++begin;
    if (begin == end)
        return std::nullopt;
    uint64_t value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = std::min<uint64_t>(value * 10 + (c - u'0'), std::numeric_limits<uint32_t>::max());
    }
    return uint32_t(value);
}

void DDX_Text(CDataExchange* pDX, QLineEdit* edit, uint32_t& value)
{
    if (pDX->Failed())
        return;
    pDX->PrepareEditCtrl(edit);
    if (!pDX->m_bSaveAndValidate) {
        edit->setText(QString::number(value));
        return;
    }
    const std::optional<uint32_t> number = ParseUnsignedText(edit->text());
    if (!number) {
        AfxMessageBox(QStringLiteral("Please enter a positive integer."), MB_OK);
        pDX->Fail();
        return;
    }
    value = *number;
}

void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t minVal, uint32_t maxVal)
{
    if (pDX->Failed() || !pDX->m_bSaveAndValidate)
        return;
    if (value >= minVal && value <= maxVal)
        return;
    AfxMessageBox(QStringLiteral("Please enter an integer between %1 and %2.").arg(minVal).arg(maxVal),
                  MB_ICONEXCLAMATION);
    pDX->Fail();
}

void DDX_Radio(CDataExchange* pDX, const QList<QAbstractButton*>& group, int32_t& value)
{
    if (pDX->Failed())
        return;
    if (pDX->m_bSaveAndValidate) {
        value = -1;
        for (int i = 0; i < group.size(); ++i)
            if (group[i]->isChecked())
                value = i;
        return;
    }
    for (int i = 0; i < group.size(); ++i) {
        // An exclusive button refuses to be unchecked; a value outside the
        // group must leave every button clear.
        const bool exclusive = group[i]->autoExclusive();
        group[i]->setAutoExclusive(false);
        group[i]->setChecked(i == value);
        group[i]->setAutoExclusive(exclusive);
    }
}

namespace {

template <typename Match>
int findInList(const QComboBox* list, int startAfter, Match matches)
{
    const int count = list->count();
    if (count == 0)
        return -1;
    const int first = startAfter >= 0 && startAfter < count ? startAfter + 1 : 0;
    for (int step = 0; step < count; ++step) {
        const int i = (first + step) % count;
        if (matches(list->itemText(i)))
            return i;
    }
    return -1;
}

} // namespace

int FindListString(const QComboBox* list, int startAfter, const QString& prefix)
{
    if (prefix.isEmpty())
        return -1;
    return findInList(list, startAfter,
                      [&](const QString& entry) { return entry.startsWith(prefix, Qt::CaseInsensitive); });
}

int FindListStringExact(const QComboBox* list, int startAfter, const QString& text)
{
    if (text.isEmpty())
        return -1;
    return findInList(list, startAfter,
                      [&](const QString& entry) { return entry.compare(text, Qt::CaseInsensitive) == 0; });
}

CExchangeDialog::CExchangeDialog(QWidget* pParent) : QDialog(pParent) {}

int CExchangeDialog::DoModal()
{
    if (!m_bInitialized)
        OnInitDialog();
    return exec();
}

bool CExchangeDialog::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(bSaveAndValidate);
    DoDataExchange(&dx);
    return !dx.Failed();
}

bool CExchangeDialog::OnInitDialog()
{
    m_bInitialized = true;
    UpdateData(false);
    return true;
}

void CExchangeDialog::OnOK()
{
    if (!UpdateData(true))
        return;  // the failing field has the focus; the dialog stays open
    done(IDOK);
}

void CExchangeDialog::OnCancel()
{
    done(IDCANCEL);
}

QDialogButtonBox* CExchangeDialog::MakeOkCancelButtons()
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_btnOK = buttons->button(QDialogButtonBox::Ok);
    m_btnOK->setObjectName(QStringLiteral("okButton"));
    m_btnOK->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CExchangeDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CExchangeDialog::reject);
    return buttons;
}
