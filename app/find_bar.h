#pragma once
// The find bar under the output area: a text field, Previous and Next, the
// number of matches, a case rule and a close button. It searches the whole
// capture as the user types (the scan runs on a worker thread) and asks for
// the current match to be highlighted. While it is open, Escape anywhere in
// the window or its close button hides it without closing the window; F3 and
// Shift+F3 step through the matches from anywhere in the window, wrapping
// around at either end.
#include <QPointer>
#include <QWidget>
#include <functional>

class CCaptureSearch;
class COutputTextSource;
class QCheckBox;
class QLabel;
class QLineEdit;
class QShortcut;
class QToolButton;

class CFindBar : public QWidget {
    Q_OBJECT
public:
    // `text` must outlive the bar.
    CFindBar(const COutputTextSource& text, QWidget* parent);
    ~CFindBar() override;

    // Ctrl+F, F3, Shift+F3 and (while the bar is open) Escape in every part
    // of `window`.
    void AttachShortcuts(QWidget* window);
    // Where a search starts when no match is current (the top of the screen).
    void SetOrigin(std::function<qint64()> origin) { m_origin = std::move(origin); }

    // Shows the bar and puts the cursor in its text field.
    void Open();
    // Hides the bar, drops the highlight and gives the focus back.
    void Close();
    void FindNext();
    void FindPrevious();
    // The output area's text grew or was cleared.
    void TextChanged();

    QString CountText() const;

signals:
    void highlightRequested(qint64 start, qint64 length);
    void highlightCleared();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Restart();  // the pattern or the case rule changed
    void StartSearch();
    qint64 Anchor() const;  // the current match, else the origin
    void ForgetMatch();
    void ShowCount();
    void OnMatchFound(qint64 start, qint64 length, qint64 number);
    void OnMatchNotFound();
    void OnCountChanged(qint64 count, bool complete);
    Qt::CaseSensitivity CaseRule() const;

    CCaptureSearch* m_search = nullptr;
    QLineEdit* m_editText = nullptr;
    QToolButton* m_btnPrevious = nullptr;
    QToolButton* m_btnNext = nullptr;
    QLabel* m_count = nullptr;
    QCheckBox* m_cbCase = nullptr;
    QToolButton* m_btnClose = nullptr;
    QShortcut* m_escape = nullptr;
    QPointer<QWidget> m_previousFocus;  // where the focus goes back on Close
    std::function<qint64()> m_origin;

    bool m_bSearching = false;  // the search has the field's pattern
    qint64 m_nCurrentStart = -1;  // the match highlighted, -1 for none
    qint64 m_nCurrentNumber = 0;
    qint64 m_nCount = 0;
    bool m_bCountComplete = false;
    bool m_bNotFound = false;
};
