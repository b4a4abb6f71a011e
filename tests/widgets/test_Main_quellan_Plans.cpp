// The plan commands and the unsaved-changes question, end to end in the
// window on a temporary store; boxes and dialogs are answered by script.

#include "Mainfixture.h"

#include "app/Uiexecutorqt.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Noproxy.h"
#include "dialogs/Inputprojectname.h"
#include "dialogs/Projectlist.h"

#include <QListWidget>
#include <QStatusBar>
#include <QtTest>

namespace {

const QString kQuestion = QStringLiteral("测速方案有改动，要保存吗?\n点\"是\"保存，点\"否\"不保存");
const QString kTitle = QStringLiteral("Orvel网络测速器 [当前测速方案--%1]");
const QString kHome = QStringLiteral("家里");
const QString kHomeText = QStringLiteral("网关^127.0.0.1^0#门户^localhost^1");

void NameNextPlan(const QString& name)
{
    WhenModal<TfrmProjectName>(QStringLiteral("frmProjectName"), [=](TfrmProjectName& d) {
        d.edtProjectName->setText(name);
        QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
    });
}

// Picks the entry of that name in the next plan list; reports what it showed.
void PickNextPlan(const QString& name, QStringList* shown = nullptr, QString* caption = nullptr)
{
    WhenModal<TfrmProjectList>(QStringLiteral("frmProjectList"), [=](TfrmProjectList& d) {
        if (shown != nullptr)
            for (int i = 0; i < d.lbProjectList->count(); ++i)
                *shown << d.lbProjectList->item(i)->text();
        if (caption != nullptr)
            *caption = d.windowTitle();
        const auto found = d.lbProjectList->findItems(name, Qt::MatchExactly);
        QVERIFY(!found.isEmpty());
        found.first()->setSelected(true);
        QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
    });
}

// A test run in which every item answers, with a failed try each.
void RunMeasuringEveryItem(TfrmTarnix& window)
{
    TFakeWorkers workers(window);
    double avg = 10;
    for (const QString& name : RowNames(window))
        workers.Set(name, Measured(avg += 5, 1));
    RunToTheEnd(window);
}

}  // namespace

class TestPlanCommands : public TMainWindowFixture {
    Q_OBJECT

    TfrmTarnix& OpenHome()
    {
        Scratch->WriteStore(QStringLiteral("office=backup^127.0.0.7^0\r\n") + kHome + "=" + kHomeText + "\r\n");
        Scratch->WriteSetting(kHome);
        return Scratch->Open();
    }
    bool Asked() { return Boxes().Texts().contains(kQuestion); }

private slots:
    void initTestCase()
    {
        InstallQtUiExecutor();
        ClearProxyEnvironment();
    }

    void unnamedEmptyPlanNeverAsks()
    {
        TfrmTarnix& window = Scratch->Open();
        Trigger(window, "actNewProject");
        QStringList shown;
        WhenModal<TfrmProjectList>(QStringLiteral("frmProjectList"), [&](TfrmProjectList& d) {
            shown << QString::number(d.lbProjectList->count()) << d.windowTitle();
            QTest::mouseClick(d.btnCancel, Qt::LeftButton);
        });
        Trigger(window, "actOpenProject");
        QCOMPARE(shown, QStringList({"0", QStringLiteral("测速方案列表")}));
        QVERIFY(window.close());
        QVERIFY(Boxes().Seen.empty());
    }

    // The question's text, caption and buttons, and what each answer does.
    void unnamedPlanWithItemsAsks()
    {
        Scratch->WriteStore(QStringLiteral("same=a^127.0.0.1^0\r\n"));
        TfrmTarnix& window = Scratch->Open();
        AddItem(window, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
        QCOMPARE(RowNames(window), QStringList{"a"});

        Boxes().Answer({IDCANCEL});
        Trigger(window, "actNewProject");
        QCOMPARE(Boxes().Texts(), QStringList{kQuestion});
        QCOMPARE(Boxes().Seen[0].Caption, QStringLiteral("询问"));
        QCOMPARE(Boxes().Seen[0].Style, unsigned(MB_ICONQUESTION | MB_YESNOCANCEL));
        QCOMPARE(RowNames(window), QStringList{"a"});

        Boxes().Answer({IDCANCEL});
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());

        Boxes().Answer({IDNO});
        Trigger(window, "actNewProject");
        QCOMPARE(List(window)->topLevelItemCount(), 0);
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("未命名")));
        QCOMPARE(Boxes().Seen.size(), size_t(3));
        QCOMPARE(Scratch->Store(), QStringLiteral("same=a^127.0.0.1^0\r\n"));
    }

    // 100,000 items: every one a row, in plan order, and saved as read.
    void planOfAHundredThousandItemsOpensAndSavesAsRead()
    {
        constexpr int kItems = 100000;
        QStringList entries;
        entries.reserve(kItems);
        for (int i = 0; i < kItems; ++i)
            entries << QStringLiteral("%1%2^127.0.%3.1^%4").arg(i % 2 ? QStringLiteral("站") : QStringLiteral("s"))
                           .arg(i).arg(i % 256).arg(i % 2);
        const QString plan = entries.join('#');
        TfrmTarnix& window = OpenPlan(plan);
        QTreeWidget* list = List(window);
        QCOMPARE(list->topLevelItemCount(), kItems);
        QCOMPARE(PanelText(window, "pnlItemCount"), QString::number(kItems));
        QCOMPARE(RowTexts(window, 0), QStringList({"s0", "127.0.0.1", "Ping", QStringLiteral("待测速"), ""}));
        QCOMPARE(RowTexts(window, kItems - 1), QStringList({QStringLiteral("站99999"), "127.0.159.1",
                                                            QStringLiteral("取首页内容"), QStringLiteral("待测速"), ""}));
        list->scrollToBottom();
        QVERIFY(!AsksToSave(window, Boxes()));

        Trigger(window, "actSaveProject");
        QCOMPARE(Scratch->Store(), QStringLiteral("p=") + plan + "\r\n");
        QCOMPARE(list->topLevelItemCount(), kItems);
        QCOMPARE(list->topLevelItem(kItems - 1)->text(0), QStringLiteral("站99999"));
    }

    void openedPlanLeftAloneDoesNotAsk()
    {
        TfrmTarnix& window = OpenHome();
        QCOMPARE(window.windowTitle(), kTitle.arg(kHome));
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("网关"), QStringLiteral("门户")}));
        QVERIFY(!AsksToSave(window, Boxes()));
        QVERIFY(window.close());
        QVERIFY(Boxes().Seen.empty());
    }

    // Neither sorting the rows nor the results of a run alter the plan text.
    void sortingAndMeasuringAreNoChange()
    {
        TfrmTarnix& window = OpenHome();
        ClickHeader(window, 0);
        ClickHeader(window, 0);
        RunMeasuringEveryItem(window);
        ClickHeader(window, 0);
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("门户"), QStringLiteral("网关")}));
        QVERIFY(window.close());
        QVERIFY(Boxes().Seen.empty());
    }

    // A real run over loopback: results in the list, the plan text unchanged.
    void aTestRunIsNoChange()
    {
        THttpServer server;
        THttpServer::TResponse page;
        page.BodySize = 100;
        server.SetResponse(page);
        const QString refused = QStringLiteral("127.0.0.1:%1").arg(THttpServer::RefusedPort());
        Scratch->WriteStore(QStringLiteral("run=ok^%1^1#refused^%2^1\r\n").arg(QString::fromStdString(server.HostPort()), refused));
        Scratch->WriteSetting(QStringLiteral("run"));
        TfrmTarnix& window = Scratch->Open();
        Trigger(window, "actTestSpending");
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 30000);
        bool measured = false;
        QVERIFY(TimeText(window, 0).toDouble(&measured) >= 0 && measured);
        QCOMPARE(TimeText(window, 1), QStringLiteral("没响应"));
        QVERIFY(window.close());
        QVERIFY(Boxes().Seen.empty());
    }

    void addingAnItemAsks()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        Boxes().Answer({IDCANCEL});
        QVERIFY(!window.close());
        QVERIFY(Asked());
    }

    // A stored text that is not in the written form counts as changed at once.
    void unusualStoredTextCountsAsChanged_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("changed");
        QTest::newRow("written form") << "a^127.0.0.1^0#b^h^1" << false;
        QTest::newRow("fourth part") << "a^127.0.0.1^1^extra" << true;
        QTest::newRow("method not whole") << "a^127.0.0.1^1x" << true;
        QTest::newRow("method with blank") << "a^127.0.0.1^ 1" << true;
        QTest::newRow("skipped entry") << "a^127.0.0.1^0#gateway^127.0.0.1" << true;
        QTest::newRow("empty entry") << "a^127.0.0.1^0##b^h^1" << true;
        QTest::newRow("method 200") << "a^h^200" << true;
        QTest::newRow("method -56") << "a^h^-56" << false;
        QTest::newRow("empty plan") << "" << false;
    }
    void unusualStoredTextCountsAsChanged()
    {
        QFETCH(QString, text);
        QFETCH(bool, changed);
        Scratch->WriteStore(QStringLiteral("p=") + text + "\r\n");
        Scratch->WriteSetting(QStringLiteral("p"));
        TfrmTarnix& window = Scratch->Open();
        QCOMPARE(AsksToSave(window, Boxes()), changed);
        Boxes().Seen.clear();
        Boxes().Answer({IDNO});
        QVERIFY(window.close());
        QCOMPARE(Asked(), changed);
        if (!changed)
            Boxes().Answers.clear();
    }

    void planRemovedByAnotherProgram()
    {
        TfrmTarnix& window = OpenHome();
        Scratch->WriteStore(QStringLiteral("office=backup^127.0.0.7^0\r\n"));
        QVERIFY(AsksToSave(window, Boxes()));
        SelectAllRows(window);
        Boxes().Answer({IDOK});
        Trigger(window, "actDelItem");
        Boxes().Seen.clear();
        QVERIFY(!AsksToSave(window, Boxes()));
        QVERIFY(window.close());
        QVERIFY(Boxes().Seen.empty());
    }

    // Yes on an unnamed plan saves it under the name asked for, then goes on.
    void yesSavesUnnamedPlanUnderANewName()
    {
        TfrmTarnix& window = Scratch->Open();
        AddItem(window, QStringLiteral(" 空格 "), QStringLiteral("127.0.0.1"), dtHomePage);
        Boxes().Answer({IDYES});
        NameNextPlan(QStringLiteral("  新方案 "));
        QVERIFY(window.close());
        QCOMPARE(Scratch->Store(), QStringLiteral("新方案= 空格 ^127.0.0.1^1\r\n"));
        QCOMPARE(Scratch->Setting(), QStringLiteral("[config]\r\nproject=新方案\r\n"));
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("新方案")));
    }

    void yesSavesNamedPlanAndOpenGoesOn()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        Boxes().Answer({IDYES});
        PickNextPlan(QStringLiteral("office"));
        Trigger(window, "actOpenProject");
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("office")));
        QCOMPARE(RowNames(window), QStringList{QStringLiteral("backup")});
        QCOMPARE(Scratch->Store(), QStringLiteral("office=backup^127.0.0.7^0\r\n") + kHome + "=" + kHomeText
                                       + QStringLiteral("#新^127.0.0.2^0\r\n"));
    }

    // Yes without a save keeps the window open and the items in memory.
    void yesWithoutSavingStops_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("name dialog cancelled") << "cancel";
        QTest::newRow("blank name") << "blank";
        QTest::newRow("store not writable") << "unwritable";
        QTest::newRow("save disabled during a run") << "testing";
    }
    void yesWithoutSavingStops()
    {
        QFETCH(QString, how);
        TfrmTarnix& window = Scratch->Open();
        TFakeWorkers workers(window, true);
        AddItem(window, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
        if (how == "unwritable") {  // the store's name leads through a file as if it were a folder
            Scratch->WriteFile(QStringLiteral("file"), QString());
            QVERIFY(QFile::link(Scratch->Path("file/Projects.dat"), Scratch->StorePath()));
        }
        if (how == "testing")
            Trigger(window, "actTestSpending");

        for (int attempt = 0; attempt < 3; ++attempt) {
            Boxes().Seen.clear();
            Boxes().Answer({IDYES});
            if (how == "cancel")
                CancelNextDialog(QStringLiteral("frmProjectName"));
            else if (how != "testing")
                NameNextPlan(how == "blank" ? QStringLiteral("   ") : QStringLiteral("x"));
            if (how == "unwritable")
                Boxes().Answer({IDOK});  // the error box
            if (attempt == 0 || how == "testing")  // new and open are disabled during a run
                QVERIFY(!window.close());
            else if (attempt == 1)
                Trigger(window, "actNewProject");
            else
                Trigger(window, "actOpenProject");
            QVERIFY(window.isVisible());
            QCOMPARE(RowNames(window), QStringList{QStringLiteral("a")});
            QCOMPARE(Boxes().Seen.size(), size_t(how == "unwritable" ? 2 : 1));
            QCOMPARE(Boxes().Seen[0].Text, kQuestion);
            if (how == "unwritable") {
                QCOMPARE(Boxes().Seen[1].Style & 0xF0, unsigned(MB_ICONERROR));
                QVERIFY(Boxes().Seen[1].Text.startsWith(QStringLiteral("Cannot create file")));
            }
        }
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("未命名")));
        QVERIFY(!QFile::exists(Scratch->StorePath()));
        QVERIFY(Boxes().Answers.empty());
    }

    // A store that cannot be read is asked about rather than trusted.
    void unreadableStoreAsks()
    {
        TfrmTarnix& window = OpenHome();
        QVERIFY(QFile::remove(Scratch->StorePath()));
        QVERIFY(QDir().mkdir(Scratch->StorePath()));
        QVERIFY(AsksToSave(window, Boxes()));
        Boxes().Seen.clear();
        Boxes().Answer({IDYES, IDOK});
        QVERIFY(!window.close());
        QCOMPARE(Boxes().Seen.size(), size_t(2));
        QCOMPARE(Boxes().Seen[1].Style & 0xF0, unsigned(MB_ICONERROR));
        Boxes().Answer({IDNO});
        QVERIFY(window.close());
    }

    void newPlanKeepsTheSetting()
    {
        TfrmTarnix& window = OpenHome();
        Trigger(window, "actNewProject");
        QCOMPARE(List(window)->topLevelItemCount(), 0);
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("未命名")));
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("0"));
        QVERIFY(Scratch->Setting().contains(QStringLiteral("project=家里")));
        QVERIFY(!AsksToSave(window, Boxes()));  // nothing to save
        QVERIFY(Boxes().Seen.empty());
    }

    void openListsEveryPlanAndLoadsTheChosenOne()
    {
        Scratch->WriteStore(QStringLiteral("zeta=z^127.0.0.9^0\r\nno separator line\r\nalpha=x^127.0.0.1^0\r\n")
                            + kHome + "=" + kHomeText + "\r\nzeta=again^127.0.0.8^0\r\n");
        TfrmTarnix& window = Scratch->Open();
        QStringList shown;
        QString caption;
        PickNextPlan(kHome, &shown, &caption);
        Trigger(window, "actOpenProject");
        QCOMPARE(caption, QStringLiteral("测速方案列表"));
        QCOMPARE(shown, QStringList({"zeta", "alpha", kHome, "zeta"}));
        QCOMPARE(window.windowTitle(), kTitle.arg(kHome));
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("网关"), QStringLiteral("门户")}));
        CheckRowsBound(window);
        QVERIFY(Scratch->Setting().contains(QStringLiteral("project=家里")));
        QVERIFY(Boxes().Seen.empty());
    }

    // No, then a cancelled list: the items stay, still unsaved.
    void openCancelledKeepsUnsavedItems()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        Boxes().Answer({IDNO});
        CancelNextDialog(QStringLiteral("frmProjectList"));
        Trigger(window, "actOpenProject");
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("网关"), QStringLiteral("门户"), QStringLiteral("新")}));
        QVERIFY(AsksToSave(window, Boxes()));
        Boxes().Answer({IDNO});
    }

    // Save stores the plan and reloads it: results gone, the plan's order back.
    void saveReloadsFromTheStore()
    {
        TfrmTarnix& window = OpenHome();
        RunMeasuringEveryItem(window);
        ClickHeader(window, 0);
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("门户"), QStringLiteral("网关")}));
        QCOMPARE(ColumnTexts(window, 3), QStringList({"  20.00", "  15.00"}));
        AddItem(window, QStringLiteral(" 新 "), QStringLiteral("127.0.0.2"), dtHomePage);
        Trigger(window, "actSaveProject");
        QCOMPARE(Scratch->Store(), QStringLiteral("office=backup^127.0.0.7^0\r\n") + kHome + "=" + kHomeText
                                       + QStringLiteral("# 新 ^127.0.0.2^1\r\n"));
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("网关"), QStringLiteral("门户"), QStringLiteral(" 新 ")}));
        QCOMPARE(ColumnTexts(window, 3), QStringList(3, QStringLiteral("待测速")));
        QCOMPARE(ColumnTexts(window, 4), QStringList(3, QString()));
        CheckRowsBound(window);
        QVERIFY(!AsksToSave(window, Boxes()));
        QVERIFY(Boxes().Seen.empty());
    }

    void saveOnUnnamedPlanRunsSaveAs()
    {
        TfrmTarnix& window = Scratch->Open();
        AddItem(window, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
        NameNextPlan(QStringLiteral("office"));
        Trigger(window, "actSaveProject");
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("office")));
        QCOMPARE(Scratch->Store(), QStringLiteral("office=a^127.0.0.1^0\r\n"));
    }

    void saveAsBlankNameDoesNothing()
    {
        TfrmTarnix& window = OpenHome();
        const QString before = Scratch->Store();
        NameNextPlan(QStringLiteral(" \t "));
        Trigger(window, "actSaveAsProject");
        CancelNextDialog(QStringLiteral("frmProjectName"));
        Trigger(window, "actSaveAsProject");
        QCOMPARE(Scratch->Store(), before);
        QCOMPARE(window.windowTitle(), kTitle.arg(kHome));
    }

    // The name of a stored plan in another letter case: that line is replaced
    // in its place, without a question; the plan open before stays as stored.
    void saveAsReplacesAnExistingPlan()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        NameNextPlan(QStringLiteral("OFFICE"));
        Trigger(window, "actSaveAsProject");
        QCOMPARE(Scratch->Store(), QStringLiteral("OFFICE=") + kHomeText + QStringLiteral("#新^127.0.0.2^0\r\n")
                                       + kHome + "=" + kHomeText + "\r\n");
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("OFFICE")));
        QVERIFY(Boxes().Seen.empty());
    }

    void deletePlanThatIsNotOpen()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        const QString title = window.windowTitle();
        QString caption;
        PickNextPlan(QStringLiteral("office"), nullptr, &caption);
        Boxes().Answer({IDOK});
        Trigger(window, "actDelProject");
        QCOMPARE(caption, QStringLiteral("删除测速方案"));
        QCOMPARE(Boxes().Texts(), QStringList{QStringLiteral("你确定要删除测速方案[office]吗?")});
        QCOMPARE(Boxes().Seen[0].Style, unsigned(MB_ICONQUESTION | MB_OKCANCEL));
        QCOMPARE(Scratch->Store(), kHome + "=" + kHomeText + "\r\n");
        QCOMPARE(window.windowTitle(), title);
        QCOMPARE(List(window)->topLevelItemCount(), 3);
        Boxes().Answer({IDNO});
    }

    // The open plan goes with its unsaved items, without the question.
    void deleteTheOpenPlan()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        PickNextPlan(kHome);
        Boxes().Answer({IDCANCEL});
        Trigger(window, "actDelProject");
        QCOMPARE(List(window)->topLevelItemCount(), 3);
        QVERIFY(Scratch->Store().contains(kHome));

        PickNextPlan(kHome);
        Boxes().Answer({IDOK});
        Trigger(window, "actDelProject");
        QCOMPARE(Boxes().Seen.size(), size_t(2));
        QCOMPARE(Boxes().Seen[1].Text, QStringLiteral("你确定要删除测速方案[家里]吗?"));
        QCOMPARE(Scratch->Store(), QStringLiteral("office=backup^127.0.0.7^0\r\n"));
        QCOMPARE(List(window)->topLevelItemCount(), 0);
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("未命名")));
        QVERIFY(!AsksToSave(window, Boxes()));  // unnamed and empty
        QVERIFY(Scratch->Setting().contains(QStringLiteral("project=家里")));
        CancelNextDialog(QStringLiteral("frmProjectList"));
        Trigger(window, "actDelProject");
        QCOMPARE(Boxes().Seen.size(), size_t(2));
    }

    // Removal matches the name exactly; the list shows both spellings.
    void deleteMatchesExactly()
    {
        Scratch->WriteStore(QStringLiteral("Alpha=x^127.0.0.1^0\r\nalpha=y^127.0.0.2^0\r\n"));
        Scratch->WriteSetting(QStringLiteral("Alpha"));
        TfrmTarnix& window = Scratch->Open();
        PickNextPlan(QStringLiteral("alpha"));
        Boxes().Answer({IDOK});
        Trigger(window, "actDelProject");
        QCOMPARE(Scratch->Store(), QStringLiteral("Alpha=x^127.0.0.1^0\r\n"));
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("Alpha")));
        QCOMPARE(RowNames(window), QStringList{"x"});
    }

    // Ctrl+Q closes as the close box does, after the question.
    void exitAsksLikeTheCloseBox()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
        QVERIFY(Activate(window));
        Boxes().Answer({IDCANCEL});
        QTest::keyClick(List(window), Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(Boxes().Texts(), QStringList{kQuestion});
        QVERIFY(window.isVisible());

        Boxes().Answer({IDNO});
        Trigger(window, "actExit");
        QCOMPARE(Boxes().Seen.size(), size_t(2));
        QVERIFY(!window.isVisible());
        QCOMPARE(Scratch->Store().count(QStringLiteral("127.0.0.1^0")), 1);  // not saved
    }

    // A new or opened plan shows nothing of the run before; a cancelled
    // open leaves it.
    void newAndOpenClearTheLastRunsStatus()
    {
        TfrmTarnix& window = OpenHome();
        const auto ran = [&] {
            RunMeasuringEveryItem(window);
            return !PanelText(window, "pnlAvgTime").isEmpty() && !StatusText(window).isEmpty();
        };
        QVERIFY(ran());
        CancelNextDialog(QStringLiteral("frmProjectList"));
        Trigger(window, "actOpenProject");
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        QVERIFY(!PanelText(window, "pnlAvgTime").isEmpty());

        PickNextPlan(kHome);
        Trigger(window, "actOpenProject");
        QCOMPARE(StatusText(window), QString());
        QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
        QCOMPARE(PanelText(window, "pnlFinish"), QString());

        QVERIFY(ran());
        Trigger(window, "actNewProject");
        QCOMPARE(StatusText(window), QString());
        QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
        QVERIFY(Boxes().Seen.empty());
    }

    void commandsDoNothingDuringARun()
    {
        TfrmTarnix& window = OpenHome();
        TFakeWorkers workers(window, true);
        Trigger(window, "actTestSpending");
        for (const char* command : kPlanCommands)
            Trigger(window, command);
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("网关"), QStringLiteral("门户")}));
        QCOMPARE(window.windowTitle(), kTitle.arg(kHome));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(Boxes().Seen.empty());
    }

    // Another window or program writes the store meanwhile: a save keeps its
    // plans, and one over this plan's own change elsewhere is refused with the
    // window's items kept, so that they can go under another name.
    void savesKeepOtherProgramsPlansAndNeverOverwriteTheirChanges()
    {
        const QString office = QStringLiteral("office=backup^127.0.0.7^0\r\n");
        const QString theirs = QStringLiteral("theirs=t^127.0.0.9^0\r\n");
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        Scratch->WriteStore(Scratch->Store() + theirs);
        Trigger(window, "actSaveProject");
        const QString saved = kHome + "=" + kHomeText + QStringLiteral("#新^127.0.0.2^0\r\n");
        QCOMPARE(Scratch->Store(), office + saved + theirs);

        AddItem(window, QStringLiteral("再"), QStringLiteral("127.0.0.3"));
        const QString changed = office + kHome + QStringLiteral("=别处^127.0.0.8^0\r\n") + theirs;
        Scratch->WriteStore(changed);
        Boxes().Answer({IDOK});
        Trigger(window, "actSaveProject");
        QCOMPARE(Boxes().Seen.size(), size_t(1));
        QVERIFY2(Boxes().Texts().constFirst().startsWith(QStringLiteral("测速方案[家里]在打开后被别的程序改动过")),
                 qPrintable(Boxes().Texts().constFirst()));
        QCOMPARE(Scratch->Store(), changed);
        const QStringList items{QStringLiteral("网关"), QStringLiteral("门户"), QStringLiteral("新"), QStringLiteral("再")};
        QCOMPARE(RowNames(window), items);

        NameNextPlan(QStringLiteral("我的"));
        Trigger(window, "actSaveAsProject");
        QCOMPARE(Scratch->Store(), changed + QStringLiteral("我的=") + kHomeText +
                                       QStringLiteral("#新^127.0.0.2^0#再^127.0.0.3^0\r\n"));
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("我的")));
    }
};

QTEST_MAIN(TestPlanCommands)
#include "test_Main_quellan_Plans.moc"
