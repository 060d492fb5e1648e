#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace {

MessageHandler s_handler;

QMessageBox::Icon iconFor(unsigned type)
{
    switch (type & 0xF0) {
    case MB_ICONSTOP: return QMessageBox::Critical;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

} // namespace

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type)
{
    if (s_handler)
        return s_handler(ShownMessage{text, caption, type});
    QMessageBox box(iconFor(type), caption, text, QMessageBox::Ok, owner);
    box.exec();
    return IDOK;
}

int AfxMessageBox(const QString& text, unsigned type)
{
    return ShowMessageBox(QApplication::activeWindow(), text, QStringLiteral("Vantrel"), type);
}

void SetMessageHandler(MessageHandler handler)
{
    s_handler = std::move(handler);
}
