#pragma once
// The dialogs have no default button, so Enter in an edit confirms nothing;
// a button that has the focus still answers Enter, as it answers Space.

#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QPushButton>

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

inline void LetEnterClickWhenFocused(QPushButton* button) { new TEnterClicksFocusedButton(button); }
