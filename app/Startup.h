#pragma once
// Start-up of the window program.

#include <memory>

class QApplication;
class TfrmTarnix;

// The names Qt derives the window class and the per-user data folder from.
void SetApplicationNames(QApplication& app);

// Sets the application's names and icon and creates the main window; an
// error on the way is shown in the error box and yields null.
std::unique_ptr<TfrmTarnix> CreateForms(QApplication& app);

// CreateForms, then the message loop until the main window closes. An error
// is shown in the error box; the program then ends normally. Returns 0.
int RunApplication(QApplication& app);
