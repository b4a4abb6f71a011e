#include "app/Startup.h"

#include "app/Apperror.h"
#include "app/Main_quellan.h"

#include <QApplication>

std::unique_ptr<TfrmTarnix> CreateForms(QApplication& app)
{
    std::unique_ptr<TfrmTarnix> window;
    RunGuarded([&] {
        // The application name, not the display name: Qt would append a display
        // name to every window title.
        app.setApplicationName(QString::fromUtf8(kAppTitle));
        // The dialogs are created by the commands that show them.
        window = std::make_unique<TfrmTarnix>();
    });
    return window;
}

int RunApplication(QApplication& app)
{
    std::unique_ptr<TfrmTarnix> window = CreateForms(app);
    if (!window)
        return 0;
    RunGuarded([&] {
        window->show();
        app.exec();
    });
    return 0;
}
