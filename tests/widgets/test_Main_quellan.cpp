// The main window: layout, commands' enabled rules, the list display, start-up
// and the error box. Every window runs on a temporary program directory and
// is driven through its controls; test runs measure nothing, their results
// are the test's.

#include "Mainfixture.h"

#include "app/Apperror.h"
#include "app/Images.h"
#include "app/Startup.h"
#include "dialogs/About.h"
#include "dialogs/Help.h"
#include "dialogs/Inputprojectname.h"
#include "dialogs/Projectlist.h"
#include "tests/support/Asuser.h"
#include "vqlib/Storedir.h"

#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStandardPaths>
#include <QSignalSpy>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include <sys/resource.h>

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

namespace {

const QString kUnnamedTitle = QStringLiteral("Orvel网络测速器 [当前测速方案--未命名]");

// A plan of one item for each name, all Ping items on loopback.
QString PlanOf(const QStringList& names)
{
    QStringList entries;
    for (int i = 0; i < names.size(); ++i)
        entries << names[i] + QStringLiteral("^127.0.0.%1^0").arg(i + 1);
    return entries.join('#');
}

// Sets or unsets an environment variable for one scope.
class TEnvScope {
public:
    TEnvScope(const char* name, const std::optional<QByteArray>& value)
        : FName(name), FOld(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        Set(value);
    }
    ~TEnvScope() { Set(FOld); }
    TEnvScope(const TEnvScope&) = delete;
    TEnvScope& operator=(const TEnvScope&) = delete;

private:
    void Set(const std::optional<QByteArray>& value) const
    {
        value ? qputenv(FName, *value) : qunsetenv(FName);
    }
    const char* FName;
    std::optional<QByteArray> FOld;
};

QApplication& App() { return *qobject_cast<QApplication*>(QCoreApplication::instance()); }

// How start-up went: the title, the rows and the boxes shown, or "no window".
QString StartUpOutcome(TBoxScript& boxes)
{
    const std::unique_ptr<TfrmTarnix> window = CreateForms(App());
    const QString boxTexts = boxes.Texts().join('|');
    if (!window)
        return QStringLiteral("no window; boxes: ") + boxTexts;
    return window->windowTitle() + "; rows: " + RowNames(*window).join(',') + "; boxes: " + boxTexts;
}

// Opaque and half-opaque pixels of an image.
int DrawnPixels(const QImage& image)
{
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += image.pixelColor(x, y).alpha() != 0;
    return drawn;
}

}  // namespace

class TestMainWindow : public TMainWindowFixture {
    Q_OBJECT

private slots:
    // The members' initial values, as they show: an unnamed empty plan, no
    // sort, no run; files in the program directory, written only on demand;
    // runs of five tries of at most 5000 ms.
    void startsUnnamedAndEmptyInAnEmptyDirectory()
    {
        TfrmTarnix& window = Scratch->Open();
        QCOMPARE(window.windowTitle(), kUnnamedTitle);
        QCOMPARE(List(window)->topLevelItemCount(), 0);
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("0"));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
        QCOMPARE(PanelText(window, "pnlFinish"), QString());
        QVERIFY(!Enabled(window, "actDelItem"));
        QVERIFY(!Enabled(window, "actModifyItem"));
        QVERIFY(Enabled(window, "actAddItem"));
        QVERIFY(Enabled(window, "actTestSpending"));
        QVERIFY(!List(window)->header()->isSortIndicatorShown());
        // An unnamed start writes nothing.
        QVERIFY(!QFile::exists(Scratch->Path("DestLists.ini")));
        QVERIFY(!QFile::exists(Scratch->StorePath()));
        QVERIFY(Boxes().Seen.empty());

        TFakeWorkers workers(window);
        AddItem(window, QStringLiteral("网关"), QStringLiteral("127.0.0.1"));
        RunToTheEnd(window);
        QCOMPARE(workers.Started(), 1);
        QCOMPARE(workers.Timeout(), 5000);
        QCOMPARE(workers.Times(), 5);
        QCOMPARE(List(window)->topLevelItem(0)->text(4), QStringLiteral("失败率5/5 "));

        WhenModal<TfrmProjectName>(QStringLiteral("frmProjectName"), [](TfrmProjectName& d) {
            TypeText(d.edtProjectName, QStringLiteral("家里"));
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actSaveProject");
        QCOMPARE(Scratch->Store(), QStringLiteral("家里=网关^127.0.0.1^0\r\n"));
        QCOMPARE(Scratch->Setting(), QStringLiteral("[config]\r\nproject=家里\r\n"));
        QVERIFY(Boxes().Seen.empty());
    }

    void opensTheLastPlanOfTheSettingsFile()
    {
        Scratch->WriteStore(QStringLiteral("office=backup^127.0.0.7^0\r\n家里=网关^127.0.0.1^0#门户^localhost^1\r\n"));
        Scratch->WriteSetting(QStringLiteral("家里"));
        TfrmTarnix& window = Scratch->Open();
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--家里]"));
        QCOMPARE(List(window)->topLevelItemCount(), 2);
        QCOMPARE(RowTexts(window, 0), QStringList({"网关", "127.0.0.1", "Ping", "待测速", ""}));
        QCOMPARE(RowTexts(window, 1), QStringList({"门户", "localhost", "取首页内容", "待测速", ""}));
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("2"));
        CheckRowsBound(window);
        QVERIFY(Boxes().Seen.empty());
    }

    // The delivered plan is only read here, never measured.
    void opensTheDeliveredPlan()
    {
        for (const char* name : {"Projects.dat", "DestLists.ini"}) {
            const QString delivered = QFINDTESTDATA(QStringLiteral("../../data/") + name);
            QVERIFY(!delivered.isEmpty());
            QVERIFY(QFile::copy(delivered, Scratch->Path(QString::fromLatin1(name))));
        }
        TfrmTarnix& window = Scratch->Open();
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--常见网站]"));
        const int rows = List(window)->topLevelItemCount();
        QVERIFY(rows >= 8);
        QCOMPARE(PanelText(window, "pnlItemCount"), QString::number(rows));
        QCOMPARE(ColumnTexts(window, 3), QStringList(rows, QStringLiteral("待测速")));
        const QStringList methods = ColumnTexts(window, 2);
        QVERIFY(methods.contains(QStringLiteral("Ping")) && methods.contains(QStringLiteral("取首页内容")));
        QVERIFY(Boxes().Seen.empty());
    }

    void hasTheDesignedLayout()
    {
        TfrmTarnix& window = Scratch->Open();
        QCOMPARE(window.size(), QSize(641, 338));
        QCOMPARE(window.pos(), QPoint(265, 315));
        QCOMPARE(window.minimumSize(), QSize(300, 200));
        QCOMPARE(window.font().family(), QStringLiteral("宋体"));
        QCOMPARE(window.font().pointSize(), 9);

        QTreeWidget* list = List(window);
        const QStringList captions = {"名称", "域名/IP地址", "测速方式", "耗时(毫秒)", "说明"};
        const int widths[] = {100, 100, 72, 72, 260};
        QCOMPARE(list->columnCount(), 5);
        QVERIFY(list->header()->stretchLastSection());
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(list->headerItem()->text(column), captions[column]);
            if (column < 4)
                QCOMPARE(list->columnWidth(column), widths[column]);
            else
                QVERIFY(list->columnWidth(column) >= widths[column]);
            // Only the times keep to the right edge.
            const int horizontal = list->headerItem()->textAlignment(column) & Qt::AlignHorizontal_Mask;
            QCOMPARE(horizontal == Qt::AlignRight, column == 3);
        }
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(list->contextMenuPolicy(), Qt::CustomContextMenu);
        QVERIFY(list->header()->sectionsClickable());

        const auto popup = Control<QMenu>(window, "PopupMenu1")->actions();
        QCOMPARE(popup.size(), 6);
        QCOMPARE(popup.mid(0, 3), QList<QAction*>({Action(window, "actAddItem"), Action(window, "actDelItem"),
                                                   Action(window, "actModifyItem")}));
        QVERIFY(popup[3]->isSeparator());
        QCOMPARE(popup[4], Action(window, "actItemDetails"));
        QCOMPARE(popup[5], Action(window, "actPathTrace"));
        auto* flash = Control<QTimer>(window, "tmrFlash");
        QCOMPARE(flash->interval(), 200);
        QVERIFY(!flash->isActive());
        QCOMPARE(Control<QStatusBar>(window, "StatusBar")->height(), 19);
        QCOMPARE(Control<QToolBar>(window, "ToolBar1")->height(), 27);

        struct TPanel { const char* name; int left, width; const char* hint; };
        for (const TPanel& panel : {TPanel{"pnlFinish", 150, 45, "本次测速已测完的测速项数"},
                                    TPanel{"pnlItemCount", 199, 45, "当前测速方案的测速项总数"},
                                    TPanel{"pnlAvgTime", 340, 61, "各有响应测速项平均耗时的平均值(毫秒)"}}) {
            auto* label = Control<QLabel>(window, panel.name);
            QCOMPARE(label->x(), panel.left);
            QCOMPARE(label->size(), QSize(panel.width, 16));
            QCOMPARE(label->toolTip(), QString::fromUtf8(panel.hint));
            QCOMPARE(label->frameShadow(), QFrame::Sunken);
        }
    }

    void commandsHaveTheirCaptionsHintsAndImages()
    {
        TfrmTarnix& window = Scratch->Open();
        struct TCommand { const char* name; const char* caption; const char* hint; int image; };
        const TCommand commands[] = {
            {"actNewProject", "新建测速方案(&N)", "新建测速方案", imgNew},
            {"actOpenProject", "打开测速方案(&O)", "打开测速方案", imgOpen},
            {"actSaveProject", "保存测速方案(&S)", "保存测速方案", imgSave},
            {"actSaveAsProject", "另存方案为(&A)...", "另存测速方案为...", -1},
            {"actDelProject", "删除测速方案(&D)", "删除测速方案", -1},
            {"actExit", "退出(&X)", "退出Orvel网络测速器", -1},
            {"actAddItem", "增加测速项(&A)", "增加测速项", imgAddItem},
            {"actDelItem", "删除测速项(&D)", "删除测速项", imgDelItem},
            {"actModifyItem", "修改测速项(&M)", "修改测速项", imgModifyItem},
            {"actTestSpending", "开始测速(&T)", "开始测速", imgTestSpending},
            {"actStopTest", "停止测速(&S)", "停止测速", imgStopTest},
            {"actWatchTest", "连续测速(&W)...", "每隔一段时间测速一次，直到停止测速", -1},
            {"actNotify", "桌面通知(&N)", "测速项不再响应或恢复响应时通知桌面", -1},
            {"actItemDetails", "测速详情(&I)...", "查看所选测速项各次测速的耗时", -1},
            {"actHistory", "测速历史(&H)...", "查看当前测速方案的测速历史", -1},
            {"actLiveChart", "实时图表(&L)", "实时画出当前测速方案每次测速的耗时", -1},
            {"actExportResults", "导出结果(&E)...", "把测速结果导出为CSV文件", -1},
            {"actHelp", "内容(&H)", "", -1},
            {"actAbout", "关于(&A)", "", -1},
        };
        for (const TCommand& command : commands) {
            QAction* action = Action(window, command.name);
            QCOMPARE(action->text(), QString::fromUtf8(command.caption));
            QCOMPARE(action->statusTip(), QString::fromUtf8(command.hint));
            if (*command.hint)
                QCOMPARE(action->toolTip(), QString::fromUtf8(command.hint));
            QCOMPARE(action->icon().isNull(), command.image < 0);
        }

        const auto menus = Control<QMenuBar>(window, "MainMenu1")->actions();
        QCOMPARE(menus.size(), 4);
        QStringList titles;
        for (QAction* menu : menus)
            titles << menu->text();
        QCOMPARE(titles, QStringList({"方案(&F)", "编辑(&E)", "操作(&O)", "帮助(&H)"}));
        const auto planMenu = menus[0]->menu()->actions();
        QCOMPARE(planMenu.size(), 9);
        QCOMPARE(planMenu[4], Action(window, "actExportResults"));
        QVERIFY(planMenu[5]->isSeparator());
        QCOMPARE(planMenu[6], Action(window, "actDelProject"));
        QVERIFY(planMenu[7]->isSeparator());
        QCOMPARE(planMenu[8], Action(window, "actExit"));
        const auto runMenu = menus[2]->menu()->actions();
        QCOMPARE(runMenu.size(), 10);
        QCOMPARE(runMenu[0], Action(window, "actTestSpending"));
        QCOMPARE(runMenu[1], Action(window, "actStopTest"));
        QCOMPARE(runMenu[2], Action(window, "actWatchTest"));
        QVERIFY(runMenu[3]->isSeparator());
        QCOMPARE(runMenu[4], Action(window, "actItemDetails"));
        QCOMPARE(runMenu[5], Action(window, "actPathTrace"));
        QCOMPARE(runMenu[5]->text(), QStringLiteral("路由跟踪(&R)..."));
        QCOMPARE(runMenu[5]->toolTip(), QStringLiteral("跟踪到所选测速项的路由"));
        QCOMPARE(runMenu[6], Action(window, "actHistory"));
        QCOMPARE(runMenu[7], Action(window, "actLiveChart"));
        QVERIFY(runMenu[8]->isSeparator());
        QCOMPARE(runMenu[9], Action(window, "actNotify"));
        QVERIFY(runMenu[9]->isCheckable());

        const auto tools = Control<QToolBar>(window, "ToolBar1")->actions();
        QCOMPARE(tools.size(), 10);
        QVERIFY(tools[3]->isSeparator());
        QVERIFY(tools[7]->isSeparator());
        QCOMPARE(tools[8], Action(window, "actTestSpending"));
        QCOMPARE(tools[9], Action(window, "actStopTest"));
    }

    // Each command answers its key while the window is active; a dialog the
    // command opens is cancelled at once.
    void keysTriggerTheirCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("dialog");
        const int ctrl = int(Qt::ControlModifier);
        QTest::newRow("new") << "actNewProject" << int(Qt::Key_N) << ctrl << "";
        QTest::newRow("open") << "actOpenProject" << int(Qt::Key_O) << ctrl << "frmProjectList";
        QTest::newRow("save") << "actSaveProject" << int(Qt::Key_S) << ctrl << "";
        QTest::newRow("save as") << "actSaveAsProject" << int(Qt::Key_S) << (ctrl | int(Qt::ShiftModifier))
                                 << "frmProjectName";
        QTest::newRow("add") << "actAddItem" << int(Qt::Key_Insert) << 0 << "frmEditItem";
        QTest::newRow("delete") << "actDelItem" << int(Qt::Key_Delete) << 0 << "";
        QTest::newRow("modify") << "actModifyItem" << int(Qt::Key_F2) << 0 << "frmEditItem";
        QTest::newRow("run") << "actTestSpending" << int(Qt::Key_F5) << 0 << "";
        QTest::newRow("exit") << "actExit" << int(Qt::Key_Q) << ctrl << "";
    }
    void keysTriggerTheirCommands()
    {
        QFETCH(QString, command);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, dialog);
        TfrmTarnix& window = OpenPlan(PlanOf({"a", "b"}));
        Workers = std::make_unique<TFakeWorkers>(window);
        QVERIFY(Activate(window));
        SelectRows(window, {0});
        if (!dialog.isEmpty())
            WhenModal(dialog, [](QDialog& d) { d.reject(); });
        if (command == "actDelItem")
            Boxes().Answer({IDCANCEL});
        QSignalSpy triggered(Action(window, qPrintable(command)), &QAction::triggered);

        QTest::keyClick(List(window), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(triggered.count(), 1);
        if (command == "actTestSpending")
            QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 10000);
        if (command == "actDelItem")
            QCOMPARE(Boxes().Texts(), QStringList{QStringLiteral("你确定要删除这1条测速项吗?")});
        QCOMPARE(window.isVisible(), command != "actExit");
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    // The keys follow their commands: during a run only the enabled ones answer.
    void keysOfDisabledCommandsDoNothingDuringARun()
    {
        TfrmTarnix& window = OpenPlan(PlanOf({"a", "b"}));
        Workers = std::make_unique<TFakeWorkers>(window, true);
        QVERIFY(Activate(window));
        SelectRows(window, {0});
        Trigger(window, "actTestSpending");
        QVERIFY(!Enabled(window, "actTestSpending"));
        QList<QSignalSpy*> spies;
        for (const char* name : kRunLockedCommands)
            spies << new QSignalSpy(Action(window, name), &QAction::triggered);
        const std::pair<int, Qt::KeyboardModifiers> keys[] = {
            {Qt::Key_N, Qt::ControlModifier}, {Qt::Key_O, Qt::ControlModifier},
            {Qt::Key_S, Qt::ControlModifier}, {Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier},
            {Qt::Key_Insert, {}},             {Qt::Key_Delete, {}},
            {Qt::Key_F2, {}},                 {Qt::Key_F5, {}},
        };
        for (const auto& [key, modifiers] : keys)
            QTest::keyClick(List(window), Qt::Key(key), modifiers);
        for (QSignalSpy* spy : spies)
            QCOMPARE(spy->count(), 0);
        qDeleteAll(spies);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(Boxes().Seen.empty());
    }

    // Alt and a letter never leave two commands of one menu to choose from.
    void acceleratorsAreUniquePerMenu()
    {
        TfrmTarnix& window = Scratch->Open();
        QList<QMenu*> menus{Control<QMenu>(window, "PopupMenu1")};
        QStringList titles;
        for (QAction* menu : Control<QMenuBar>(window, "MainMenu1")->actions()) {
            menus << menu->menu();
            titles << menu->text();
        }
        const auto letters = [](const QStringList& texts) {
            QStringList found;
            for (const QString& text : texts) {
                const qsizetype at = text.indexOf('&');
                if (at >= 0 && at + 1 < text.size())
                    found << text.mid(at + 1, 1).toUpper();
            }
            return found;
        };
        QCOMPARE(letters(titles).removeDuplicates(), 0);
        for (QMenu* menu : menus) {
            QStringList texts;
            for (QAction* action : menu->actions())
                if (!action->isSeparator())
                    texts << action->text();
            const QStringList keys = letters(texts);
            QCOMPARE(keys.size(), texts.size());  // every command has one
            QStringList unique = keys;
            QCOMPARE(unique.removeDuplicates(), 0);
        }
    }

    // The columns grow to their texts when the list is rebuilt, never below
    // their designed widths; the last one fills the list's width.
    void columnsFitTheirTextsAndTheLastFillsTheWidth()
    {
        const QString longHost = QStringLiteral("a-rather-long-host-name-for-the-column.example.com");
        TfrmTarnix& window = OpenPlan(QStringLiteral("长名的测速项其名很长很长^") + longHost
                                      + QStringLiteral("^1#本机^127.0.0.1:18080^3#短^127.0.0.1^0"));
        QTreeWidget* list = List(window);
        const QAbstractItemView* view = list;  // where the width a column's texts need is public
        const int designed[] = {100, 100, 72, 72};
        const auto fitsAll = [&] {
            for (int column = 0; column < 4; ++column) {
                if (list->columnWidth(column) < std::max(designed[column], view->sizeHintForColumn(column)))
                    return false;
            }
            return true;
        };
        QVERIFY(list->columnWidth(1) > 100);
        QVERIFY(fitsAll());
        QVERIFY(list->columnWidth(1) >= list->fontMetrics().horizontalAdvance(longHost));

        // Too wide for the window the columns scroll; widened, the last one fills it.
        const auto rightEdge = [&] { return list->header()->sectionPosition(4) + list->columnWidth(4); };
        QVERIFY(rightEdge() > list->viewport()->width());
        window.resize(1200, 338);
        QTRY_COMPARE(rightEdge(), list->viewport()->width());
        window.resize(1600, 338);
        QTRY_COMPARE(rightEdge(), list->viewport()->width());

        AddItem(window, QStringLiteral("名"), QStringLiteral("b.") + longHost);
        QVERIFY(fitsAll());
        QVERIFY(list->columnWidth(1) >= list->fontMetrics().horizontalAdvance(QStringLiteral("b.") + longHost));
    }

    // The commands with an image show it normal while enabled and greyed
    // while disabled, drawn anew for each size: sharp at 16 px and at the
    // 24 and 32 device pixels that scale factors 1.5 and 2 ask for.
    void drawsEightImagesInANormalAndAGreyedForm()
    {
        TfrmTarnix& window = Scratch->Open();
        const char* const withImages[kCommandImageCount] = {"actNewProject", "actOpenProject", "actSaveProject",
                                                            "actAddItem",    "actDelItem",     "actModifyItem",
                                                            "actTestSpending", "actStopTest"};
        QList<QImage> shown;
        for (const char* name : withImages) {
            const QIcon icon = Action(window, name)->icon();
            for (int size : {16, 24, 32}) {
                const QImage normal = icon.pixmap(QSize(size, size), QIcon::Normal).toImage();
                const QImage greyed = icon.pixmap(QSize(size, size), QIcon::Disabled).toImage();
                QCOMPARE(normal.size(), QSize(size, size));
                QCOMPARE(greyed.size(), QSize(size, size));
                QVERIFY2(normal != greyed, name);
                QVERIFY2(DrawnPixels(normal) > size * size / 12, name);
                QCOMPARE(DrawnPixels(greyed), DrawnPixels(normal));
                for (int y = 0; y < size; ++y) {
                    for (int x = 0; x < size; ++x) {
                        const QColor c = greyed.pixelColor(x, y);
                        QVERIFY(c.alpha() == 0 || (c.red() == c.green() && c.green() == c.blue()));
                    }
                }
            }
            const QImage small = icon.pixmap(QSize(16, 16)).toImage();
            QVERIFY2(!shown.contains(small), name);  // eight pictures, not one
            shown << small;
            const QImage blownUp = small.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            QVERIFY2(icon.pixmap(QSize(32, 32)).toImage().convertToFormat(blownUp.format()) != blownUp, name);

            // A 16 px image at a scale factor of 2 (1.5) gets 32 (24) device pixels.
            for (qreal scale : {1.5, 2.0}) {
                const QPixmap scaled = icon.pixmap(QSize(16, 16), scale);
                QCOMPARE(scaled.size(), QSize(16, 16) * scale);
                QCOMPARE(scaled.devicePixelRatio(), scale);
            }
        }

        // The outlines lie on whole pixels at 16 and 32: no blurred edge
        // across the middle of the new-plan sheet.
        const QIcon sheet = Action(window, "actNewProject")->icon();
        for (int size : {16, 32}) {
            const QImage image = sheet.pixmap(QSize(size, size)).toImage();
            for (int x = 0; x < size; ++x) {
                const int alpha = image.pixelColor(x, size / 2).alpha();
                QVERIFY2(alpha == 0 || alpha == 255, qPrintable(QStringLiteral("%1 px, x=%2").arg(size).arg(x)));
            }
        }
        QCOMPARE(Control<QToolBar>(window, "ToolBar1")->iconSize(), QSize(16, 16));
    }

    void theWindowAndTheApplicationCarryTheProgramsIcon()
    {
        TfrmTarnix& window = Scratch->Open();
        QVERIFY(!window.windowIcon().isNull());
        QVERIFY(DrawnPixels(window.windowIcon().pixmap(QSize(32, 32)).toImage()) > 500);
        const std::unique_ptr<TfrmTarnix> started = CreateForms(App());
        QVERIFY(started);
        QVERIFY(!QApplication::windowIcon().isNull());
        QCOMPARE(QApplication::windowIcon().pixmap(QSize(64, 64)).toImage(),
                 started->windowIcon().pixmap(QSize(64, 64)).toImage());
    }

    // Each state's texts after a run: the time right-aligned in the column,
    // the failure text after the note. Refreshing the rows again (adding an
    // item rebuilds the list) repeats nothing.
    void showsEachStateAndTheFailureText_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("doType");
        QTest::addColumn<int>("state");
        QTest::addColumn<double>("avg");
        QTest::addColumn<int>("failCount");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("note");
        const QString resolved = QStringLiteral("IP[127.0.0.1] ");
        QTest::newRow("done with failures") << "localhost" << 0 << 0 << 12.3456 << 2 << "Ping" << "  12.35"
                                            << resolved + QStringLiteral("失败率2/5 ");
        QTest::newRow("done, wide") << "localhost" << 1 << 0 << 12345.678 << 0 << "取首页内容" << "12345.68" << "";
        QTest::newRow("done, address") << "127.0.0.9" << 0 << 0 << 9.5 << 1 << "Ping" << "   9.50" << "失败率1/5 ";
        QTest::newRow("no response") << "localhost" << 0 << 3 << 0.0 << 5 << "Ping" << "没响应"
                                     << resolved + QStringLiteral("失败率5/5 ");
        QTest::newRow("no response, nothing failed") << "localhost" << 0 << 3 << 0.0 << 0 << "Ping" << "没响应"
                                                     << resolved;
        QTest::newRow("testing never shows failures") << "localhost" << 0 << 2 << 3.0 << 4 << "Ping" << "测速中..."
                                                      << resolved;
        QTest::newRow("unknown state") << "localhost" << 0 << 9 << 3.0 << 4 << "Ping" << "待测速" << resolved;
        QTest::newRow("DNS query shows its method") << "localhost" << 2 << 0 << 1.0 << 0 << "DNS查询" << "   1.00" << resolved;
        QTest::newRow("unknown method") << "localhost" << -56 << 0 << 1.0 << 0 << "Ping" << "   1.00" << resolved;
    }

    void showsEachStateAndTheFailureText()
    {
        QFETCH(QString, host);
        QFETCH(int, doType);
        QFETCH(int, state);
        QFETCH(double, avg);
        QFETCH(int, failCount);
        QFETCH(QString, method);
        QFETCH(QString, time);
        QFETCH(QString, note);
        TfrmTarnix& window = OpenPlan(QStringLiteral("站点^%1^%2").arg(host).arg(doType));
        TFakeWorkers workers(window);
        workers.Set(QStringLiteral("站点"), {uint8_t(state), avg, failCount});
        RunToTheEnd(window);
        const QStringList expected = {"站点", host, method, time, note};
        QCOMPARE(RowTexts(window, 0), expected);
        const int alignment = List(window)->topLevelItem(0)->textAlignment(3);
        QCOMPARE(alignment & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));

        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        QCOMPARE(RowTexts(window, 0), expected);
        QCOMPARE(List(window)->topLevelItem(1)->textAlignment(3) & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));
        QVERIFY(Boxes().Seen.empty());
    }

    // The workers of a window's runs come from the scope that was innermost
    // at its first run; leaving a scope gives the one before it back.
    void workerScopesNest()
    {
        Scratch->WriteStore(QStringLiteral("p=a^127.0.0.1^0\r\n"));
        Scratch->WriteSetting(QStringLiteral("p"));
        TfrmTarnix first;
        TFakeWorkers outer(first);
        outer.Set(QStringLiteral("a"), Measured(1));
        {
            TfrmTarnix second;
            TFakeWorkers inner(second);
            inner.Set(QStringLiteral("a"), Measured(2));
            RunToTheEnd(second);
            QCOMPARE(TimeText(second, 0), QStringLiteral("   2.00"));
            QCOMPARE(inner.Started(), 1);
        }
        RunToTheEnd(first);
        QCOMPARE(TimeText(first, 0), QStringLiteral("   1.00"));
        QCOMPARE(outer.Started(), 1);
    }

    // A new run sets every item waiting again: the failures of the last run
    // stay unseen while an item waits or is measured.
    void waitingAndTestingItemsNeverShowFailures()
    {
        QStringList names;
        for (int i = 0; i < TTestRun::kFirstWorkers + 1; ++i)
            names << QStringLiteral("项%1").arg(i);
        TfrmTarnix& window = OpenPlan(PlanOf(names));
        TFakeWorkers workers(window, true);
        for (const QString& name : names)
            workers.Set(name, Measured(4.0, 4));
        Trigger(window, "actTestSpending");
        QCOMPARE(int(workers.Held().size()), TTestRun::kFirstWorkers);
        workers.ReportAll();  // the last item starts on the first report
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        QCOMPARE(List(window)->topLevelItem(20)->text(4), QStringLiteral("失败率4/5 "));

        Trigger(window, "actTestSpending");
        QCOMPARE(int(workers.Held().size()), TTestRun::kFirstWorkers);
        for (int row = 0; row < 20; ++row)
            QCOMPARE(RowTexts(window, row).mid(3), QStringList({"测速中...", ""}));
        QCOMPARE(RowTexts(window, 20).mid(3), QStringList({"待测速", ""}));
    }

    // A report refreshes the first row of its item's name, matched exactly,
    // and binds that row to the item: a second item of the name shows in the
    // first row, its own row keeps waiting until the list is rebuilt.
    void updatesTheFirstRowOfTheNameWhenNoRowIsGiven()
    {
        TfrmTarnix& window = OpenPlan(PlanOf({"a", "a", "b", "B"}));
        TFakeWorkers workers(window, true);
        workers.Set(QStringLiteral("a"), Measured(7));
        workers.Set(QStringLiteral("B"), Measured(1));
        Trigger(window, "actTestSpending");
        QCOMPARE(workers.Held(), QStringList({"a", "a", "b", "B"}));
        QCOMPARE(ColumnTexts(window, 3), QStringList({"测速中...", "待测速", "测速中...", "测速中..."}));

        workers.Report(QStringLiteral("a"), 1);
        QCOMPARE(ColumnTexts(window, 3), QStringList({"   7.00", "待测速", "测速中...", "测速中..."}));
        workers.Report(QStringLiteral("B"));
        QCOMPARE(ColumnTexts(window, 3), QStringList({"   7.00", "待测速", "测速中...", "   1.00"}));
        QCOMPARE(PanelText(window, "pnlFinish"), QStringLiteral("2"));

        workers.ReportAll();
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        QCOMPARE(ColumnTexts(window, 3), QStringList({"   7.00", "   7.00", "没响应", "   1.00"}));
    }

    void averagesTheItemsThatAnsweredUntilAnotherPlan()
    {
        Scratch->WriteStore(QStringLiteral("p=") + PlanOf({"a", "b", "c", "d"}) + QStringLiteral("\r\nq=")
                            + PlanOf({"x", "y"}) + "\r\n");
        Scratch->WriteSetting(QStringLiteral("p"));
        TfrmTarnix& window = Scratch->Open();
        TFakeWorkers workers(window);
        workers.Set(QStringLiteral("a"), Measured(10));
        workers.Set(QStringLiteral("b"), Measured(20));
        workers.Set(QStringLiteral("c"), NoResponse());
        workers.Set(QStringLiteral("d"), Measured(60));
        RunToTheEnd(window);
        QCOMPARE(PanelText(window, "pnlAvgTime"), QStringLiteral("30.00"));
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("4"));
        QCOMPARE(PanelText(window, "pnlFinish"), QString());

        // Another plan, opened or new, shows no average of this one's run.
        const auto openQ = [&] {
            WhenModal<TfrmProjectList>(QStringLiteral("frmProjectList"), [](TfrmProjectList& d) {
                d.lbProjectList->item(1)->setSelected(true);
                QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
            });
            Trigger(window, "actOpenProject");
        };
        openQ();
        QCOMPARE(RowNames(window), QStringList({"x", "y"}));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("2"));
        workers.Set(QStringLiteral("x"), Measured(40));
        RunToTheEnd(window);
        QCOMPARE(PanelText(window, "pnlAvgTime"), QStringLiteral("40.00"));
        Trigger(window, "actNewProject");
        QCOMPARE(List(window)->topLevelItemCount(), 0);
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("0"));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
        QCOMPARE(PanelText(window, "pnlFinish"), QString());
        QCOMPARE(window.windowTitle(), kUnnamedTitle);

        // A run empties the panel first; where nothing answers it stays so.
        openQ();
        workers.Set(QStringLiteral("x"), {9, 5.0, 0});
        RunToTheEnd(window);
        QCOMPARE(ColumnTexts(window, 3), QStringList({"待测速", "没响应"}));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
        QVERIFY(Boxes().Seen.empty());
    }

    // The status bar's single text follows the run; the panels keep theirs.
    void aRunShowsItsProgressInTheStatusBar()
    {
        TfrmTarnix& window = OpenPlan(PlanOf({"a", "b"}));
        TFakeWorkers workers(window, true);
        QCOMPARE(StatusText(window), QString());
        Trigger(window, "actTestSpending");
        QCOMPARE(StatusText(window), QStringLiteral("测速正在进行中..."));
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("2"));
        QCOMPARE(PanelText(window, "pnlFinish"), QStringLiteral("0"));
        workers.Report(QStringLiteral("a"));
        QCOMPARE(PanelText(window, "pnlFinish"), QStringLiteral("1"));
        QCOMPARE(StatusText(window), QStringLiteral("测速正在进行中..."));
        workers.Report(QStringLiteral("b"));
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("2"));
    }

    void selectionAndTheRunDecideWhichCommandsAreEnabled()
    {
        TfrmTarnix& window = OpenPlan(PlanOf({"a", "b"}));
        SelectRows(window, {1});
        QVERIFY(Enabled(window, "actDelItem"));
        QVERIFY(Enabled(window, "actModifyItem"));
        QTest::mouseClick(List(window)->viewport(), Qt::LeftButton, Qt::ControlModifier, RowCentre(window, 1));
        QVERIFY(List(window)->selectedItems().isEmpty());
        QVERIFY(!Enabled(window, "actDelItem"));
        QVERIFY(!Enabled(window, "actModifyItem"));

        SelectRows(window, {0});
        TFakeWorkers workers(window, true);
        Trigger(window, "actTestSpending");
        for (const char* name : kRunLockedCommands)
            QVERIFY2(!Enabled(window, name), name);
        QVERIFY(Enabled(window, "actHelp"));
        QVERIFY(Enabled(window, "actAbout"));

        workers.ReportAll();
        SelectRows(window, {0});  // the run's end rebuilt the list
        for (QAction* action : Control<QMenuBar>(window, "MainMenu1")->findChildren<QAction*>())
            QVERIFY2(action->isEnabled() || action->isSeparator(), qPrintable(action->objectName()));
    }

    void showingThePanelsPutsThemIntoTheStatusBar()
    {
        TfrmTarnix& window = Scratch->Open();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* statusBar = Control<QStatusBar>(window, "StatusBar");
        for (const char* name : {"pnlFinish", "pnlItemCount", "pnlAvgTime"}) {
            auto* panel = Control<QLabel>(window, name);
            QCOMPARE(panel->parentWidget(), static_cast<QWidget*>(statusBar));
            QCOMPARE(panel->y(), 1);
            QVERIFY(panel->isVisible());
        }
        QCOMPARE(Control<QLabel>(window, "pnlFinish")->x(), 150);
        QCOMPARE(Control<QLabel>(window, "pnlItemCount")->x(), 199);
        QCOMPARE(Control<QLabel>(window, "pnlAvgTime")->x(), 340);
        // A hint passing by keeps the run's status text.
        TFakeWorkers workers(window);
        RunToTheEnd(window);
        Action(window, "actAddItem")->showStatusText(Control<QToolBar>(window, "ToolBar1"));
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        QVERIFY(window.close());
    }

    void theErrorBoxShowsTheMessageAndTheProgramGoesOn()
    {
        Boxes().Answer({IDOK, IDOK, IDOK});
        RunGuarded([] { throw EFileError("Cannot open file /x/Projects.dat"); });
        RunGuarded([] { throw 42; });
        QCOMPARE(Boxes().Seen.size(), size_t(2));
        QCOMPARE(Boxes().Seen[0].Caption, QStringLiteral("错误"));
        QCOMPARE(Boxes().Seen[0].Text, QStringLiteral("Cannot open file /x/Projects.dat"));
        QVERIFY(Boxes().Seen[0].Style & MB_ICONERROR);
        QCOMPARE(Boxes().Seen[1].Text, QString());
        QVERIFY(Boxes().Seen[1].Style & MB_ICONERROR);

        // Thrown out of a handler inside the event loop; the loop runs on.
        bool after = false;
        QTimer::singleShot(0, [] { RunGuarded([] { throw std::runtime_error("boom"); }); });
        QTimer::singleShot(1, [&] { after = true; });
        QTRY_VERIFY(after);
        QCOMPARE(Boxes().Seen.size(), size_t(3));
        QCOMPARE(Boxes().Seen[2].Text, QStringLiteral("boom"));
    }

    void anUnreadableStoreEndsStartUpWithTheErrorBox()
    {
        QVERIFY(QDir().mkpath(Scratch->StorePath()));  // exists, cannot be read as a file
        Boxes().Answer({IDOK});
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        const std::unique_ptr<TfrmTarnix> window = CreateForms(*app);
        QVERIFY(!window);
        QCOMPARE(Boxes().Texts(), QStringList{"Cannot open file " + Scratch->StorePath()});
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("orvel"));
    }

    // The settings file refuses to remember the plan's name (the user may not
    // write it, nor the folder): the error comes once and the window opens
    // with the plan. A name that already stands is not written at all.
    void aSettingsFileThatCannotBeWrittenStillOpensThePlan_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<bool>("writtenBack");
        QTest::newRow("written back otherwise") << QStringLiteral("project= 家里 ") << true;
        QTest::newRow("stands as it is") << QStringLiteral("project=家里") << false;
    }
    void aSettingsFileThatCannotBeWrittenStillOpensThePlan()
    {
        QFETCH(QString, setting);
        QFETCH(bool, writtenBack);
        Scratch->WriteStore(QStringLiteral("家里=网关^127.0.0.1^0#门户^localhost^1\r\n"));
        Scratch->WriteFile(QStringLiteral("DestLists.ini"), QStringLiteral("[config]\r\n") + setting + "\r\n");
        LetOrdinaryUserIn(Scratch->Path(QString()).toStdString());
        Boxes().Answer({IDOK});
        // The child process has the only thread of this one; the folder and
        // both files stay the test's, the user may read them only.
        const TUserRun run = RunAsOrdinaryUser(Scratch->Path(QString()).toStdString(),
                                               [this] { return StartUpOutcome(Boxes()).toStdString(); });
        Boxes().Answers.clear();
        if (!run.Ran)
            QSKIP(run.SkipReason.c_str());
        QString outcome = QStringLiteral("Orvel网络测速器 [当前测速方案--家里]; rows: 网关,门户; boxes: ");
        if (writtenBack)
            outcome += "Unable to write to " + Scratch->Path(QStringLiteral("DestLists.ini"));
        QCOMPARE(QString::fromStdString(run.Result), outcome);
    }

    // Opening a plan whose name cannot be remembered still shows the plan.
    void aFailedSettingsWriteLeavesTheListShowingTheLoadedPlan()
    {
        Scratch->WriteStore(QStringLiteral("家里=网关^127.0.0.1^0#门户^localhost^1\r\n"));
        TfrmTarnix& window = Scratch->Open();
        QVERIFY(QDir().mkpath(Scratch->Path("DestLists.ini")));  // cannot be written
        WhenModal<TfrmProjectList>(QStringLiteral("frmProjectList"), [](TfrmProjectList& d) {
            d.lbProjectList->item(0)->setSelected(true);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Boxes().Answer({IDOK});
        Trigger(window, "actOpenProject");
        QCOMPARE(Boxes().Seen.size(), size_t(1));
        QCOMPARE(Boxes().Seen[0].Style & 0xF0, unsigned(MB_ICONERROR));
        QCOMPARE(RowNames(window), QStringList({"网关", "门户"}));
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--家里]"));
        CheckRowsBound(window);
    }

    // The store turns unreadable while the plan list is open: the plan open
    // before stays, under its name.
    void aStoreThatTurnsUnreadableKeepsTheOpenPlan()
    {
        Scratch->WriteStore(QStringLiteral("家里=网关^127.0.0.1^0\r\noffice=backup^127.0.0.7^0\r\n"));
        Scratch->WriteSetting(QStringLiteral("家里"));
        TfrmTarnix& window = Scratch->Open();
        const QString store = Scratch->StorePath();
        WhenModal<TfrmProjectList>(QStringLiteral("frmProjectList"), [store](TfrmProjectList& d) {
            QVERIFY(QFile::remove(store));
            QVERIFY(QDir().mkpath(store));
            d.lbProjectList->item(1)->setSelected(true);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Boxes().Answer({IDOK});
        Trigger(window, "actOpenProject");
        QCOMPARE(Boxes().Texts(), QStringList{"Cannot open file " + store});
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--家里]"));
        QCOMPARE(RowNames(window), QStringList{"网关"});
        CheckRowsBound(window);
        QCOMPARE(Scratch->Setting(), QStringLiteral("[config]\r\nproject=家里\r\n"));
    }

    // In the bin/ of an installed tree the window keeps the store in the
    // user's data folder: made at the first start, given the delivered plan,
    // then the user's own, never replaced.
    void anInstalledCopyKeepsItsStoreInTheUsersDataFolder()
    {
        const QDir tree(Scratch->Path(QStringLiteral("tree")));
        QVERIFY(tree.mkpath(QStringLiteral("usr/bin")) && tree.mkpath(QStringLiteral("usr/share/orvel")));
        Scratch->WriteFile(QStringLiteral("tree/usr/share/orvel/Projects.dat"), QStringLiteral("装好=网关^127.0.0.1^0\r\n"));
        Scratch->WriteFile(QStringLiteral("tree/usr/share/orvel/DestLists.ini"), QStringLiteral("[config]\r\nproject=装好\r\n"));
        const TProgramDirScope installed(tree.filePath(QStringLiteral("usr/bin")).toStdString());
        const TEnvScope data("XDG_DATA_HOME", QFile::encodeName(tree.filePath(QStringLiteral("data"))));
        const QString user = QStringLiteral("tree/data/orvel/");

        std::unique_ptr<TfrmTarnix> window = CreateForms(App());
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Orvel网络测速器 [当前测速方案--装好]"));
        QCOMPARE(RowNames(*window), QStringList{"网关"});
        QCOMPARE(Scratch->ReadFile(user + "DestLists.ini"), QStringLiteral("[config]\r\nproject=装好\r\n"));

        AddItem(*window, QStringLiteral("门户"), QStringLiteral("127.0.0.2"));
        Trigger(*window, "actSaveProject");
        QCOMPARE(Scratch->ReadFile(user + "Projects.dat"), QStringLiteral("装好=网关^127.0.0.1^0#门户^127.0.0.2^0\r\n"));
        QCOMPARE(Scratch->ReadFile(QStringLiteral("tree/usr/share/orvel/Projects.dat")),
                 QStringLiteral("装好=网关^127.0.0.1^0\r\n"));
        QVERIFY(!QFile::exists(tree.filePath(QStringLiteral("usr/bin/Projects.dat"))));
        window.reset();

        window = CreateForms(App());
        QVERIFY(window);
        QCOMPARE(RowNames(*window), QStringList({"网关", "门户"}));
        QVERIFY(Boxes().Seen.empty());
    }

    // The window's data folder (QStandardPaths) is the one orvel-cli works
    // out without Qt.
    void theUsersDataFolderIsTheOneOrvelCliUses_data()
    {
        QTest::addColumn<QByteArray>("xdgDataHome");  // null: unset
        QTest::addColumn<QByteArray>("home");
        QTest::newRow("XDG_DATA_HOME") << QByteArray("/data/xdg") << QByteArray("/home/u");
        QTest::newRow("XDG_DATA_HOME with a slash") << QByteArray("/data/xdg/") << QByteArray("/home/u");
        QTest::newRow("XDG_DATA_HOME empty") << QByteArray("") << QByteArray("/home/u");
        QTest::newRow("HOME") << QByteArray() << QByteArray("/home/u");
        QTest::newRow("HOME with a slash") << QByteArray() << QByteArray("/home/u/");
        QTest::newRow("HOME with dots") << QByteArray() << QByteArray("/home/x/../u");
    }
    void theUsersDataFolderIsTheOneOrvelCliUses()
    {
        QFETCH(QByteArray, xdgDataHome);
        QFETCH(QByteArray, home);
        SetApplicationNames(App());
        const TEnvScope xdg("XDG_DATA_HOME", xdgDataHome.isNull() ? std::nullopt : std::optional(xdgDataHome));
        const TEnvScope homeScope("HOME", home);
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                 QFile::decodeName(QByteArray::fromStdString(UserDataDir())));
    }

    // Ping items whose tries had no right to an ICMP socket end as unanswered
    // ones do; after the run one box says why and what would help, and only
    // once while the program runs.
    void aRunWhosePingHadNoRightsExplainsItOnce()
    {
        TfrmTarnix& window = OpenPlan(PlanOf({"a", "b"}));
        TFakeWorkers workers(window);
        workers.Set(QStringLiteral("a"), NoRightToPing());
        workers.Set(QStringLiteral("b"), NoRightToPing());
        Boxes().Answer({IDOK});
        RunToTheEnd(window);
        QCOMPARE(ColumnTexts(window, 3), QStringList({"没响应", "没响应"}));
        QCOMPARE(ColumnTexts(window, 4), QStringList({"失败率5/5 ", "失败率5/5 "}));
        QTRY_COMPARE(Boxes().Seen.size(), size_t(1));
        QCOMPARE(Boxes().Seen[0].Caption, QStringLiteral("信息"));
        QCOMPARE(Boxes().Seen[0].Style & 0xF0, unsigned(MB_ICONINFORMATION));
        const QString text = Boxes().Seen[0].Text;
        QVERIFY2(text.contains(QStringLiteral("setcap cap_net_raw+ep ") + QCoreApplication::applicationFilePath()),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("net.ipv4.ping_group_range")), qPrintable(text));
        QVERIFY(Enabled(window, "actTestSpending"));

        RunToTheEnd(window);
        QVERIFY(QueuedWorkDone());
        QCOMPARE(Boxes().Seen.size(), size_t(1));
    }

    // Tries that found the descriptors used up end as unanswered ones do;
    // one box after the run says what ran out and what helps, once.
    void aRunWhoseTriesFoundNoDescriptorSaysSoOnce()
    {
        TfrmTarnix& window = OpenPlan(PlanOf({"a", "b", "c"}));
        TFakeWorkers workers(window);
        workers.Set(QStringLiteral("a"), NoDescriptorLeft());
        workers.Set(QStringLiteral("b"), Measured(1.5));
        workers.Set(QStringLiteral("c"), NoDescriptorLeft());
        Boxes().Answer({IDOK});
        RunToTheEnd(window);
        QCOMPARE(ColumnTexts(window, 3), QStringList({"没响应", "   1.50", "没响应"}));
        QTRY_COMPARE(Boxes().Seen.size(), size_t(1));
        QCOMPARE(Boxes().Seen[0].Style & 0xF0, unsigned(MB_ICONINFORMATION));
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        const QString text = Boxes().Seen[0].Text;
        QVERIFY2(text.contains(QStringLiteral("打开的文件数已达上限（%1个）").arg(qulonglong(limit.rlim_cur))),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("ulimit -n")), qPrintable(text));

        RunToTheEnd(window);
        QVERIFY(QueuedWorkDone());
        QCOMPARE(Boxes().Seen.size(), size_t(1));
    }

    void helpAndAboutOpenTheirDialogsModallyAndDestroyThem()
    {
        TfrmTarnix& window = Scratch->Open();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const char* command : {"actHelp", "actAbout"}) {
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
            Trigger(window, command);
            QVERIFY(shown);
            QCOMPARE(owner, static_cast<QWidget*>(&window));
            QCOMPARE(QByteArray(kind), QByteArray(command == QByteArray("actHelp") ? "help" : "about"));
            QVERIFY(window.findChildren<QDialog*>().isEmpty());
        }
    }

    void closingAsksThePlanCommandsAndCloses()
    {
        TfrmTarnix& window = Scratch->Open();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_Main_quellan.moc"
