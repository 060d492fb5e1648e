#pragma once
// The "Menu" button of the command bar. It drops its menu down however it is
// operated: a click, Space, the Down arrow, or a screen reader's Press or
// ShowMenu action (the stock tool button offers ShowMenu but opens nothing
// when the menu pops up at once).
#include <QToolButton>

class CMenuButton : public QToolButton {
    Q_OBJECT
public:
    explicit CMenuButton(QMenu* menu, QWidget* parent = nullptr);

    // Opens the menu from the event loop, so an accessibility call that asks
    // for it returns at once instead of waiting for the menu to close.
    void OpenMenuLater();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
