// The last run's results beyond the list: the details of an item's tries, the
// export to CSV and the record each completed run leaves in the history. The
// runs' results are decided by fake workers; nothing is sent anywhere.

#include "Mainfixture.h"

#include "cli/Clireport.h"
#include "dialogs/Csvfile.h"
#include "dialogs/History.h"
#include "dialogs/Itemdetails.h"
#include "dialogs/Pathtrace.h"
#include "history/Historydb.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <optional>

using namespace std::chrono_literals;

namespace {

const QString kPlan = QStringLiteral("a^127.0.0.1^0#b^127.0.0.2^0#c^127.0.0.3^0");
constexpr std::optional<std::chrono::microseconds> kFailed = std::nullopt;

QStringList TryTexts(const TfrmItemDetails& d)
{
    QStringList texts;
    for (int i = 0; i < d.lvTries->topLevelItemCount(); ++i)
        texts << d.lvTries->topLevelItem(i)->text(0) + "=" + d.lvTries->topLevelItem(i)->text(1);
    return texts;
}

struct TShownDetails {
    QString Name, Address, Fastest, Mean, Slowest, StdDev;
    QStringList Tries;
};

// What the next details dialog shows; it is closed with its button.
void InspectNextDetails(TShownDetails& shown)
{
    WhenModal<TfrmItemDetails>(QStringLiteral("frmItemDetails"), [&shown](TfrmItemDetails& d) {
        shown = {d.lblName->text(), d.lblAddress->text(), d.lblFastest->text(), d.lblMean->text(),
                 d.lblSlowest->text(), d.lblStdDev->text(), TryTexts(d)};
        QTest::mouseClick(d.btnClose, Qt::LeftButton);
    });
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

}  // namespace

class TestResults : public TMainWindowFixture {
    Q_OBJECT

    TfrmTarnix& OpenPlan(const QString& text = kPlan, bool holdReports = false)
    {
        TfrmTarnix& window = TMainWindowFixture::OpenPlan(text);
        Workers = std::make_unique<TFakeWorkers>(window, holdReports);
        Workers->Set(QStringLiteral("a"), Tried({10ms, 12ms, kFailed, 14ms, 12ms}));
        Workers->Set(QStringLiteral("b"), Tried({kFailed, kFailed, kFailed, kFailed, kFailed}));
        Workers->Set(QStringLiteral("c"), Tried({1500us, 1500us, 1500us, 1500us, 1500us}));
        return window;
    }

    // Runs to the end and waits until the run has gone to the history.
    void RunAndRecord(TfrmTarnix& window, bool expectRecorded = true)
    {
        QSignalSpy recorded(&window, &TfrmTarnix::HistoryRecorded);
        RunToTheEnd(window);
        QTRY_COMPARE_WITH_TIMEOUT(recorded.count(), 1, 10000);
        QCOMPARE(recorded.first().first().toBool(), expectRecorded);
    }

    QString HistoryPath() const { return Scratch->Path(QStringLiteral("History.db")); }

private slots:
    // Only one selected item with results of a run not in progress has details.
    void detailsFollowTheSelectionAndTheRun()
    {
        TfrmTarnix& window = OpenPlan(kPlan, true);
        SelectRows(window, {0});
        QVERIFY(!Enabled(window, "actItemDetails"));
        QVERIFY(!Enabled(window, "actExportResults"));
        QVERIFY(Enabled(window, "actHistory"));

        Trigger(window, "actTestSpending");
        QTRY_COMPARE(Workers->Held().size(), 3);
        Workers->ReportAll();
        QTRY_COMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        SelectRows(window, {0});
        QVERIFY(Enabled(window, "actItemDetails"));
        QVERIFY(Enabled(window, "actExportResults"));
        SelectRows(window, {0, 1});
        QVERIFY(!Enabled(window, "actItemDetails"));

        // An item added since has no results of its own.
        AddItem(window, QStringLiteral("d"), QStringLiteral("127.0.0.4"));
        SelectRows(window, {3});
        QVERIFY(!Enabled(window, "actItemDetails"));

        Trigger(window, "actTestSpending");
        QTRY_VERIFY(!Workers->Held().isEmpty());
        SelectRows(window, {0});
        QVERIFY(!Enabled(window, "actItemDetails"));
        QVERIFY(!Enabled(window, "actExportResults"));
        Workers->ReportAll();
        QTRY_COMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        SelectRows(window, {0});
        QVERIFY(Enabled(window, "actItemDetails"));
    }

    // The five tries, their figures and the address; Enter on a row opens them.
    void detailsShowTheTriesOfTheRow()
    {
        TfrmTarnix& window = OpenPlan();
        RunAndRecord(window);

        SelectRows(window, {0});
        TShownDetails shown;
        InspectNextDetails(shown);
        QTest::keyClick(List(window), Qt::Key_Return);
        QCOMPARE(shown.Name, QStringLiteral("a"));
        QCOMPARE(shown.Address, QStringLiteral("127.0.0.1"));
        QCOMPARE(shown.Tries, (QStringList{"第1次=10.000", "第2次=12.000", "第3次=失败", "第4次=14.000",
                                           "第5次=12.000"}));
        QCOMPARE(shown.Fastest, QStringLiteral("10.00"));
        QCOMPARE(shown.Mean, QStringLiteral("12.00"));
        QCOMPARE(shown.Slowest, QStringLiteral("14.00"));
        QCOMPARE(shown.StdDev, QStringLiteral("1.41"));

        SelectRows(window, {1});
        InspectNextDetails(shown);
        QTest::keyClick(List(window), Qt::Key_Enter);
        QCOMPARE(shown.Tries.filter(QStringLiteral("失败")).size(), 5);
        QCOMPARE(shown.Mean, QStringLiteral("--"));
    }

    // A home page's address is where its tries connected; the history and
    // the export get it too. Each failed try says why.
    void detailsOfAHomePageShowWhereItConnectedAndWhyTriesFailed()
    {
        TfrmTarnix& window = OpenPlan(QStringLiteral("p^localhost:18080^1"));
        TFakeResult result = Tried({3ms, kFailed});
        result.Tries.clear();
        TTryOutcome answered;
        answered.Ok = true;
        answered.Elapsed = 3ms;
        answered.Http = THttpTry{1ms, 1ms, 0us, 1ms, 0us, 200, "::1", 100, 0};
        TTryOutcome refused;
        refused.Cause = TTryCause::Refused;
        result.Outcomes = {answered, refused};
        Workers->Set(QStringLiteral("p"), result);
        RunAndRecord(window);
        SelectRows(window, {0});
        QString address, note;
        bool phasesShown = false;
        WhenModal<TfrmItemDetails>(QStringLiteral("frmItemDetails"), [&](TfrmItemDetails& d) {
            address = d.lblAddress->text();
            note = d.lvTries->topLevelItem(1)->text(d.lvTries->columnCount() - 1);
            phasesShown = !d.lvTries->isColumnHidden(2);
            QTest::mouseClick(d.btnClose, Qt::LeftButton);
        });
        Trigger(window, "actItemDetails");
        QCOMPARE(address, QStringLiteral("::1"));
        QCOMPARE(note, QStringLiteral("连接被拒绝"));
        QVERIFY(phasesShown);
        THistoryDb db(HistoryPath().toStdString());
        const auto runs = db.Runs("p", {}, std::chrono::system_clock::now() + 1h);
        QCOMPARE(runs.size(), size_t(1));
        QCOMPARE(db.Run(runs[0].Id).Items.at(0).Address, std::string("::1"));
    }

    // A DNS item names its method and the name it asked for; a Ping item has no such line.
    void detailsOfADnsItemNameTheQuery()
    {
        TfrmTarnix& window = OpenPlan(kPlan + QStringLiteral("#d^127.0.0.53^2"));
        Workers->Set(QStringLiteral("d"), Tried({2ms, 2ms, 2ms, 2ms, 2ms}));
        RunAndRecord(window);
        struct TShownQuery {
            QString Method, QueryName;
            bool Visible = false;
            int ListTop = 0;
        };
        auto inspect = [&window](int row) {
            TShownQuery shown;
            SelectRows(window, {row});
            WhenModal<TfrmItemDetails>(QStringLiteral("frmItemDetails"), [&shown](TfrmItemDetails& d) {
                shown = {d.lblMethod->text(), d.lblQueryName->text(), d.lblQueryName->isVisible(), d.lvTries->y()};
                QTest::mouseClick(d.btnClose, Qt::LeftButton);
            });
            Trigger(window, "actItemDetails");
            return shown;
        };
        const TShownQuery dns = inspect(3);
        QCOMPARE(dns.Method, QStringLiteral("DNS查询"));
        QCOMPARE(dns.QueryName, QStringLiteral("www.example.com"));
        QVERIFY(dns.Visible);
        const TShownQuery ping = inspect(0);
        QCOMPARE(ping.Method, QStringLiteral("Ping"));
        QVERIFY(!ping.Visible);
        QCOMPARE(dns.ListTop - ping.ListTop, 22);
    }

    // Deleting and adding items moves the records; each row keeps its own tries.
    void detailsStayWithTheirItemWhenTheListChanges()
    {
        TfrmTarnix& window = OpenPlan();
        RunAndRecord(window);
        for (int i = 0; i < 8; ++i)  // enough for the records to move in memory
            AddItem(window, QStringLiteral("n%1").arg(i), QStringLiteral("127.0.0.9"));
        SelectRows(window, {1});
        Scratch->Boxes.Answer({IDOK});
        Trigger(window, "actDelItem");
        QCOMPARE(RowNames(window).mid(0, 2), (QStringList{"a", "c"}));

        SelectRows(window, {1});
        TShownDetails shown;
        InspectNextDetails(shown);
        Trigger(window, "actItemDetails");
        QCOMPARE(shown.Name, QStringLiteral("c"));
        QCOMPARE(shown.Tries.first(), QStringLiteral("第1次=1.500"));
    }

    // Exactly one selected item can be traced, while a run goes on too.
    void pathTraceNeedsOneSelectedItem()
    {
        TfrmTarnix& window = OpenPlan(kPlan, true);
        List(window)->clearSelection();
        QVERIFY(!Enabled(window, "actPathTrace"));
        SelectRows(window, {1});
        QVERIFY(Enabled(window, "actPathTrace"));
        SelectRows(window, {0, 2});
        QVERIFY(!Enabled(window, "actPathTrace"));

        Trigger(window, "actTestSpending");
        QTRY_COMPARE(Workers->Held().size(), 3);
        SelectRows(window, {2});
        QVERIFY(Enabled(window, "actPathTrace"));
        Workers->ReportAll();
        QTRY_COMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        SelectRows(window, {0});
        QVERIFY(Enabled(window, "actPathTrace"));
    }

    // The dialog is about the selected item and traces its host: a home
    // page's, a TCP item's without the port.
    void pathTraceOpensOnTheItemsHost()
    {
        TPathTraceDialog::TSetupScope setup({1, 10ms, 2, 50ms});
        TfrmTarnix& window = OpenPlan(kPlan + QStringLiteral("#首页^http://127.0.0.7:8080/x^1#t^[::1]:9^3"));
        auto shown = [&window](int row) {
            QString texts;
            SelectRows(window, {row});
            WhenModal<TPathTraceDialog>(QStringLiteral("frmPathTrace"), [&texts](TPathTraceDialog& d) {
                texts = d.windowTitle() + "|" + d.lblTarget->text();
                QTest::mouseClick(d.btnClose, Qt::LeftButton);
            });
            Trigger(window, "actPathTrace");
            return texts;
        };
        QCOMPARE(shown(3), QStringLiteral("路由跟踪 - 首页|127.0.0.7"));
        QCOMPARE(shown(4), QStringLiteral("路由跟踪 - t|::1"));
        QCOMPARE(shown(1), QStringLiteral("路由跟踪 - b|127.0.0.2"));
    }

    // The list's columns, the tries and the figures, in UTF-8 with a BOM;
    // every row as long as the header.
    void exportWritesTheResultsAsCsv()
    {
        TfrmTarnix& window = OpenPlan(kPlan + QStringLiteral("#\"逗号,名\"^127.0.0.5^0"));
        Workers->Set(QStringLiteral("\"逗号,名\""), Tried({2ms, 2ms, 2ms, 2ms, 2ms}));
        RunAndRecord(window);
        const QString path = Scratch->Path(QStringLiteral("结果.csv"));
        QString asked, suggested;
        {
            TSaveFileScope answer([&](const QString& caption, const QString& name) {
                asked = caption;
                suggested = name;
                return path;
            });
            Trigger(window, "actExportResults");
        }
        QCOMPARE(asked, QStringLiteral("导出测速结果"));
        QCOMPARE(suggested, QStringLiteral("p.csv"));
        const QByteArray bytes = ReadBytes(path);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 6);  // header, four items, the empty end
        QCOMPARE(lines[0], QStringLiteral("名称,域名/IP地址,测速方式,状态,average_ms,说明,测得地址,try1_ms,try2_ms,"
                                          "try3_ms,try4_ms,try5_ms,fastest_ms,mean_ms,slowest_ms,stddev_ms"));
        // A failed try and the figures of none are empty; the state says why.
        QCOMPARE(lines[1], QStringLiteral("a,127.0.0.1,Ping,已完成,12.00,失败率1/5,127.0.0.1,10.000,12.000,,"
                                          "14.000,12.000,10.00,12.00,14.00,1.41"));
        QCOMPARE(lines[2], QStringLiteral("b,127.0.0.2,Ping,没响应,,失败率5/5,127.0.0.2,,,,,,,,,"));
        QVERIFY2(lines[4].startsWith(QStringLiteral("\"\"\"逗号,名\"\"\",")), qPrintable(lines[4]));
        const QStringList header = lines[0].split(QLatin1Char(','));
        for (int i = 1; i <= 3; ++i)  // no quoted commas in these
            QCOMPARE(lines[i].split(QLatin1Char(',')).size(), header.size());
        QCOMPARE(lines[4].split(QLatin1Char(',')).size(), header.size() + 1);
        // The figures' columns are named as orvel-cli's CSV names them.
        TRunReport report;
        report.TestTimes = 5;
        const QStringList cliHeader =
            QString::fromStdString(FormatCsv(report)).trimmed().split(QLatin1Char(','));
        QStringList figures = header.mid(header.indexOf(QStringLiteral("try1_ms")));
        figures << QStringLiteral("average_ms");
        for (const QString& name : figures)
            QVERIFY2(cliHeader.contains(name), qPrintable(name));

        // Cancelled: no file.
        QFile::remove(path);
        {
            TSaveFileScope answer([](const QString&, const QString&) { return QString(); });
            Trigger(window, "actExportResults");
        }
        QVERIFY(!QFile::exists(path));
    }

    // A file that cannot be written is told, and nothing else changes.
    void exportToAnUnwritablePlaceIsTold()
    {
        TfrmTarnix& window = OpenPlan();
        RunAndRecord(window);
        const QString path = Scratch->Path(QStringLiteral("no/such/folder/x.csv"));
        Scratch->Boxes.Answer({IDOK});
        TSaveFileScope answer([&](const QString&, const QString&) { return path; });
        Trigger(window, "actExportResults");
        QCOMPARE(Scratch->Boxes.Seen.size(), size_t(1));
        QVERIFY(Scratch->Boxes.Texts().first().startsWith(QStringLiteral("无法写入文件“") + path));
    }

    // Every completed run is in History.db beside the plans, tries and all.
    void completedRunsAreRecorded()
    {
        TfrmTarnix& window = OpenPlan();
        const QString store = Scratch->Store();
        RunAndRecord(window);
        RunAndRecord(window);

        THistoryDb db(HistoryPath().toStdString());
        const auto runs = db.Runs("p", {}, std::chrono::system_clock::now() + 1h);
        QCOMPARE(runs.size(), size_t(2));
        QCOMPARE(runs[0].Total, 3);
        QCOMPARE(runs[0].Answered, 2);
        QVERIFY(runs[0].Started <= runs[0].Ended);
        const TRunRecord run = db.Run(runs[1].Id);
        QCOMPARE(run.Items.size(), size_t(3));
        QCOMPARE(run.Items[0].Name, std::string("a"));
        QCOMPARE(run.Items[0].Address, std::string("127.0.0.1"));
        QVERIFY(run.Items[0].Tries == (TTryTimes{10ms, 12ms, kFailed, 14ms, 12ms}));
        QCOMPARE(Scratch->Store(), store);
    }

    // A history that cannot take the run: the results are shown, the user is
    // told once, the plan files are left alone.
    void anUnrecordableRunIsToldOnce()
    {
        TfrmTarnix& window = OpenPlan();
        const QString store = Scratch->Store();
        QVERIFY(QDir(Scratch->Path(QString())).mkdir(QStringLiteral("History.db")));  // not a database
        Scratch->Boxes.Answer({IDOK});
        RunAndRecord(window, false);
        QTRY_COMPARE(Scratch->Boxes.Seen.size(), size_t(1));
        QVERIFY(Scratch->Boxes.Texts().first().startsWith(QStringLiteral("本次测速的结果未能记入测速历史")));
        QCOMPARE(TimeText(window, 0).trimmed(), QStringLiteral("12.00"));
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));

        RunAndRecord(window, false);
        QVERIFY(QueuedWorkDone());
        QCOMPARE(Scratch->Boxes.Seen.size(), size_t(1));
        QCOMPARE(Scratch->Store(), store);
    }

    // The history command shows the open plan's runs.
    void historyShowsTheOpenPlansRuns()
    {
        TfrmTarnix& window = OpenPlan();
        RunAndRecord(window);
        RunAndRecord(window);
        int rows = -1;
        QString plan;
        WhenModal<TfrmHistory>(QStringLiteral("frmHistory"), [&](TfrmHistory& d) {
            // The window reads on a thread of its own: the runs come a little later.
            const QAbstractItemModel* table = d.findChild<QTableView*>(QStringLiteral("tvRuns"))->model();
            (void)QTest::qWaitFor([&] { return table->rowCount() > 0; }, 5000);  // rows is checked after
            rows = table->rowCount();
            plan = d.findChild<QLabel*>(QStringLiteral("lblPlan"))->text();
            QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btnClose")), Qt::LeftButton);
        });
        Trigger(window, "actHistory");
        QCOMPARE(rows, 2);
        QCOMPARE(plan, QStringLiteral("测速方案：p"));
    }
};

QTEST_MAIN(TestResults)
#include "test_Main_quellan_Results.moc"
