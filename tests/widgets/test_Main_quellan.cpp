// The main window: layout, commands' enabled rules, the list display, start-up
// and the error box. Every window runs on a temporary program directory.

#include "app/Apperror.h"
#include "app/Images.h"
#include "app/Inforow.h"
#include "app/Main_quellan.h"
#include "app/Startup.h"
#include "dialogs/About.h"
#include "dialogs/Help.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Programdir.h"
#include "vqlib/Vqwindows.h"

#include "ui_Main_quellan.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

#include <optional>
#include <stdexcept>

namespace {

void WriteGbkFile(const QString& path, const QString& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const std::string bytes = ToGbk(text).value();
    file.write(bytes.data(), qint64(bytes.size()));
}

TDNSDispInfo Item(const char* name, uint8_t state, double avg = 0, int32_t failCount = 0, int8_t doType = dtPing)
{
    TDNSDispInfo item;
    item.Name = ToGbk(QString::fromUtf8(name)).value();
    item.DomainIP = "127.0.0.1";
    item.DoType = doType;
    item.State = state;
    item.AvgTime = avg;
    item.FailCount = failCount;
    return item;
}

QStringList RowTexts(QTreeWidgetItem* row)
{
    QStringList texts;
    for (int column = 0; column < 5; ++column)
        texts << row->text(column);
    return texts;
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    std::optional<TProgramDirScope> FProgramDir;
    QList<TMsgBoxRequest> FBoxes;

    QString Path(const char* name) const { return FDir.filePath(QString::fromUtf8(name)); }

private slots:
    void init()
    {
        QVERIFY(FDir.isValid());
        QDir(FDir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(FDir.path()));
        FProgramDir.emplace(FDir.path().toStdString());
        FBoxes.clear();
        SetMsgBoxHook([this](const TMsgBoxRequest& box) {
            FBoxes << box;
            return int(IDOK);
        });
    }

    void cleanup()
    {
        SetMsgBoxHook(nullptr);
        FProgramDir.reset();
    }

    void startsUnnamedAndEmptyInAnEmptyDirectory()
    {
        TfrmTarnix window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--未命名]"));
        QCOMPARE(window.ui->lvInfos->topLevelItemCount(), 0);
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("0"));
        QCOMPARE(window.ui->pnlAvgTime->text(), QString());
        QVERIFY(!window.ui->actDelItem->isEnabled());
        QVERIFY(!window.ui->actModifyItem->isEnabled());
        QVERIFY(window.ui->actAddItem->isEnabled());
        QVERIFY(window.ui->actTestSpending->isEnabled());

        QCOMPARE(window.FProjectsFile, (FDir.path() + "/Projects.dat").toStdString());
        QVERIFY(window.FIniFile);
        QCOMPARE(window.FIniFile->FileName(), (FDir.path() + "/DestLists.ini").toStdString());
        QCOMPARE(window.FTimeout, 5000);
        QCOMPARE(window.FTestTimes, 5);
        QCOMPARE(window.FSortColumn, -1);
        QVERIFY(!window.FSortDescending);
        QVERIFY(!window.FTesting);
        QCOMPARE(window.ui->pnlFinish->text(), QString());  // no run has counted anything
        // An unnamed start writes nothing.
        QVERIFY(!QFile::exists(Path("DestLists.ini")));
        QVERIFY(!QFile::exists(Path("Projects.dat")));
        QVERIFY(FBoxes.isEmpty());
    }

    void opensTheLastPlanOfTheSettingsFile()
    {
        WriteGbkFile(Path("Projects.dat"),
                     QStringLiteral("office=backup^127.0.0.7^0\r\n家里=网关^127.0.0.1^0#门户^localhost^1\r\n"));
        WriteGbkFile(Path("DestLists.ini"), QStringLiteral("[config]\r\nproject=家里\r\n"));
        TfrmTarnix window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--家里]"));
        QCOMPARE(window.FProjectName, ToGbk(QStringLiteral("家里")).value());
        QTreeWidget* list = window.ui->lvInfos;
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(RowTexts(list->topLevelItem(0)),
                 QStringList({"网关", "127.0.0.1", "Ping", "待测速", ""}));
        QCOMPARE(RowTexts(list->topLevelItem(1)),
                 QStringList({"门户", "localhost", "取首页内容", "待测速", ""}));
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("2"));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(TfrmTarnix::RowInfo(list->topLevelItem(i)), &window.Infos[size_t(i)]);
        QVERIFY(FBoxes.isEmpty());
    }

    void opensTheDeliveredPlan()
    {
        for (const char* name : {"Projects.dat", "DestLists.ini"}) {
            const QString delivered = QFINDTESTDATA(QStringLiteral("../../data/") + name);
            QVERIFY(!delivered.isEmpty());
            QVERIFY(QFile::copy(delivered, Path(name)));
        }
        TfrmTarnix window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--常见网站]"));
        const int rows = window.ui->lvInfos->topLevelItemCount();
        QVERIFY(rows >= 8);
        QCOMPARE(window.ui->pnlItemCount->text(), QString::number(rows));
        bool ping = false, homePage = false;
        for (int i = 0; i < rows; ++i) {
            QTreeWidgetItem* row = window.ui->lvInfos->topLevelItem(i);
            QCOMPARE(row->text(3), QStringLiteral("待测速"));
            ping |= row->text(2) == QStringLiteral("Ping");
            homePage |= row->text(2) == QStringLiteral("取首页内容");
        }
        QVERIFY(ping && homePage);
        QVERIFY(FBoxes.isEmpty());
    }

    void hasTheDesignedLayout()
    {
        TfrmTarnix window;
        QCOMPARE(window.size(), QSize(641, 338));
        QCOMPARE(window.pos(), QPoint(265, 315));
        QCOMPARE(window.minimumSize(), QSize(300, 200));
        QCOMPARE(window.font().family(), QStringLiteral("宋体"));
        QCOMPARE(window.font().pointSize(), 9);

        QTreeWidget* list = window.ui->lvInfos;
        const QStringList captions = {"名称", "域名/IP地址", "测速方式", "耗时(毫秒)", "说明"};
        const int widths[] = {100, 100, 72, 72, 260};
        QCOMPARE(list->columnCount(), 5);
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(list->headerItem()->text(column), captions[column]);
            QCOMPARE(list->columnWidth(column), widths[column]);
        }
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(list->contextMenuPolicy(), Qt::CustomContextMenu);
        QVERIFY(list->header()->sectionsClickable());

        QCOMPARE(window.PopupMenu1->actions(),
                 QList<QAction*>({window.ui->actAddItem, window.ui->actDelItem, window.ui->actModifyItem}));
        QCOMPARE(window.tmrFlash->interval(), 200);
        QVERIFY(!window.tmrFlash->isActive());
        QCOMPARE(window.ui->StatusBar->height(), 19);
        QCOMPARE(window.ui->ToolBar1->height(), 27);
        QCOMPARE(window.imgUp.size(), QSize(16, 16));
        QCOMPARE(window.imgDown.size(), QSize(16, 16));

        struct TPanel { QLabel* label; int left, width; const char* hint; };
        for (const TPanel& panel : {TPanel{window.ui->pnlFinish, 150, 45, "测速完成数合计"},
                                    TPanel{window.ui->pnlItemCount, 199, 45, "测速项总数"},
                                    TPanel{window.ui->pnlAvgTime, 340, 61, "平均耗时"}}) {
            QCOMPARE(panel.label->x(), panel.left);
            QCOMPARE(panel.label->size(), QSize(panel.width, 16));
            QCOMPARE(panel.label->toolTip(), QString::fromUtf8(panel.hint));
            QCOMPARE(panel.label->frameShadow(), QFrame::Sunken);
        }
    }

    void commandsHaveTheirCaptionsHintsAndImages()
    {
        TfrmTarnix window;
        struct TCommand { QAction* action; const char* caption; const char* hint; int image; };
        const Ui::TfrmTarnix& ui = *window.ui;
        const TCommand commands[] = {
            {ui.actNewProject, "新建测速方案(&N)", "新建测速方案", imgNew},
            {ui.actOpenProject, "打开测速方案(&O)", "打开测速方案", imgOpen},
            {ui.actSaveProject, "保存测速方案(&S)", "保存测速方案", imgSave},
            {ui.actSaveAsProject, "另存方案为(&A)...", "另存测速方案为...", -1},
            {ui.actDelProject, "删除测速方案(&N)", "删除测速方案", -1},
            {ui.actAddItem, "增加测速项(&A)", "增加测速项", imgAddItem},
            {ui.actDelItem, "删除测速项(&D)", "删除测速项", imgDelItem},
            {ui.actModifyItem, "修改测速项(&M)", "修改测速项", imgModifyItem},
            {ui.actTestSpending, "开始测速(&T)", "开始测速", imgTestSpending},
            {ui.actHelp, "内容(&H)", "", -1},
            {ui.actAbout, "关于(&A)", "", -1},
        };
        for (const TCommand& command : commands) {
            QCOMPARE(command.action->text(), QString::fromUtf8(command.caption));
            QCOMPARE(command.action->statusTip(), QString::fromUtf8(command.hint));
            if (*command.hint)
                QCOMPARE(command.action->toolTip(), QString::fromUtf8(command.hint));
            QCOMPARE(command.action->icon().isNull(), command.image < 0);
            QVERIFY(window.findChild<QAction*>(command.action->objectName()) == command.action);
        }

        const auto menus = window.ui->MainMenu1->actions();
        QCOMPARE(menus.size(), 4);
        QStringList titles;
        for (QAction* menu : menus)
            titles << menu->text();
        QCOMPARE(titles, QStringList({"方案(&F)", "编辑(&E)", "操作(&O)", "帮助(&H)"}));
        const auto planMenu = menus[0]->menu()->actions();
        QCOMPARE(planMenu.size(), 6);
        QVERIFY(planMenu[4]->isSeparator());
        QCOMPARE(planMenu[5], window.ui->actDelProject);

        const auto tools = window.ui->ToolBar1->actions();
        QCOMPARE(tools.size(), 9);
        QVERIFY(tools[3]->isSeparator());
        QVERIFY(tools[7]->isSeparator());
        QCOMPARE(tools[8], window.ui->actTestSpending);
    }

    void drawsSevenImagesInANormalAndAGreyedForm()
    {
        TfrmTarnix window;
        QCOMPARE(int(window.ilDisplay.size()), int(kCommandImageCount));
        QCOMPARE(int(window.ilDisable.size()), int(kCommandImageCount));
        for (int i = 0; i < kCommandImageCount; ++i) {
            const QImage normal = window.ilDisplay[size_t(i)].toImage();
            const QImage greyed = window.ilDisable[size_t(i)].toImage();
            QCOMPARE(normal.size(), QSize(16, 16));
            QCOMPARE(greyed.size(), QSize(16, 16));
            QVERIFY2(normal != greyed, qPrintable(QString::number(i)));
            int drawn = 0;
            for (int y = 0; y < 16; ++y) {
                for (int x = 0; x < 16; ++x) {
                    const QColor c = greyed.pixelColor(x, y);
                    if (c.alpha() == 0)
                        continue;
                    ++drawn;
                    QVERIFY(c.red() == c.green() && c.green() == c.blue());
                }
            }
            QVERIFY(drawn > 20);
        }
    }

    void showsEachStateAndTheFailureText_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<double>("avg");
        QTest::addColumn<int>("failCount");
        QTest::addColumn<int>("doType");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("note");
        QTest::newRow("done with failures") << 0 << 12.3456 << 2 << 0 << "Ping" << "  12.35" << "IP[127.0.0.1] 失败率2/5 ";
        QTest::newRow("done, wide") << 0 << 12345.678 << 0 << 1 << "取首页内容" << "12345.68" << "IP[127.0.0.1] ";
        QTest::newRow("no response") << 3 << 0.0 << 5 << 0 << "Ping" << "没响应" << "IP[127.0.0.1] 失败率5/5 ";
        QTest::newRow("no response, nothing failed") << 3 << 0.0 << 0 << 0 << "Ping" << "没响应" << "IP[127.0.0.1] ";
        QTest::newRow("waiting never shows failures") << 1 << 3.0 << 4 << 0 << "Ping" << "待测速" << "IP[127.0.0.1] ";
        QTest::newRow("testing never shows failures") << 2 << 3.0 << 4 << 2 << "Ping" << "测速中..." << "IP[127.0.0.1] ";
        QTest::newRow("unknown state") << 9 << 3.0 << 4 << 0 << "Ping" << "待测速" << "IP[127.0.0.1] ";
        QTest::newRow("DNS query shows Ping") << 1 << 0.0 << 0 << 2 << "Ping" << "待测速" << "IP[127.0.0.1] ";
        QTest::newRow("unknown method") << 1 << 0.0 << 0 << -56 << "Ping" << "待测速" << "IP[127.0.0.1] ";
    }

    void showsEachStateAndTheFailureText()
    {
        QFETCH(int, state);
        QFETCH(double, avg);
        QFETCH(int, failCount);
        QFETCH(int, doType);
        QFETCH(QString, method);
        QFETCH(QString, time);
        QFETCH(QString, note);
        TfrmTarnix window;
        TDNSDispInfo item = Item("站点", uint8_t(state), avg, failCount, int8_t(doType));
        item.Note = "IP[127.0.0.1] ";
        window.Infos = {item};
        window.RefreshList();
        QTreeWidgetItem* row = window.ui->lvInfos->topLevelItem(0);
        QCOMPARE(RowTexts(row), QStringList({"站点", "127.0.0.1", method, time, note}));
        // Refreshing again must not repeat the failure text.
        window.UpdateItemRow(row, window.Infos[0]);
        QCOMPARE(row->text(4), note);
        QCOMPARE(window.Infos[0].Note, std::string("IP[127.0.0.1] "));
    }

    void updatesTheFirstRowOfTheNameWhenNoRowIsGiven()
    {
        TfrmTarnix window;
        window.Infos = {Item("a", tsWaiting), Item("a", tsWaiting), Item("b", tsWaiting)};
        window.RefreshList();
        QTreeWidget* list = window.ui->lvInfos;

        window.Infos[1].State = tsDone;
        window.Infos[1].AvgTime = 7;
        window.UpdateItemRow(nullptr, window.Infos[1]);
        QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("   7.00"));
        QCOMPARE(TfrmTarnix::RowInfo(list->topLevelItem(0)), &window.Infos[1]);
        QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("待测速"));
        QCOMPARE(TfrmTarnix::RowInfo(list->topLevelItem(1)), &window.Infos[1]);

        TDNSDispInfo stranger = Item("c", tsDone, 1);
        window.UpdateItemRow(nullptr, stranger);
        for (int i = 0; i < 3; ++i)
            QVERIFY(TfrmTarnix::RowInfo(list->topLevelItem(i)) != &stranger);

        // Captions are compared exactly.
        TDNSDispInfo upper = Item("B", tsDone, 1);
        window.UpdateItemRow(nullptr, upper);
        QCOMPARE(list->topLevelItem(2)->text(0), QStringLiteral("b"));
        QCOMPARE(list->topLevelItem(2)->text(3), QStringLiteral("待测速"));
    }

    void averagesTheItemsThatAnsweredAndKeepsTheOldAverageOtherwise()
    {
        TfrmTarnix window;
        window.Infos = {Item("a", tsDone, 10), Item("b", tsDone, 20), Item("c", tsNoResponse, 0, 5),
                        Item("d", tsDone, 60)};
        window.ShowInfo(0, QStringLiteral("测速中"));
        window.ui->pnlFinish->setText(QStringLiteral("3"));
        window.RefreshList();
        QCOMPARE(window.ui->pnlAvgTime->text(), QStringLiteral("30.00"));
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("4"));
        QCOMPARE(window.ui->pnlFinish->text(), QString());

        window.Infos = {Item("a", tsWaiting), Item("b", tsNoResponse, 0, 5)};
        window.ui->pnlFinish->setText(QStringLiteral("2"));
        window.RefreshList();
        QCOMPARE(window.ui->pnlAvgTime->text(), QStringLiteral("30.00"));
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("2"));

        window.Infos.clear();
        window.RefreshList();
        QCOMPARE(window.ui->lvInfos->topLevelItemCount(), 0);
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("0"));
        QCOMPARE(window.ui->pnlAvgTime->text(), QStringLiteral("30.00"));
        QCOMPARE(window.ui->pnlFinish->text(), QString());
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--未命名]"));
    }

    void showInfoPutsTextsOnThePanelsAndTheStatusBar()
    {
        TfrmTarnix window;
        window.ShowInfo(1, QStringLiteral("12"));
        window.ShowInfo(2, QStringLiteral("3.50"));
        window.ShowInfo(0, QStringLiteral("正在测速..."));
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("12"));
        QCOMPARE(window.ui->pnlAvgTime->text(), QStringLiteral("3.50"));
        QCOMPARE(window.ui->StatusBar->currentMessage(), QStringLiteral("正在测速..."));
        window.ShowInfo(7, QStringLiteral("其他"));
        QCOMPARE(window.ui->StatusBar->currentMessage(), QStringLiteral("其他"));
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("12"));
    }

    void selectionAndTheRunDecideWhichCommandsAreEnabled()
    {
        TfrmTarnix window;
        window.Infos = {Item("a", tsWaiting), Item("b", tsWaiting)};
        window.RefreshList();
        QTreeWidget* list = window.ui->lvInfos;
        const Ui::TfrmTarnix& ui = *window.ui;

        list->topLevelItem(1)->setSelected(true);
        QVERIFY(ui.actDelItem->isEnabled());
        QVERIFY(ui.actModifyItem->isEnabled());
        list->clearSelection();
        QVERIFY(!ui.actDelItem->isEnabled());
        QVERIFY(!ui.actModifyItem->isEnabled());

        list->topLevelItem(0)->setSelected(true);
        window.FTesting = true;
        window.UpdateActions();
        for (QAction* action : {ui.actNewProject, ui.actOpenProject, ui.actSaveProject, ui.actSaveAsProject,
                                ui.actDelProject, ui.actAddItem, ui.actDelItem, ui.actModifyItem,
                                ui.actTestSpending})
            QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));
        QVERIFY(ui.actHelp->isEnabled());
        QVERIFY(ui.actAbout->isEnabled());

        window.FTesting = false;
        window.UpdateActions();
        for (QAction* action : ui.MainMenu1->findChildren<QAction*>())
            QVERIFY2(action->isEnabled() || action->isSeparator(), qPrintable(action->objectName()));
    }

    void showingThePanelsPutsThemIntoTheStatusBar()
    {
        TfrmTarnix window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (QLabel* panel : {window.ui->pnlFinish, window.ui->pnlItemCount, window.ui->pnlAvgTime}) {
            QCOMPARE(panel->parentWidget(), static_cast<QWidget*>(window.ui->StatusBar));
            QCOMPARE(panel->y(), 1);
            QVERIFY(panel->isVisible());
        }
        QCOMPARE(window.ui->pnlFinish->x(), 150);
        QCOMPARE(window.ui->pnlItemCount->x(), 199);
        QCOMPARE(window.ui->pnlAvgTime->x(), 340);
        // A hint passing by keeps the run's status text.
        window.ShowInfo(0, QStringLiteral("测速已完成。"));
        window.ui->actAddItem->showStatusText(window.ui->ToolBar1);
        QCOMPARE(window.ui->StatusBar->currentMessage(), QStringLiteral("测速已完成。"));
        window.close();
    }

    void theErrorBoxShowsTheMessageAndTheProgramGoesOn()
    {
        RunGuarded([] { throw EFileError("Cannot open file /x/Projects.dat"); });
        RunGuarded([] { throw 42; });
        QCOMPARE(FBoxes.size(), 2);
        QCOMPARE(FBoxes[0].Caption, QStringLiteral("错误"));
        QCOMPARE(FBoxes[0].Text, QStringLiteral("Cannot open file /x/Projects.dat"));
        QVERIFY(FBoxes[0].Style & MB_ICONERROR);
        QCOMPARE(FBoxes[1].Text, QString());
        QVERIFY(FBoxes[1].Style & MB_ICONERROR);

        // Thrown out of a handler inside the event loop; the loop runs on.
        bool after = false;
        QTimer::singleShot(0, [] { RunGuarded([] { throw std::runtime_error("boom"); }); });
        QTimer::singleShot(1, [&] { after = true; });
        QTRY_VERIFY(after);
        QCOMPARE(FBoxes.size(), 3);
        QCOMPARE(FBoxes[2].Text, QStringLiteral("boom"));
    }

    void anUnreadableStoreEndsStartUpWithTheErrorBox()
    {
        QVERIFY(QDir().mkpath(Path("Projects.dat")));  // exists, cannot be read as a file
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        const std::unique_ptr<TfrmTarnix> window = CreateForms(*app);
        QVERIFY(!window);
        QCOMPARE(FBoxes.size(), 1);
        QCOMPARE(FBoxes[0].Text, "Cannot open file " + Path("Projects.dat"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Orvel网络测速器"));
    }

    void aFailedSettingsWriteLeavesTheListShowingTheLoadedPlan()
    {
        WriteGbkFile(Path("Projects.dat"), QStringLiteral("家里=网关^127.0.0.1^0#门户^localhost^1\r\n"));
        TfrmTarnix window;
        QVERIFY(QDir().mkpath(Path("DestLists.ini")));  // cannot be written
        bool failed = false;
        try {
            window.LoadProject(ToGbk(QStringLiteral("家里")).value());
        } catch (const EFileError&) {
            failed = true;
        }
        QVERIFY(failed);
        QCOMPARE(window.Infos.size(), size_t(2));
        QCOMPARE(window.ui->lvInfos->topLevelItemCount(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(TfrmTarnix::RowInfo(window.ui->lvInfos->topLevelItem(i)), &window.Infos[size_t(i)]);
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--家里]"));
    }

    void aStoreThatTurnsUnreadableKeepsTheOpenPlan()
    {
        WriteGbkFile(Path("Projects.dat"), QStringLiteral("家里=网关^127.0.0.1^0\r\n"));
        WriteGbkFile(Path("DestLists.ini"), QStringLiteral("[config]\r\nproject=家里\r\n"));
        TfrmTarnix window;
        QVERIFY(QFile::remove(Path("Projects.dat")));
        QVERIFY(QDir().mkpath(Path("Projects.dat")));
        QVERIFY_THROWS_EXCEPTION(EFileError, window.LoadProject("office"));
        QCOMPARE(window.FProjectName, ToGbk(QStringLiteral("家里")).value());
        QCOMPARE(window.Infos.size(), size_t(1));
        QCOMPARE(TfrmTarnix::RowInfo(window.ui->lvInfos->topLevelItem(0)), &window.Infos[0]);
    }

    void helpAndAboutOpenTheirDialogsModallyAndDestroyThem()
    {
        TfrmTarnix window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (QAction* command : {window.ui->actHelp, window.ui->actAbout}) {
            bool shown = false;
            QWidget* owner = nullptr;
            const char* kind = "";
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                shown = true;
                owner = dialog->parentWidget();
                kind = qobject_cast<TfrmHelp*>(dialog) ? "help" : qobject_cast<TfrmAbout*>(dialog) ? "about" : "";
                dialog->reject();
            });
            command->trigger();
            QVERIFY(shown);
            QCOMPARE(owner, static_cast<QWidget*>(&window));
            QCOMPARE(QByteArray(kind), QByteArray(command == window.ui->actHelp ? "help" : "about"));
            QVERIFY(window.findChildren<QDialog*>().isEmpty());
        }
    }

    void closingAsksThePlanCommandsAndCloses()
    {
        TfrmTarnix window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_Main_quellan.moc"
