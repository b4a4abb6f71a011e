#pragma once
// Message boxes with captions fixed by their icon, owned by the active window.

#include "vqlib/Vqhook.h"

#include <QString>

#include <cstdint>
#include <functional>

enum : uint8_t {
    MB_OK = 0x00, MB_OKCANCEL = 0x01, MB_YESNOCANCEL = 0x03, MB_YESNO = 0x04,
    MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20, MB_ICONWARNING = 0x30, MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

int MsgBox(const QString& text, uint8_t icon, uint8_t buttons, uint16_t flags);
void InfoBox(const QString& text);
bool ConfirmBox(const QString& text, uint16_t flags, uint8_t icon);

// Test seam: while a scope is alive, every box is answered by its hook
// instead of being shown; the hook receives the caption, the text and the
// combined style. Leaving the scope, also by a failing test, restores the
// hook that was there before (none, outside every scope).
struct TMsgBoxRequest {
    QString Caption;
    QString Text;
    unsigned Style;
};
using TMsgBoxHook = std::function<int(const TMsgBoxRequest&)>;

class TMsgBoxHookScope {
public:
    explicit TMsgBoxHookScope(TMsgBoxHook hook);

private:
    THookScope<TMsgBoxHook> FScope;
};
