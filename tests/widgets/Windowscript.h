#pragma once
// Helpers for tests that drive the main window on a program directory of
// their own: plan files, rows and the edit item dialog. The including test
// includes ui_Main_quellan.h first (AUTOUIC looks in the test's own sources).

#include "Dialogscript.h"

#include "app/Main_quellan.h"
#include "dialogs/Edititem.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Programdir.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

inline std::string Gbk(const QString& text) { return ToGbk(text).value(); }

// A fresh program directory with the two plan files; the window made on it.
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

    TfrmTarnix& Open()
    {
        Window = std::make_unique<TfrmTarnix>();
        Window->show();
        return *Window;
    }

    std::unique_ptr<TfrmTarnix> Window;

private:
    QTemporaryDir FDir;
    TProgramDirScope FProgramDir{FDir.path().toStdString()};
};

inline QTreeWidget* List(TfrmTarnix& window) { return window.ui->lvInfos; }

inline QStringList RowNames(TfrmTarnix& window)
{
    QStringList names;
    for (int i = 0; i < List(window)->topLevelItemCount(); ++i)
        names << List(window)->topLevelItem(i)->text(0);
    return names;
}

inline QStringList InfoNames(const TfrmTarnix& window)
{
    QStringList names;
    for (const TDNSDispInfo& info : window.Infos)
        names << FromGbk(info.Name);
    return names;
}

// Every row shows the record it points at, and that record is in Infos.
inline void CheckRowsBound(TfrmTarnix& window)
{
    QTreeWidget* list = List(window);
    QCOMPARE(size_t(list->topLevelItemCount()), window.Infos.size());
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = list->topLevelItem(i);
        const TDNSDispInfo* info = TfrmTarnix::RowInfo(row);
        QVERIFY(info >= window.Infos.data() && info < window.Infos.data() + window.Infos.size());
        QCOMPARE(row->text(0), FromGbk(info->Name));
        QCOMPARE(row->text(1), FromGbk(info->DomainIP));
    }
}

// Shows the rows in reverse, as a sort would reorder them without touching Infos.
inline void ReverseRows(TfrmTarnix& window)
{
    QTreeWidget* list = List(window);
    QList<QTreeWidgetItem*> rows;
    while (list->topLevelItemCount() > 0)
        rows.prepend(list->takeTopLevelItem(0));
    list->addTopLevelItems(rows);
}

inline void SelectRows(TfrmTarnix& window, std::initializer_list<int> rows)
{
    List(window)->clearSelection();
    for (int row : rows)
        List(window)->topLevelItem(row)->setSelected(true);
}

inline void SelectRowsNamed(TfrmTarnix& window, const QStringList& names)
{
    List(window)->clearSelection();
    for (int i = 0; i < List(window)->topLevelItemCount(); ++i)
        if (names.contains(List(window)->topLevelItem(i)->text(0)))
            List(window)->topLevelItem(i)->setSelected(true);
}

// The next edit item dialog is typed into and confirmed with its button.
inline void FillNextEditItem(const QString& name, const QString& address, int doType,
                             QString* caption = nullptr)
{
    WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [=](TfrmEditItem& d) {
        if (caption != nullptr)
            *caption = d.windowTitle();
        d.edtName->setText(name);
        d.edtDomainIP->setText(address);
        d.cbDoType->setCurrentIndex(doType);
        QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
    });
}

inline void CancelNextDialog(const QString& objectName)
{
    WhenModal(objectName, [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
}

inline void AddItem(TfrmTarnix& window, const QString& name, const QString& address, int doType = dtPing)
{
    FillNextEditItem(name, address, doType);
    window.ui->actAddItem->trigger();
}
