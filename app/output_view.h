#pragma once
// The read-only output area. It shows the tail of the capture's text: the
// whole text lives in the item list, so the view keeps at most kMaxChars
// characters and drops the oldest lines beyond that (Save still writes
// everything). New text always goes at the end, wherever the caret is, and
// the view follows the end unless the user has scrolled up to read.
#include <QPlainTextEdit>

class COutputView : public QPlainTextEdit {
    Q_OBJECT
public:
    // Characters kept: about twelve thousand lines of 80 characters.
    static constexpr int kMaxChars = 1024 * 1024;
    // The most one catch-up lays out. When more has arrived since the last
    // one (a flood faster than anyone reads), the view starts again from
    // this much of the newest text instead of laying out all of it.
    static constexpr int kMaxCatchUpChars = 64 * 1024;

    explicit COutputView(QWidget* parent = nullptr);

    // Replaces everything shown.
    void ResetText(const QString& text);
    // Adds text at the end. Line ends may be "\r\n", "\n" or a lone "\r".
    void AppendText(const QString& text);
    // What the view shows, one "\n" per line end.
    QString ShownText() const { return toPlainText(); }
    // How many characters were dropped from the start to keep the bound.
    qint64 DroppedChars() const { return m_nDropped; }

private:
    QString NormalizeLineEnds(const QString& text);
    void TrimToBound();

    bool m_bPendingCR = false;  // the last text ended in "\r"; a "\n" may follow
    qint64 m_nDropped = 0;
};
