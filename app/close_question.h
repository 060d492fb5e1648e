#pragma once
// The question asked before the window closes with items that no Save has
// written: Save, Discard or Cancel. Closing never throws a capture away
// without the user's word.
#include <QtGlobal>

class QWidget;

class CCloseQuestion {
public:
    enum Answer { Save, Discard, Cancel };
    // Modal; Escape or closing the box answers Cancel.
    static Answer Ask(QWidget* owner, qint64 unsavedItems);
};
