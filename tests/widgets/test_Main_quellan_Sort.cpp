// Sorting the main window's list by real clicks on its header, and the arrow
// that the header then shows. The times come from test runs whose results
// the test decides.

#include "Pixels.h"
#include "Mainfixture.h"

#include "app/Inforow.h"
#include "app/Uiexecutorqt.h"
#include "app/Sortarrows.h"

#include <QtTest>

#include <limits>
#include <optional>

namespace {

// An item of a plan and what its run leaves it (nothing: not run).
struct TSortItem {
    QString Name;
    std::optional<TFakeResult> Result = std::nullopt;
    int DoType = dtPing;
    QString Host = QStringLiteral("127.0.0.1");
};

// Shows "待测速" after a run, as a waiting item does.
const TFakeResult kShownWaiting{9, 0.0, 0};
const TFakeResult kTesting{tsTesting, 0.0, 0};

// A row that notes whether the list's drawing was frozen while it was compared.
class TProbeRow : public TInfoRow {
public:
    TProbeRow(const TfrmTarnix* window, const QString& name, bool* sawLiveDrawing)
        : TInfoRow(window, nullptr), FSawLiveDrawing(sawLiveDrawing)
    {
        setText(0, name);
    }
    bool operator<(const QTreeWidgetItem& other) const override
    {
        if (treeWidget()->viewport()->updatesEnabled())
            *FSawLiveDrawing = true;
        return TInfoRow::operator<(other);
    }

private:
    bool* FSawLiveDrawing;
};

}  // namespace

class TestListSorting : public TMainWindowFixture {
    Q_OBJECT

    TfrmTarnix* Window = nullptr;  // the last filled

    QTreeWidget* List() { return ::List(*Window); }
    QHeaderView* Header() { return List()->header(); }
    QStringList Column(int column) { return ColumnTexts(*Window, column); }
    QStringList Names() { return Column(0); }
    void ClickHeader(int column) { ::ClickHeader(*Window, column); }

    // Opens a plan of these items and, if any has a result, runs it.
    void Fill(const std::vector<TSortItem>& items)
    {
        QStringList entries;
        bool run = false;
        for (const TSortItem& item : items) {
            entries << QStringLiteral("%1^%2^%3").arg(item.Name, item.Host).arg(item.DoType);
            run |= item.Result.has_value();
        }
        Window = &OpenPlan(entries.join('#'));
        QVERIFY(QTest::qWaitForWindowExposed(Window));
        Workers = std::make_unique<TFakeWorkers>(*Window);
        for (const TSortItem& item : items)
            if (item.Result)
                Workers->Set(item.Name, *item.Result);
        if (run)
            RunToTheEnd(*Window);
    }

    // The section whose area holds the one arrow of the given direction, or -1.
    int ArrowSection(bool down)
    {
        const QImage grab = Header()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QList<QPoint> found = FindArrow(grab, down ? MakeDownArrowImage() : MakeUpArrowImage());
        if (found.size() != 1)
            return -1;
        return Header()->logicalIndexAt(found.first() + QPoint(8, 8));
    }

private slots:
    void initTestCase() { InstallQtUiExecutor(); }

    void timesSortNumericallyWithUntimedRowsAfterThem()
    {
        Fill({{"a", Measured(12.3456)}, {"b", kShownWaiting}, {"c", Measured(9.5)}, {"d", NoResponse()},
              {"e", kTesting}, {"f", Measured(100)}});
        QCOMPARE(Column(3), QStringList({"  12.35", "待测速", "   9.50", "没响应", "测速中...", " 100.00"}));
        QCOMPARE(ArrowSection(false), -1);
        QCOMPARE(ArrowSection(true), -1);
        QVERIFY(!Header()->isSortIndicatorShown());

        ClickHeader(3);
        QCOMPARE(Column(3).mid(0, 3), QStringList({"   9.50", "  12.35", " 100.00"}));
        QStringList untimed = Names().mid(3);
        untimed.sort();
        QCOMPARE(untimed, QStringList({"b", "d", "e"}));
        QCOMPARE(ArrowSection(false), 3);

        ClickHeader(3);
        untimed = Names().mid(0, 3);
        untimed.sort();
        QCOMPARE(untimed, QStringList({"b", "d", "e"}));
        QCOMPARE(Names().mid(3), QStringList({"f", "a", "c"}));
        QCOMPARE(ArrowSection(true), 3);
        QCOMPARE(ArrowSection(false), -1);

        ClickHeader(3);
        QCOMPARE(Names().mid(0, 3), QStringList({"c", "a", "f"}));
        QCOMPARE(ArrowSection(false), 3);
        // The plan itself keeps its order: a rebuild shows it.
        AddItem(*Window, QStringLiteral("g"), QStringLiteral("127.0.0.1"));
        QCOMPARE(Names(), QStringList({"a", "b", "c", "d", "e", "f", "g"}));
    }

    // The time texts compare as numbers: equal numbers and texts without a
    // number keep their order in both directions, huge values compare by
    // their general-format texts.
    void timeTextsCompareAsNumbers()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        Fill({{"1000", Measured(1000)}, {"没响应", NoResponse()}, {"0", Measured(0)}, {"1e10", Measured(1e10)},
              {"待测速", kShownWaiting}, {"12.3456", Measured(12.3456)}, {"测速中", kTesting},
              {"2e9", Measured(2e9)}, {"9.5", Measured(9.5)}, {"nan", Measured(nan)}, {"12.35", Measured(12.35)},
              {"inf", Measured(inf)}, {"999999999", Measured(999999999)}});
        const QStringList numbers = {"0", "9.5", "12.3456", "12.35", "1000", "1e10", "2e9"};
        const QStringList untimed = {"没响应", "待测速", "测速中", "nan", "inf", "999999999"};

        ClickHeader(3);
        QCOMPARE(Names(), numbers + untimed);
        QCOMPARE(Column(3).mid(0, 4), QStringList({"   0.00", "   9.50", "  12.35", "  12.35"}));
        QCOMPARE(Column(3).mid(10, 2), QStringList({"    nan", "    inf"}));

        ClickHeader(3);
        QStringList descending = untimed;
        descending << "2e9" << "1e10" << "1000" << "12.3456" << "12.35" << "9.5" << "0";
        QCOMPARE(Names(), descending);
    }

    void textColumnsSortByTheirBytes()
    {
        Fill({{"abc", std::nullopt, dtPing, "127.0.0.2"}, {"ab", std::nullopt, dtHomePage, "127.0.0.10"},
              {"取", std::nullopt, dtDNSQuery, "localhost"}, {"Ab", std::nullopt, dtHomePage, "Localhost"},
              {"B", std::nullopt, dtPing, "127.0.0.1"}});
        ClickHeader(3);  // then another column: ascending again, the arrow moves
        ClickHeader(3);
        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"Ab", "B", "ab", "abc", "取"}));
        QCOMPARE(ArrowSection(false), 0);
        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"取", "abc", "ab", "B", "Ab"}));
        QCOMPARE(ArrowSection(true), 0);

        ClickHeader(1);
        QCOMPARE(Column(1), QStringList({"127.0.0.1", "127.0.0.10", "127.0.0.2", "Localhost", "localhost"}));
        ClickHeader(2);
        QCOMPARE(Column(2), QStringList({"DNS查询", "Ping", "Ping", "取首页内容", "取首页内容"}));
        QCOMPARE(ArrowSection(false), 2);
        ClickHeader(2);
        QCOMPARE(Column(2).first(), QString("取首页内容"));
    }

    // A prefix goes first, then 失败率1 before 失败率5.
    void notesSortByBytesIncludingTheFailureText()
    {
        const QString host = QStringLiteral("localhost");
        Fill({{"x", NoResponse(5), dtPing, host}, {"y", Measured(3, 1), dtPing, host},
              {"z", Measured(3, 0), dtPing, host}});
        QCOMPARE(Column(4), QStringList({"IP[127.0.0.1] 失败率5/5 ", "IP[127.0.0.1] 失败率1/5 ", "IP[127.0.0.1] "}));
        ClickHeader(4);
        QCOMPARE(Names(), QStringList({"z", "y", "x"}));
    }

    // A run's end rebuilds the list in the plan's order; the recorded sort
    // and its arrow stay, and the next click reverses the recorded direction.
    void rebuildRestoresTheOrderOfInfosAndKeepsTheArrow()
    {
        Fill({{"b"}, {"c"}, {"a"}});
        ClickHeader(0);
        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"c", "b", "a"}));

        RunToTheEnd(*Window);
        QCOMPARE(Names(), QStringList({"b", "c", "a"}));
        QCOMPARE(ArrowSection(true), 0);

        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"a", "b", "c"}));
        QCOMPARE(ArrowSection(false), 0);
    }

    void deletingKeepsTheSortedOrder()
    {
        Fill({{"d"}, {"b"}, {"e"}, {"a"}, {"c"}});
        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"a", "b", "c", "d", "e"}));
        SelectRows(*Window, {1, 3});
        Boxes().Answer({IDOK});
        Trigger(*Window, "actDelItem");

        QCOMPARE(Names(), QStringList({"a", "c", "e"}));
        CheckRowsBound(*Window);
        QCOMPARE(ArrowSection(false), 0);
    }

    // A report refreshes the topmost row of its item's name as the list
    // stands now, sorted while the run goes on, even among rows of one name.
    void reportsRefreshTheTopRowOfTheirNameAfterSorting()
    {
        Fill({{"x", std::nullopt, dtPing, "127.0.0.1"}, {"y", std::nullopt, dtPing, "127.0.0.3"},
              {"x", std::nullopt, dtPing, "127.0.0.2"}});
        Workers.reset();  // Fill's, which would not hold the reports
        Workers = std::make_unique<TFakeWorkers>(*Window, true);
        Workers->Set("x", Measured(12.5));
        Trigger(*Window, "actTestSpending");
        QTRY_COMPARE(Workers->Held().size(), 3);
        const QString testing = QStringLiteral("测速中...");
        const QString waiting = QStringLiteral("待测速");

        // Each x that started refreshed the first x row, so the second row of
        // that name still shows the item waiting.
        Workers->Report("x");  // the plan's first x
        QTRY_COMPARE(Column(3), QStringList({"  12.50", testing, waiting}));
        QCOMPARE(Column(1), QStringList({"127.0.0.1", "127.0.0.3", "127.0.0.2"}));
        ClickHeader(3);
        ClickHeader(3);
        QCOMPARE(Column(3), QStringList({testing, waiting, "  12.50"}));
        QCOMPARE(Names(), QStringList({"y", "x", "x"}));

        Workers->Report("x");  // the other x: the upper x row now
        QTRY_COMPARE(Column(3), QStringList({testing, "  12.50", "  12.50"}));
        Workers->ReportAll();
        QTRY_COMPARE(StatusText(*Window), QStringLiteral("测速已完成。"));
    }

    void drawingIsFrozenDuringTheSortOnly()
    {
        Fill({});
        bool sawLiveDrawing = false;
        for (const char* name : {"d", "b", "c", "a"})
            List()->addTopLevelItem(new TProbeRow(Window, name, &sawLiveDrawing));
        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"a", "b", "c", "d"}));
        QVERIFY(!sawLiveDrawing);
        QVERIFY(List()->viewport()->updatesEnabled());
    }
};

QTEST_MAIN(TestListSorting)
#include "test_Main_quellan_Sort.moc"
