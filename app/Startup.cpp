#include "app/Startup.h"

#include "app/Apperror.h"
#include "app/Images.h"
#include "app/Main_quellan.h"

#include <QApplication>

void SetApplicationNames(QApplication& app)
{
    // The window titles carry the product's name. Set as the display name,
    // Qt would append it to every title; the application name names the
    // window class (WM_CLASS "orvel") and, with no organisation, the per-user
    // data folder $XDG_DATA_HOME/orvel.
    app.setOrganizationName(QString());
    app.setApplicationName(QStringLiteral("orvel"));
}

std::unique_ptr<TfrmTarnix> CreateForms(QApplication& app)
{
    std::unique_ptr<TfrmTarnix> window;
    RunGuarded([&] {
        SetApplicationNames(app);
        app.setWindowIcon(ApplicationIcon());
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
