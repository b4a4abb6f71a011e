#include "app/Startup.h"
#include "app/Uiexecutorqt.h"

#include <QApplication>
#include <QStringList>

namespace {

QStringList Arguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (const auto status = AnswerWithoutDisplay(Arguments(argc, argv)))
        return *status;
    QApplication app(argc, argv);
    // Qt has taken its own options out of argv by now.
    if (const auto status = RefuseUnknownArguments(app.arguments()))
        return *status;
    InstallQtUiExecutor();
    return RunApplication(app);
}
