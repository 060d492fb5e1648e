#include "app/monitor_app.h"
#include "app/single_instance.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/res/vantrel.svg")));

    if (!CSingleInstance::Current().Claim(CSingleInstance::KeyFor(QApplication::applicationFilePath())))
        return -1;
    theApp.InitInstance();
    return 0;
}
