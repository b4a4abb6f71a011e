#pragma once
// Helpers for Qt tests that answer message boxes and drive modal dialogs.

#include "vqlib/Vqwindows.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <QtTest>

#include <deque>
#include <functional>
#include <vector>

// Answers every message box from a script and records what was asked. A box
// without a scripted answer is answered IDCANCEL (IDOK for a single OK button)
// and counted as unexpected.
class TBoxScript {
public:
    void Answer(std::initializer_list<int> answers) { Answers.insert(Answers.end(), answers); }
    QStringList Texts() const
    {
        QStringList texts;
        for (const auto& request : Seen)
            texts << request.Text;
        return texts;
    }

    std::vector<TMsgBoxRequest> Seen;
    std::deque<int> Answers;
    int Unexpected = 0;

private:
    int Reply(const TMsgBoxRequest& request)
    {
        Seen.push_back(request);
        if (Answers.empty()) {
            ++Unexpected;
            return (request.Style & 0x0F) == MB_OK ? int(IDOK) : int(IDCANCEL);
        }
        const int answer = Answers.front();
        Answers.pop_front();
        return answer;
    }

    // Last, so that it goes first: no box reaches a half-destroyed script.
    TMsgBoxHookScope FScope{[this](const TMsgBoxRequest& request) { return Reply(request); }};
};

// Types text key by key like a user, also characters QTest::keyClicks cannot
// send (it takes Latin-1 only).
inline void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

// The widget that Tab moves the focus to from this one.
inline QWidget* NextTabStop(QWidget* widget)
{
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

// Runs action on the next modal dialog of this object name once it is shown.
// A dialog that never appears is a failure; the timer then gives up.
inline void WhenModal(const QString& objectName, std::function<void(QDialog&)> action, int timeoutMs = 5000)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible() && dialog->objectName() == objectName) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            action(*dialog);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            QTest::qFail(qPrintable("no modal dialog " + objectName), __FILE__, __LINE__);
        }
    });
    timer->start();
}

// The modal dialog expected next, typed.
template <class TDialog>
void WhenModal(const QString& objectName, std::function<void(TDialog&)> action, int timeoutMs = 5000)
{
    WhenModal(
        objectName,
        [action](QDialog& dialog) {
            auto* typed = qobject_cast<TDialog*>(&dialog);
            QVERIFY(typed != nullptr);
            action(*typed);
        },
        timeoutMs);
}
