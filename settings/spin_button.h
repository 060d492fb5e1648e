#pragma once
// Up and down arrows beside a number edit (the buddy). Each step writes the
// new position into the edit as a decimal number, within the range. The
// edit stays a plain text field: whatever the user types there is checked
// only at OK, with the dialog's own messages.
#include <QWidget>
#include <cstdint>

class QLineEdit;
class QToolButton;

class CSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit CSpinButton(QLineEdit* buddy, QWidget* parent = nullptr);

    void SetRange(uint32_t lower, uint32_t upper);
    // Names the arrows after the number they step: "<name> up", "<name> down".
    void SetAccessibleName(const QString& name);
    // Moves the position by `steps` (negative: down) from the number the
    // buddy shows, and writes it there.
    void Step(int steps);

    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_buddy;
    QToolButton* m_up;
    QToolButton* m_down;
    uint32_t m_lower = 1;
    uint32_t m_upper = 999;
    uint32_t m_position = 1;  // used when the buddy holds no number
};
