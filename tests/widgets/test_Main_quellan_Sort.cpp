// Sorting the main window's list by real clicks on its header, and the arrow
// that the header then shows.

#include "app/Main_quellan.h"
#include "app/Sortarrows.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Programdir.h"
#include "vqlib/Vqwindows.h"

#include "ui_Main_quellan.h"

#include <QHeaderView>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <optional>

namespace {

TDNSDispInfo Item(const char* name, uint8_t state = tsWaiting, double avg = 0, int8_t doType = dtPing,
                  const char* host = "127.0.0.1")
{
    TDNSDispInfo item;
    item.Name = ToGbk(QString::fromUtf8(name)).value();
    item.DomainIP = host;
    item.DoType = doType;
    item.State = state;
    item.AvgTime = avg;
    return item;
}

// Offsets at which every drawn (non-red) pixel of the arrow appears.
QList<QPoint> FindArrow(const QImage& grab, const QImage& arrow)
{
    const QColor red(255, 0, 0);
    QList<QPoint> found;
    for (int oy = -arrow.height(); oy < grab.height(); ++oy)
        for (int ox = -arrow.width(); ox < grab.width(); ++ox) {
            bool match = true;
            for (int y = 0; y < arrow.height() && match; ++y)
                for (int x = 0; x < arrow.width() && match; ++x) {
                    const QColor c = arrow.pixelColor(x, y);
                    const QPoint p(ox + x, oy + y);
                    if (c != red)
                        match = grab.rect().contains(p) && grab.pixelColor(p) == c;
                }
            if (match)
                found << QPoint(ox, oy);
        }
    return found;
}

// A row that notes whether the list's drawing was frozen while it was compared.
class TProbeRow : public QTreeWidgetItem {
public:
    TProbeRow(const TfrmTarnix* window, const QString& name, bool* sawLiveDrawing)
        : FWindow(window), FSawLiveDrawing(sawLiveDrawing)
    {
        setText(0, name);
    }
    bool operator<(const QTreeWidgetItem& other) const override
    {
        if (treeWidget()->viewport()->updatesEnabled())
            *FSawLiveDrawing = true;
        return FWindow->lvInfosCompare(const_cast<TProbeRow*>(this), const_cast<QTreeWidgetItem*>(&other)) < 0;
    }

private:
    const TfrmTarnix* FWindow;
    bool* FSawLiveDrawing;
};

}  // namespace

class TestListSorting : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    std::unique_ptr<TfrmTarnix> FWindow;

    QTreeWidget* List() { return FWindow->ui->lvInfos; }
    QHeaderView* Header() { return List()->header(); }

    void Fill(std::vector<TDNSDispInfo> items)
    {
        FWindow->Infos = std::move(items);
        FWindow->RefreshList();
    }

    QStringList Column(int column)
    {
        QStringList texts;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            texts << List()->topLevelItem(i)->text(column);
        return texts;
    }
    QStringList Names() { return Column(0); }

    void ClickHeader(int column)
    {
        const QRect section(Header()->sectionViewportPosition(column), 0, Header()->sectionSize(column),
                            Header()->height());
        QTest::mouseClick(Header()->viewport(), Qt::LeftButton, {}, section.center());
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
    void init()
    {
        QVERIFY(FDir.isValid());
        const TProgramDirScope programDir(FDir.path().toStdString());
        FWindow = std::make_unique<TfrmTarnix>();
        FWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
    }

    void cleanup() { FWindow.reset(); }

    void timesSortNumericallyWithUntimedRowsAfterThem()
    {
        Fill({Item("a", tsDone, 12.3456), Item("b", tsWaiting), Item("c", tsDone, 9.5),
              Item("d", tsNoResponse), Item("e", tsTesting), Item("f", tsDone, 100)});
        QCOMPARE(ArrowSection(false), -1);
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
        // Infos itself keeps its order.
        QCOMPARE(FromGbk(FWindow->Infos[0].Name), QString("a"));
        QCOMPARE(FromGbk(FWindow->Infos[5].Name), QString("f"));
    }

    void textColumnsSortByTheirBytes()
    {
        Fill({Item("abc", tsDone, 1, dtPing, "127.0.0.2"), Item("ab", tsDone, 1, dtHomePage, "127.0.0.10"),
              Item("取", tsDone, 1, dtDNSQuery, "localhost"), Item("Ab", tsDone, 1, dtHomePage, "Localhost"),
              Item("B", tsDone, 1, dtPing, "127.0.0.1")});
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
        QCOMPARE(Column(2).mid(0, 3), QStringList({"Ping", "Ping", "Ping"}));
        QCOMPARE(Column(2).mid(3), QStringList({"取首页内容", "取首页内容"}));
        QCOMPARE(ArrowSection(false), 2);
        ClickHeader(2);
        QCOMPARE(Column(2).first(), QString("取首页内容"));
    }

    void notesSortByBytesIncludingTheFailureText()
    {
        std::vector<TDNSDispInfo> items = {Item("x", tsNoResponse), Item("y", tsDone, 3), Item("z", tsWaiting)};
        items[0].Note = "IP[127.0.0.1] ";
        items[0].FailCount = 5;
        items[1].Note = "IP[127.0.0.1] ";
        items[1].FailCount = 1;
        items[2].Note = "IP[127.0.0.1]";
        Fill(items);
        ClickHeader(4);
        QCOMPARE(Names(), QStringList({"z", "y", "x"}));  // prefix first, then 失败率1 before 失败率5
    }

    void rebuildRestoresTheOrderOfInfosAndKeepsTheArrow()
    {
        Fill({Item("b"), Item("c"), Item("a")});
        ClickHeader(0);
        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"c", "b", "a"}));

        FWindow->RefreshList();  // what the end of a test run does
        QCOMPARE(Names(), QStringList({"b", "c", "a"}));
        QCOMPARE(FWindow->FSortColumn, 0);
        QVERIFY(FWindow->FSortDescending);
        QCOMPARE(ArrowSection(true), 0);

        ClickHeader(0);  // the recorded direction reverses
        QCOMPARE(Names(), QStringList({"a", "b", "c"}));
        QCOMPARE(ArrowSection(false), 0);
    }

    void deletingKeepsTheSortedOrder()
    {
        Fill({Item("d"), Item("b"), Item("e"), Item("a"), Item("c")});
        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"a", "b", "c", "d", "e"}));
        List()->topLevelItem(1)->setSelected(true);
        List()->topLevelItem(3)->setSelected(true);
        SetMsgBoxHook([](const TMsgBoxRequest& box) {  // confirm, whichever buttons it has
            return (box.Style & 0x0F) == MB_OKCANCEL ? int(IDOK) : int(IDYES);
        });
        FWindow->ui->actDelItem->trigger();
        SetMsgBoxHook(nullptr);

        QCOMPARE(Names(), QStringList({"a", "c", "e"}));
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = List()->topLevelItem(i);
            QVERIFY(TfrmTarnix::RowInfo(row));
            QCOMPARE(FromGbk(TfrmTarnix::RowInfo(row)->Name), row->text(0));
        }
        QCOMPARE(ArrowSection(false), 0);
    }

    void drawingIsFrozenDuringTheSortOnly()
    {
        bool sawLiveDrawing = false;
        for (const char* name : {"d", "b", "c", "a"})
            List()->addTopLevelItem(new TProbeRow(FWindow.get(), name, &sawLiveDrawing));
        ClickHeader(0);
        QCOMPARE(Names(), QStringList({"a", "b", "c", "d"}));
        QVERIFY(!sawLiveDrawing);
        QVERIFY(List()->viewport()->updatesEnabled());
    }

    void timeTextsCompareAsNumbers()
    {
        QCOMPARE(TfrmTarnix::CompareTimes("   9.50", "  12.35"), -1);
        QCOMPARE(TfrmTarnix::CompareTimes("  12.35", "   9.50"), 1);
        QCOMPARE(TfrmTarnix::CompareTimes(" 12.35 ", "12.350"), 0);
        QCOMPARE(TfrmTarnix::CompareTimes("1000.00", "待测速"), -1);
        QCOMPARE(TfrmTarnix::CompareTimes("没响应", "   0.00"), 1);
        // Cells without a number are equal among themselves.
        QCOMPARE(TfrmTarnix::CompareTimes("待测速", "没响应"), 0);
        QCOMPARE(TfrmTarnix::CompareTimes("测速中...", ""), 0);
        QCOMPARE(TfrmTarnix::CompareTimes("nan", "inf"), 0);
        // Huge values fall back to their general-format texts.
        QVERIFY(TfrmTarnix::CompareTimes("1e10", "2e9") < 0);
        QCOMPARE(TfrmTarnix::CompareTimes("999999999", "待测速"), 0);
    }
};

QTEST_MAIN(TestListSorting)
#include "test_Main_quellan_Sort.moc"
