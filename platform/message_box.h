#pragma once
// Every message the program shows goes through here, so a test can take the
// message instead of a person having to dismiss a box.
#include <QString>
#include <functional>

class QWidget;

enum : unsigned {
    MB_OK = 0x00,
    MB_ICONSTOP = 0x10,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2 };

struct ShownMessage {
    QString text;
    QString caption;
    unsigned type = MB_OK;
};

// Modal box captioned with the application's name ("Vantrel").
int AfxMessageBox(const QString& text, unsigned type = MB_OK);
// Modal box owned by `owner`, with the caption given.
int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type = MB_OK);

// While a handler is installed it receives every message instead of a box
// being shown; its result is the box's result. An empty handler restores boxes.
using MessageHandler = std::function<int(const ShownMessage&)>;
void SetMessageHandler(MessageHandler handler);
