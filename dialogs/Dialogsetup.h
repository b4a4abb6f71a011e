#pragma once
// The set-up the dialogs share: the layout at its designed, fixed size, and
// for the dialogs that take input their window flags and buttons.

#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QPushButton>

// Title and close box, not resizable.
inline constexpr Qt::WindowFlags kInputDialogFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint
    | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;

// Loads the generated layout and keeps the dialog at its designed size.
template <class TUi>
void SetUpFixedDialog(QDialog& dialog, TUi& ui)
{
    ui.setupUi(&dialog);
    dialog.setFixedSize(dialog.size());
}

// Enter in an edit presses the dialog's default button, where it has one; a
// button that has the focus answers Enter itself, as it answers Space.
class TEnterClicksFocusedButton : public QObject {
public:
    explicit TEnterClicksFocusedButton(QPushButton* button) : QObject(button), FButton(button)
    {
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == FButton && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && FButton->isEnabled()) {
                FButton->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPushButton* FButton;
};

// SetUpFixedDialog, then btnConfirm and btnCancel run the dialog's
// btnConfirmClick and btnCancelClick, on a click or on Enter while focused.
template <class TDialog, class TUi>
void SetUpInputDialog(TDialog& dialog, TUi& ui)
{
    SetUpFixedDialog(dialog, ui);
    new TEnterClicksFocusedButton(ui.btnConfirm);
    new TEnterClicksFocusedButton(ui.btnCancel);
    QObject::connect(ui.btnConfirm, &QPushButton::clicked, &dialog, [&dialog] { dialog.btnConfirmClick(); });
    QObject::connect(ui.btnCancel, &QPushButton::clicked, &dialog, [&dialog] { dialog.btnCancelClick(); });
}
