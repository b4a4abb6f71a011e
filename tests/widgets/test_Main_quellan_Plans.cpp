// The plan commands and the unsaved-changes question, end to end in the
// window on a temporary store; boxes and dialogs are answered by script.

#include "ui_Main_quellan.h"

#include "Windowscript.h"

#include "app/Inforow.h"
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

// What a finished test run leaves in the records.
void MarkMeasured(TfrmTarnix& window)
{
    double avg = 10;
    for (TDNSDispInfo& info : window.Infos) {
        info.State = tsDone;
        info.AvgTime = avg += 5;
        info.FailCount = 1;
        info.Note = "IP[127.0.0.1] ";
        info.IP = "127.0.0.1";
    }
    window.RefreshList();
}

}  // namespace

class TestPlanCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowScratch> Scratch;
    std::unique_ptr<TBoxScript> Boxes;

    TfrmTarnix& OpenHome()
    {
        Scratch->WriteStore(QStringLiteral("office=backup^127.0.0.7^0\r\n") + kHome + "=" + kHomeText + "\r\n");
        Scratch->WriteSetting(kHome);
        return Scratch->Open();
    }
    bool Asked() const { return Boxes->Texts().contains(kQuestion); }

private slots:
    void initTestCase()
    {
        InstallQtUiExecutor();
        ClearProxyEnvironment();
    }

    void init()
    {
        Scratch = std::make_unique<TWindowScratch>();
        Boxes = std::make_unique<TBoxScript>();
    }
    void cleanup()
    {
        QCOMPARE(Boxes->Unexpected, 0);
        Scratch.reset();
        Boxes.reset();
    }

    void unnamedEmptyPlanNeverAsks()
    {
        TfrmTarnix& window = Scratch->Open();
        window.ui->actNewProject->trigger();
        QStringList shown;
        WhenModal<TfrmProjectList>(QStringLiteral("frmProjectList"), [&](TfrmProjectList& d) {
            shown << QString::number(d.lbProjectList->count()) << d.windowTitle();
            QTest::mouseClick(d.btnCancel, Qt::LeftButton);
        });
        window.ui->actOpenProject->trigger();
        QCOMPARE(shown, QStringList({"0", QStringLiteral("测速方案列表")}));
        QVERIFY(window.close());
        QVERIFY(Boxes->Seen.empty());
    }

    // The question's text, caption and buttons, and what each answer does.
    void unnamedPlanWithItemsAsks()
    {
        Scratch->WriteStore(QStringLiteral("same=a^127.0.0.1^0\r\n"));
        TfrmTarnix& window = Scratch->Open();
        AddItem(window, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
        QCOMPARE(window.Infos.size(), size_t(1));

        Boxes->Answer({IDCANCEL});
        window.ui->actNewProject->trigger();
        QCOMPARE(Boxes->Texts(), QStringList{kQuestion});
        QCOMPARE(Boxes->Seen[0].Caption, QStringLiteral("询问"));
        QCOMPARE(Boxes->Seen[0].Style, unsigned(MB_ICONQUESTION | MB_YESNOCANCEL));
        QCOMPARE(window.Infos.size(), size_t(1));

        Boxes->Answer({IDCANCEL});
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());

        Boxes->Answer({IDNO});
        window.ui->actNewProject->trigger();
        QVERIFY(window.Infos.empty());
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("未命名")));
        QCOMPARE(Boxes->Seen.size(), size_t(3));
        QCOMPARE(Scratch->Store(), QStringLiteral("same=a^127.0.0.1^0\r\n"));
    }

    void openedPlanLeftAloneDoesNotAsk()
    {
        TfrmTarnix& window = OpenHome();
        QCOMPARE(window.windowTitle(), kTitle.arg(kHome));
        QCOMPARE(window.ItemsToText(), Gbk(kHomeText));
        QVERIFY(!window.PlanChanged());
        QVERIFY(window.close());
        QVERIFY(Boxes->Seen.empty());
    }

    // Neither sorting the rows nor the results of a run alter the plan text.
    void sortingAndMeasuringAreNoChange()
    {
        TfrmTarnix& window = OpenHome();
        window.lvInfosColumnClick(0);
        window.lvInfosColumnClick(0);
        MarkMeasured(window);
        ReverseRows(window);
        QVERIFY(window.close());
        QVERIFY(Boxes->Seen.empty());
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
        window.ui->actTestSpending->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(window.ui->StatusBar->currentMessage(), QStringLiteral("测速已完成。"), 30000);
        QCOMPARE(window.Infos[0].State, uint8_t(tsDone));
        QCOMPARE(List(window)->topLevelItem(1)->text(3), QStringLiteral("没响应"));
        QVERIFY(window.close());
        QVERIFY(Boxes->Seen.empty());
    }

    void addingAnItemAsks()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        Boxes->Answer({IDCANCEL});
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
        QCOMPARE(window.PlanChanged(), changed);
        Boxes->Answer({IDNO});
        QVERIFY(window.close());
        QCOMPARE(Asked(), changed);
        if (!changed)
            Boxes->Answers.clear();
    }

    void planRemovedByAnotherProgram()
    {
        TfrmTarnix& window = OpenHome();
        Scratch->WriteStore(QStringLiteral("office=backup^127.0.0.7^0\r\n"));
        QVERIFY(window.PlanChanged());
        window.Infos.clear();
        window.RefreshList();
        QVERIFY(!window.PlanChanged());
        QVERIFY(window.close());
        QVERIFY(Boxes->Seen.empty());
    }

    // Yes on an unnamed plan saves it under the name asked for, then goes on.
    void yesSavesUnnamedPlanUnderANewName()
    {
        TfrmTarnix& window = Scratch->Open();
        AddItem(window, QStringLiteral(" 空格 "), QStringLiteral("127.0.0.1"), dtHomePage);
        Boxes->Answer({IDYES});
        NameNextPlan(QStringLiteral("  新方案 "));
        QVERIFY(window.close());
        QCOMPARE(Scratch->Store(), QStringLiteral("新方案= 空格 ^127.0.0.1^1\r\n"));
        QCOMPARE(Scratch->ReadFile(QStringLiteral("DestLists.ini")), QStringLiteral("[config]\r\nproject=新方案\r\n"));
        QCOMPARE(window.FProjectName, Gbk(QStringLiteral("新方案")));
    }

    void yesSavesNamedPlanAndOpenGoesOn()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        Boxes->Answer({IDYES});
        PickNextPlan(QStringLiteral("office"));
        window.ui->actOpenProject->trigger();
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("office")));
        QCOMPARE(InfoNames(window), QStringList{QStringLiteral("backup")});
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
        AddItem(window, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
        if (how == "unwritable")
            window.FProjects = std::make_unique<TProjectStore>(Scratch->Path("missing/dir/Projects.dat").toStdString());
        if (how == "testing") {
            window.FTesting = true;
            window.UpdateActions();
        }

        for (int attempt = 0; attempt < 3; ++attempt) {
            Boxes->Seen.clear();
            Boxes->Answer({IDYES});
            if (how == "cancel")
                CancelNextDialog(QStringLiteral("frmProjectName"));
            else if (how != "testing")
                NameNextPlan(how == "blank" ? QStringLiteral("   ") : QStringLiteral("x"));
            if (how == "unwritable")
                Boxes->Answer({IDOK});  // the error box
            if (attempt == 0)
                QVERIFY(!window.close());
            else if (attempt == 1)
                window.ui->actNewProject->trigger();
            else if (how != "testing")
                window.ui->actOpenProject->trigger();
            else
                QVERIFY(!window.QuerySave());
            QVERIFY(window.isVisible());
            QCOMPARE(InfoNames(window), QStringList{QStringLiteral("a")});
            QCOMPARE(Boxes->Seen[0].Text, kQuestion);
            if (how == "unwritable") {
                QCOMPARE(Boxes->Seen.size(), size_t(2));
                QCOMPARE(Boxes->Seen[1].Style & 0xF0, unsigned(MB_ICONERROR));
                QVERIFY(Boxes->Seen[1].Text.startsWith(QStringLiteral("Cannot create file")));
            }
        }
        QVERIFY(window.FProjectName.empty());
        QCOMPARE(Scratch->Store(), QStringLiteral("<missing>"));
        window.FTesting = false;
        Boxes->Answer({IDNO});
    }

    // A store that cannot be read is asked about rather than trusted.
    void unreadableStoreAsks()
    {
        TfrmTarnix& window = OpenHome();
        QVERIFY(QFile::remove(Scratch->StorePath()));
        QVERIFY(QDir().mkdir(Scratch->StorePath()));
        QVERIFY(window.PlanChanged());
        Boxes->Answer({IDYES, IDOK});
        QVERIFY(!window.close());
        QCOMPARE(Boxes->Seen.size(), size_t(2));
        QCOMPARE(Boxes->Seen[1].Style & 0xF0, unsigned(MB_ICONERROR));
        Boxes->Answer({IDNO});
        QVERIFY(window.close());
    }

    void newPlanKeepsTheSetting()
    {
        TfrmTarnix& window = OpenHome();
        window.ui->actNewProject->trigger();
        QVERIFY(window.FProjectName.empty());
        QVERIFY(window.Infos.empty());
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("未命名")));
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("0"));
        QVERIFY(Scratch->ReadFile(QStringLiteral("DestLists.ini")).contains(QStringLiteral("project=家里")));
        QVERIFY(Boxes->Seen.empty());
    }

    void openListsEveryPlanAndLoadsTheChosenOne()
    {
        Scratch->WriteStore(QStringLiteral("zeta=z^127.0.0.9^0\r\nno separator line\r\nalpha=x^127.0.0.1^0\r\n")
                            + kHome + "=" + kHomeText + "\r\nzeta=again^127.0.0.8^0\r\n");
        TfrmTarnix& window = Scratch->Open();
        QStringList shown;
        QString caption;
        PickNextPlan(kHome, &shown, &caption);
        window.ui->actOpenProject->trigger();
        QCOMPARE(caption, QStringLiteral("测速方案列表"));
        QCOMPARE(shown, QStringList({"zeta", "alpha", kHome, "zeta"}));
        QCOMPARE(window.windowTitle(), kTitle.arg(kHome));
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("网关"), QStringLiteral("门户")}));
        CheckRowsBound(window);
        QVERIFY(Scratch->ReadFile(QStringLiteral("DestLists.ini")).contains(QStringLiteral("project=家里")));
        QVERIFY(Boxes->Seen.empty());
    }

    // No, then a cancelled list: the items stay, still unsaved.
    void openCancelledKeepsUnsavedItems()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        Boxes->Answer({IDNO});
        CancelNextDialog(QStringLiteral("frmProjectList"));
        window.ui->actOpenProject->trigger();
        QCOMPARE(window.Infos.size(), size_t(3));
        QVERIFY(window.PlanChanged());
        Boxes->Answer({IDNO});
    }

    // Save stores the plan and reloads it: results gone, Infos order back.
    void saveReloadsFromTheStore()
    {
        TfrmTarnix& window = OpenHome();
        MarkMeasured(window);
        ReverseRows(window);
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("门户"), QStringLiteral("网关")}));
        AddItem(window, QStringLiteral(" 新 "), QStringLiteral("127.0.0.2"), dtHomePage);
        window.ui->actSaveProject->trigger();
        QCOMPARE(Scratch->Store(), QStringLiteral("office=backup^127.0.0.7^0\r\n") + kHome + "=" + kHomeText
                                       + QStringLiteral("# 新 ^127.0.0.2^1\r\n"));
        QCOMPARE(RowNames(window), QStringList({QStringLiteral("网关"), QStringLiteral("门户"), QStringLiteral(" 新 ")}));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(List(window)->topLevelItem(i)->text(3), QStringLiteral("待测速"));
            QCOMPARE(List(window)->topLevelItem(i)->text(4), QString());
        }
        for (const TDNSDispInfo& info : window.Infos) {
            QCOMPARE(info.State, uint8_t(tsWaiting));
            QVERIFY(info.Note.empty() && info.IP.empty());
        }
        CheckRowsBound(window);
        QVERIFY(!window.PlanChanged());
        QVERIFY(Boxes->Seen.empty());
    }

    void saveOnUnnamedPlanRunsSaveAs()
    {
        TfrmTarnix& window = Scratch->Open();
        AddItem(window, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
        NameNextPlan(QStringLiteral("office"));
        window.ui->actSaveProject->trigger();
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("office")));
        QCOMPARE(Scratch->Store(), QStringLiteral("office=a^127.0.0.1^0\r\n"));
    }

    void saveAsBlankNameDoesNothing()
    {
        TfrmTarnix& window = OpenHome();
        const QString before = Scratch->Store();
        NameNextPlan(QStringLiteral(" \t "));
        window.ui->actSaveAsProject->trigger();
        CancelNextDialog(QStringLiteral("frmProjectName"));
        window.ui->actSaveAsProject->trigger();
        QCOMPARE(Scratch->Store(), before);
        QCOMPARE(window.FProjectName, Gbk(kHome));
    }

    // The name of a stored plan in another letter case: that line is replaced
    // in its place, without a question; the plan open before stays as stored.
    void saveAsReplacesAnExistingPlan()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        NameNextPlan(QStringLiteral("OFFICE"));
        window.ui->actSaveAsProject->trigger();
        QCOMPARE(Scratch->Store(), QStringLiteral("OFFICE=") + kHomeText + QStringLiteral("#新^127.0.0.2^0\r\n")
                                       + kHome + "=" + kHomeText + "\r\n");
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("OFFICE")));
        QVERIFY(Boxes->Seen.empty());
    }

    void deletePlanThatIsNotOpen()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        const QString title = window.windowTitle();
        QString caption;
        PickNextPlan(QStringLiteral("office"), nullptr, &caption);
        Boxes->Answer({IDOK});
        window.ui->actDelProject->trigger();
        QCOMPARE(caption, QStringLiteral("删除测速方案"));
        QCOMPARE(Boxes->Texts(), QStringList{QStringLiteral("你确定要删除测速方案[office]吗?")});
        QCOMPARE(Boxes->Seen[0].Style, unsigned(MB_ICONQUESTION | MB_OKCANCEL));
        QCOMPARE(Scratch->Store(), kHome + "=" + kHomeText + "\r\n");
        QCOMPARE(window.windowTitle(), title);
        QCOMPARE(window.Infos.size(), size_t(3));
        Boxes->Answer({IDNO});
    }

    // The open plan goes with its unsaved items, without the question.
    void deleteTheOpenPlan()
    {
        TfrmTarnix& window = OpenHome();
        AddItem(window, QStringLiteral("新"), QStringLiteral("127.0.0.2"));
        PickNextPlan(kHome);
        Boxes->Answer({IDCANCEL});
        window.ui->actDelProject->trigger();
        QCOMPARE(window.Infos.size(), size_t(3));
        QVERIFY(Scratch->Store().contains(kHome));

        PickNextPlan(kHome);
        Boxes->Answer({IDOK});
        window.ui->actDelProject->trigger();
        QCOMPARE(Boxes->Seen.size(), size_t(2));
        QCOMPARE(Boxes->Seen[1].Text, QStringLiteral("你确定要删除测速方案[家里]吗?"));
        QCOMPARE(Scratch->Store(), QStringLiteral("office=backup^127.0.0.7^0\r\n"));
        QVERIFY(window.FProjectName.empty());
        QVERIFY(window.Infos.empty());
        QCOMPARE(window.windowTitle(), kTitle.arg(QStringLiteral("未命名")));
        QVERIFY(Scratch->ReadFile(QStringLiteral("DestLists.ini")).contains(QStringLiteral("project=家里")));
        CancelNextDialog(QStringLiteral("frmProjectList"));
        window.ui->actDelProject->trigger();
        QCOMPARE(Boxes->Seen.size(), size_t(2));
    }

    // Removal matches the name exactly; the list shows both spellings.
    void deleteMatchesExactly()
    {
        Scratch->WriteStore(QStringLiteral("Alpha=x^127.0.0.1^0\r\nalpha=y^127.0.0.2^0\r\n"));
        Scratch->WriteSetting(QStringLiteral("Alpha"));
        TfrmTarnix& window = Scratch->Open();
        PickNextPlan(QStringLiteral("alpha"));
        Boxes->Answer({IDOK});
        window.ui->actDelProject->trigger();
        QCOMPARE(Scratch->Store(), QStringLiteral("Alpha=x^127.0.0.1^0\r\n"));
        QCOMPARE(window.FProjectName, std::string("Alpha"));
        QCOMPARE(InfoNames(window), QStringList{"x"});
    }

    void commandsDoNothingDuringARun()
    {
        TfrmTarnix& window = OpenHome();
        window.FTesting = true;
        window.UpdateActions();
        for (QAction* action : {window.ui->actNewProject, window.ui->actOpenProject, window.ui->actSaveProject,
                                window.ui->actSaveAsProject, window.ui->actDelProject})
            action->trigger();
        QCOMPARE(window.Infos.size(), size_t(2));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        window.FTesting = false;
        QVERIFY(Boxes->Seen.empty());
    }
};

QTEST_MAIN(TestPlanCommands)
#include "test_Main_quellan_Plans.moc"
