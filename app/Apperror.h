#pragma once
// The application's error box. Qt lets no exception cross its event loop, so
// every command, timer and event handler runs through RunGuarded.

#include <exception>
#include <utility>

// Shows the error in the error box (MsgBox with MB_ICONERROR, so tests see it
// through TMsgBoxHookScope): its what() for a std::exception, an empty message
// for any other thrown value.
void ShowError(const std::exception_ptr& error);

// Runs f; whatever it throws is shown in the error box and the program goes on.
template <class F>
void RunGuarded(F&& f)
{
    try {
        std::forward<F>(f)();
    } catch (...) {
        ShowError(std::current_exception());
    }
}
