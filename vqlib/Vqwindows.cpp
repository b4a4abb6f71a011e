#include "vqlib/Vqwindows.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

THook<TMsgBoxHook> MsgBoxHook;

constexpr unsigned MbDefaultButtonMask = 0x0F00;
constexpr unsigned MbDefaultButton2 = 0x0100;
constexpr unsigned MbDefaultButton3 = 0x0200;

QString CaptionForIcon(uint8_t icon)
{
    switch (icon) {
    case MB_ICONERROR: return QStringLiteral("错误");
    case MB_ICONQUESTION: return QStringLiteral("询问");
    case MB_ICONWARNING: return QStringLiteral("注意");
    default: return QStringLiteral("信息");
    }
}

QMessageBox::Icon BoxIcon(uint8_t icon)
{
    switch (icon) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

struct TBoxButton {
    const char* Text;
    QMessageBox::ButtonRole Role;
    int Code;
};

// The buttons in their order on the box; the last one answers Escape and the
// close box (Cancel where there is one, No for Yes/No, OK when alone).
std::vector<TBoxButton> ButtonsFor(uint8_t buttons)
{
    const TBoxButton ok{"确定", QMessageBox::AcceptRole, IDOK};
    const TBoxButton cancel{"取消", QMessageBox::RejectRole, IDCANCEL};
    // Beside 是(&Y) and 否(&N) the cancel button gets a key of its own too.
    const TBoxButton cancelKeyed{"取消(&C)", QMessageBox::RejectRole, IDCANCEL};
    const TBoxButton yes{"是(&Y)", QMessageBox::YesRole, IDYES};
    const TBoxButton no{"否(&N)", QMessageBox::NoRole, IDNO};
    switch (buttons) {
    case MB_OKCANCEL: return {ok, cancel};
    case MB_YESNOCANCEL: return {yes, no, cancelKeyed};
    case MB_YESNO: return {yes, no};
    default: return {ok};
    }
}

int ShowBox(const QString& caption, const QString& text, uint8_t icon, uint8_t buttons, uint16_t flags)
{
    QMessageBox box(BoxIcon(icon), caption, text, QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    const auto choices = ButtonsFor(buttons);
    std::vector<QPushButton*> pushButtons;
    for (const auto& choice : choices)
        pushButtons.push_back(box.addButton(QString::fromUtf8(choice.Text), choice.Role));
    box.setEscapeButton(pushButtons.back());

    size_t defaultIndex = 0;
    if ((flags & MbDefaultButtonMask) == MbDefaultButton2)
        defaultIndex = 1;
    else if ((flags & MbDefaultButtonMask) == MbDefaultButton3)
        defaultIndex = 2;
    box.setDefaultButton(pushButtons[std::min(defaultIndex, pushButtons.size() - 1)]);

    box.exec();
    for (size_t i = 0; i < pushButtons.size(); ++i) {
        if (box.clickedButton() == pushButtons[i])
            return choices[i].Code;
    }
    return choices.back().Code;
}

}  // namespace

TMsgBoxHookScope::TMsgBoxHookScope(TMsgBoxHook hook) : FScope(MsgBoxHook, std::move(hook)) {}

int MsgBox(const QString& text, uint8_t icon, uint8_t buttons, uint16_t flags)
{
    const QString caption = CaptionForIcon(icon);
    if (const TMsgBoxHook hook = MsgBoxHook.Get())
        return hook({caption, text, static_cast<unsigned>(icon | buttons | flags)});
    return ShowBox(caption, text, icon, buttons, flags);
}

void InfoBox(const QString& text)
{
    MsgBox(text, MB_ICONINFORMATION, MB_OK, 0);
}

bool ConfirmBox(const QString& text, uint16_t flags, uint8_t icon)
{
    return MsgBox(text, icon, MB_OKCANCEL, flags) == IDOK;
}
