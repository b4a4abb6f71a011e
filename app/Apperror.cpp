#include "app/Apperror.h"

#include "vqlib/Vqwindows.h"

#include <QString>

namespace {

QString ErrorText(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        // File paths and the socket layer's messages are UTF-8/ASCII here.
        return QString::fromUtf8(e.what());
    } catch (...) {
        return {};
    }
}

}  // namespace

void ShowError(const std::exception_ptr& error)
{
    if (!error)
        return;
    const QString text = ErrorText(error);
    // The box itself must not let anything escape into the event loop.
    try {
        MsgBox(text, MB_ICONERROR, MB_OK, 0);
    } catch (...) {
    }
}
