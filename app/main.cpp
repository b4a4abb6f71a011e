#include "app/Startup.h"
#include "app/Uiexecutorqt.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InstallQtUiExecutor();
    return RunApplication(app);
}
