#include "app/Main_quellan.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TfrmTarnix window;
    window.show();
    return app.exec();
}
