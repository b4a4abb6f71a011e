#pragma once
// Start-up of the window program.

#include <QStringList>

#include <memory>
#include <optional>

class QApplication;
class QCoreApplication;
class TfrmTarnix;

// The names Qt derives the window class and the per-user data folder from.
void SetApplicationNames(QApplication& app);

// What can be answered before a display is needed, so that it works in any
// terminal: --help and --version (printed, status 0), and an option that is
// neither orvel's nor Qt's own (one line on stderr, status 2). nullopt when
// the window is to start. arguments start with the program.
std::optional<int> AnswerWithoutDisplay(const QStringList& arguments);

// The arguments once Qt has taken its own (-platform, -style ...) out: an
// option or argument orvel does not take is one line on stderr and status 2;
// nullopt when there is none.
std::optional<int> RefuseUnknownArguments(const QStringList& arguments);

// Qt's own texts (standard buttons, the file dialogs) in Chinese like the rest
// of the window, whatever the user's locale. Once per application.
void InstallQtTranslations(QCoreApplication& app);

// Sets the application's names and icon and creates the main window; an
// error on the way is shown in the error box and yields null.
std::unique_ptr<TfrmTarnix> CreateForms(QApplication& app);

// When a window for the same store folder runs already, brings that one to
// the front and returns 0. Otherwise CreateForms, then the message loop until
// the main window closes; a later start for the folder raises the window. An
// error is shown in the error box; the program then ends normally. Returns 0.
int RunApplication(QApplication& app);
