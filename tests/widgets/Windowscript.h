#pragma once
// Helpers for tests that drive the main window as a user would, on a program
// directory of their own: its controls found by their object names, the plan
// files, the dialogs it opens, and test runs whose results the test decides.

#include "Dialogscript.h"
#include "Fakeworkers.h"

#include "app/Main_quellan.h"
#include "app/Windowsettings.h"
#include "dialogs/Edititem.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Programdir.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

inline std::string Gbk(const QString& text) { return ToGbk(text).value(); }

// A fresh program directory with the two plan files, the window made on it
// and the script that answers its message boxes.
class TWindowScratch {
public:
    ~TWindowScratch() { Window.reset(); }

    QString Path(const QString& name) const { return FDir.filePath(name); }
    QString StorePath() const { return Path(QStringLiteral("Projects.dat")); }

    // Texts are written as GBK.
    void WriteFile(const QString& name, const QString& text) const
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const std::string bytes = Gbk(text);
        file.write(bytes.data(), qint64(bytes.size()));
    }
    void WriteStore(const QString& text) const { WriteFile(QStringLiteral("Projects.dat"), text); }
    void WriteSetting(const QString& plan) const
    {
        WriteFile(QStringLiteral("DestLists.ini"), QStringLiteral("[config]\r\nproject=") + plan + "\r\n");
    }
    QString ReadFile(const QString& name) const
    {
        QFile file(Path(name));
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("<missing>");
        return FromGbk(file.readAll().toStdString());
    }
    QString Store() const { return ReadFile(QStringLiteral("Projects.dat")); }
    QString Setting() const { return ReadFile(QStringLiteral("DestLists.ini")); }
    // The window's own settings file, which the user's configuration folder
    // would hold.
    QString WindowSettingsPath() const { return Path(QStringLiteral("config/orvel/orvel.ini")); }

    TfrmTarnix& Open()
    {
        Window = std::make_unique<TfrmTarnix>();
        Window->show();
        return *Window;
    }

    TBoxScript Boxes;
    std::unique_ptr<TfrmTarnix> Window;

private:
    QTemporaryDir FDir;
    TProgramDirScope FProgramDir{FDir.path().toStdString()};
    TWindowSettings::TFileScope FWindowSettings{WindowSettingsPath()};
};

// --- controls by their object names; a missing one ends the test program ---

template <class T>
T* Control(const QWidget& window, const char* name)
{
    T* control = window.findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr)
        qFatal("the window has no %s named %s", T::staticMetaObject.className(), name);
    return control;
}

inline QAction* Action(const QWidget& window, const char* name) { return Control<QAction>(window, name); }
inline void Trigger(const QWidget& window, const char* action) { Action(window, action)->trigger(); }
inline bool Enabled(const QWidget& window, const char* action) { return Action(window, action)->isEnabled(); }
inline QTreeWidget* List(const QWidget& window) { return Control<QTreeWidget>(window, "lvInfos"); }
inline QString PanelText(const QWidget& window, const char* panel) { return Control<QLabel>(window, panel)->text(); }
inline QString StatusText(const QWidget& window)
{
    return Control<QStatusBar>(window, "StatusBar")->currentMessage();
}

// Every command of the command table, by name.
inline const char* const kPlanCommands[] = {"actNewProject", "actOpenProject", "actSaveProject", "actSaveAsProject",
                                            "actDelProject"};
inline const char* const kRunLockedCommands[] = {"actNewProject",  "actOpenProject", "actSaveProject",
                                                 "actSaveAsProject", "actDelProject", "actAddItem",
                                                 "actDelItem",     "actModifyItem",  "actTestSpending"};

// --- the list ---

inline QStringList ColumnTexts(const QWidget& window, int column)
{
    QStringList texts;
    for (int i = 0; i < List(window)->topLevelItemCount(); ++i)
        texts << List(window)->topLevelItem(i)->text(column);
    return texts;
}
inline QStringList RowNames(const QWidget& window) { return ColumnTexts(window, 0); }
inline QStringList RowTexts(const QWidget& window, int row)
{
    QStringList texts;
    for (int column = 0; column < List(window)->columnCount(); ++column)
        texts << List(window)->topLevelItem(row)->text(column);
    return texts;
}
inline QString TimeText(const QWidget& window, int row) { return List(window)->topLevelItem(row)->text(3); }

inline QPoint RowCentre(const QWidget& window, int row)
{
    QTreeWidget* list = List(window);
    return list->visualItemRect(list->topLevelItem(row)).center();
}

// A click on the first row, Ctrl+clicks on the others; none clears the selection.
inline void SelectRows(const QWidget& window, std::initializer_list<int> rows)
{
    QTreeWidget* list = List(window);
    list->clearSelection();
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    for (int row : rows) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, RowCentre(window, row));
        modifiers = Qt::ControlModifier;
    }
}

inline void SelectRowsNamed(const QWidget& window, const QStringList& names)
{
    const QStringList shown = RowNames(window);
    List(window)->clearSelection();
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    for (int i = 0; i < shown.size(); ++i) {
        if (!names.contains(shown[i]))
            continue;
        QTest::mouseClick(List(window)->viewport(), Qt::LeftButton, modifiers, RowCentre(window, i));
        modifiers = Qt::ControlModifier;
    }
}

inline void SelectAllRows(const QWidget& window)
{
    QTest::keyClick(List(window), Qt::Key_A, Qt::ControlModifier);
}

inline void DoubleClickRow(const QWidget& window, int row)
{
    QTreeWidget* list = List(window);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(window, row));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(window, row));
}

inline void ClickHeader(const QWidget& window, int column)
{
    QHeaderView* header = List(window)->header();
    const QRect section(header->sectionViewportPosition(column), 0, header->sectionSize(column), header->height());
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, section.center());
}

// --- the edit item dialog ---

// Replaces the text of an edit the way a user does: select all, type.
inline void TypeInto(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    TypeText(edit, text);
}

// The next edit item dialog is typed into and confirmed with its button.
inline void FillNextEditItem(const QString& name, const QString& address, int doType, QString* caption = nullptr)
{
    WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [=](TfrmEditItem& d) {
        if (caption != nullptr)
            *caption = d.windowTitle();
        TypeInto(d.edtName, name);
        TypeInto(d.edtDomainIP, address);
        d.cbDoType->setCurrentIndex(doType);
        QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
    });
}

inline void CancelNextDialog(const QString& objectName)
{
    WhenModal(objectName, [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
}

inline void AddItem(const QWidget& window, const QString& name, const QString& address, int doType = dtPing)
{
    FillNextEditItem(name, address, doType);
    Trigger(window, "actAddItem");
}

// What the next edit item dialog showed before it was cancelled.
struct TShownDialog {
    QString Caption, Name, Address;
    int DoType = -2;
    bool NameEnabled = true, AddressEnabled = true;
    std::vector<std::string> ItemNames;
};

inline void InspectAndCancelNextEditItem(TShownDialog& shown)
{
    WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&shown](TfrmEditItem& d) {
        shown = {d.windowTitle(), d.edtName->text(), d.edtDomainIP->text(), d.cbDoType->currentIndex(),
                 d.edtName->isEnabled(), d.edtDomainIP->isEnabled(), d.FItemNames};
        QTest::mouseClick(d.btnCancel, Qt::LeftButton);
    });
}

// Every row is bound to an item of its own showing what the row shows: the
// modify command on each row alone opens with the row's name and host.
// Leaves the last row selected.
inline void CheckRowsBound(const QWidget& window)
{
    for (int row = 0; row < List(window)->topLevelItemCount(); ++row) {
        SelectRows(window, {row});
        TShownDialog shown;
        InspectAndCancelNextEditItem(shown);
        Trigger(window, "actModifyItem");
        QCOMPARE(shown.Caption, QStringLiteral("修改测速项(单条修改)"));
        QCOMPARE(shown.Name, List(window)->topLevelItem(row)->text(0));
        QCOMPARE(shown.Address, List(window)->topLevelItem(row)->text(1));
    }
}

// Keys reach the commands of the active window only.
inline bool Activate(QWidget& window)
{
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

// --- test runs ---

// Starts a run and waits until it has ended.
inline void RunToTheEnd(const QWidget& window)
{
    Trigger(window, "actTestSpending");
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 10000);
}

// Once this returns true, what the window queued for the event loop before
// the call (a box after a run) has run: a zero timer queued after it runs
// after it. For checks that something did not happen.
inline bool QueuedWorkDone()
{
    const auto reached = std::make_shared<bool>(false);
    QTimer::singleShot(0, [reached] { *reached = true; });
    return QTest::qWaitFor([&reached] { return *reached; }, 10000);
}

// Whether the window holds its plan for changed: closing it asks to save.
// The question is cancelled, and a window that closed is shown again.
inline bool AsksToSave(QWidget& window, TBoxScript& boxes)
{
    const size_t before = boxes.Seen.size();
    boxes.Answer({IDCANCEL});
    const bool closed = window.close();
    const bool asked = boxes.Seen.size() > before;
    if (!asked)
        boxes.Answers.pop_back();
    if (closed)
        window.show();
    return asked;
}
