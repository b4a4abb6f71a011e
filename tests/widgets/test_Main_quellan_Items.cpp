// The item commands end to end in the window; the edit item dialog and the
// confirmation are answered by script.

#include "ui_Main_quellan.h"

#include "Windowscript.h"

#include "app/Inforow.h"

#include <QLabel>
#include <QtTest>

namespace {

const QString kStore = QStringLiteral("p=a^127.0.0.1^0#b^127.0.0.2^1#c^127.0.0.3^0#d^127.0.0.4^0#e^127.0.0.5^1\r\n");

// The next edit item dialog: what it showed, then cancelled.
struct TShownDialog {
    QString Caption, Name, Address;
    int DoType = -2;
    bool NameEnabled = true, AddressEnabled = true;
    std::vector<std::string> ItemNames;
};

void InspectAndCancelNextEditItem(TShownDialog& shown)
{
    WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&shown](TfrmEditItem& d) {
        shown = {d.windowTitle(), d.edtName->text(), d.edtDomainIP->text(), d.cbDoType->currentIndex(),
                 d.edtName->isEnabled(), d.edtDomainIP->isEnabled(), d.FItemNames};
        QTest::mouseClick(d.btnCancel, Qt::LeftButton);
    });
}

void DoubleClickRow(TfrmTarnix& window, int row)
{
    QTreeWidget* list = List(window);
    const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

}  // namespace

class TestItemCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowScratch> Scratch;
    std::unique_ptr<TBoxScript> Boxes;

    TfrmTarnix& OpenPlan()
    {
        Scratch->WriteStore(kStore);
        Scratch->WriteSetting(QStringLiteral("p"));
        return Scratch->Open();
    }

private slots:
    void init()
    {
        Scratch = std::make_unique<TWindowScratch>();
        Boxes = std::make_unique<TBoxScript>();
    }
    void cleanup()
    {
        QCOMPARE(Boxes->Unexpected, 0);
        if (Scratch->Window)
            Scratch->Window->FTesting = false;
        Boxes->Answer({IDNO, IDNO});
        Scratch.reset();
        Boxes.reset();
    }

    // The dialog is told every name in Infos order; the new item comes last,
    // waiting, with its texts exactly as typed.
    void addAppendsAWaitingItem()
    {
        TfrmTarnix& window = OpenPlan();
        window.Infos[1].Name = " b ";
        window.RefreshList();
        std::vector<std::string> names;
        QString caption;
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            names = d.FItemNames;
            caption = d.windowTitle();
            d.edtName->setText(QStringLiteral("  家里 "));
            d.edtDomainIP->setText(QStringLiteral(" www.example.com "));
            d.cbDoType->setCurrentIndex(dtHomePage);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        window.ui->actAddItem->trigger();
        QCOMPARE(caption, QStringLiteral("增加测速项"));
        QCOMPARE(names, (std::vector<std::string>{"a", " b ", "c", "d", "e"}));
        QCOMPARE(window.Infos.size(), size_t(6));
        const TDNSDispInfo& added = window.Infos.back();
        QCOMPARE(added.Name, Gbk(QStringLiteral("  家里 ")));
        QCOMPARE(added.DomainIP, std::string(" www.example.com "));
        QCOMPARE(added.DoType, int8_t(dtHomePage));
        QCOMPARE(added.State, uint8_t(tsWaiting));
        QVERIFY(added.Note.empty() && added.IP.empty());
        QTreeWidgetItem* last = List(window)->topLevelItem(5);
        QCOMPARE(last->text(0), QStringLiteral("  家里 "));
        QCOMPARE(last->text(2), QStringLiteral("取首页内容"));
        QCOMPARE(last->text(3), QStringLiteral("待测速"));
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("6"));
        CheckRowsBound(window);

        window.ui->actSaveProject->trigger();
        QVERIFY(Scratch->Store().endsWith(QStringLiteral("#  家里 ^ www.example.com ^1\r\n")));
    }

    // The duplicate is refused by the dialog (it stays open); Cancel then
    // leaves everything as it was.
    void addRefusedOrCancelledChangesNothing()
    {
        TfrmTarnix& window = OpenPlan();
        QString emptiedName = QStringLiteral("unset");
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            d.edtName->setText(QStringLiteral(" c "));
            d.edtDomainIP->setText(QStringLiteral("h"));
            Boxes->Answer({IDOK});
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
            emptiedName = d.edtName->text();
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        window.ui->actAddItem->trigger();
        QCOMPARE(Boxes->Texts(), QStringList{QStringLiteral("当前方案已经存在一个名为[c]的测速项。请另取名。")});
        QCOMPARE(emptiedName, QString());
        QCOMPARE(window.Infos.size(), size_t(5));
        QVERIFY(!window.PlanChanged());

        AddItem(window, QStringLiteral("C"), QStringLiteral("h"));
        QCOMPARE(window.Infos.size(), size_t(6));
        QVERIFY(window.PlanChanged());
    }

    void addWhileSortedRebuildsInInfosOrder()
    {
        TfrmTarnix& window = OpenPlan();
        ReverseRows(window);
        AddItem(window, QStringLiteral("f"), QStringLiteral("h"));
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e", "f"}));
        CheckRowsBound(window);

        window.lvInfosColumnClick(0);
        window.lvInfosColumnClick(0);
        AddItem(window, QStringLiteral("0"), QStringLiteral("h"));
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e", "f", "0"}));
        CheckRowsBound(window);
    }

    // A list sorted by its header keeps that order through a delete.
    void deleteFromAListSortedByItsHeader()
    {
        TfrmTarnix& window = OpenPlan();
        window.lvInfosColumnClick(0);
        window.lvInfosColumnClick(0);
        const QStringList shown = RowNames(window);
        SelectRowsNamed(window, {"c"});
        Boxes->Answer({IDOK});
        window.ui->actDelItem->trigger();
        QStringList expected = shown;
        expected.removeAll("c");
        QCOMPARE(RowNames(window), expected);
        CheckRowsBound(window);
    }

    void deleteAsksWithTheCount()
    {
        TfrmTarnix& window = OpenPlan();
        SelectRows(window, {0, 2, 4});
        Boxes->Answer({IDCANCEL});
        window.ui->actDelItem->trigger();
        QCOMPARE(Boxes->Texts(), QStringList{QStringLiteral("你确定要删除这3条测速项吗?")});
        QCOMPARE(Boxes->Seen[0].Caption, QStringLiteral("询问"));
        QCOMPARE(Boxes->Seen[0].Style, unsigned(MB_ICONQUESTION | MB_OKCANCEL));
        QCOMPARE(window.Infos.size(), size_t(5));
        QCOMPARE(List(window)->topLevelItemCount(), 5);
    }

    // Deleting from a shown order other than Infos': the rows keep their
    // order and texts, each bound to its record's new place; nothing else of
    // the window is rebuilt; modifying a remaining row hits its own item.
    void deleteKeepsRowsBoundAndOrdered()
    {
        TfrmTarnix& window = OpenPlan();
        window.Infos[0].State = tsDone;
        window.Infos[0].AvgTime = 12;
        window.RefreshList();
        window.ui->pnlFinish->setText(QStringLiteral("7"));
        ReverseRows(window);
        SelectRowsNamed(window, {"b", "d"});
        const QString title = window.windowTitle();
        Boxes->Answer({IDOK});
        window.ui->actDelItem->trigger();
        QCOMPARE(InfoNames(window), QStringList({"a", "c", "e"}));
        QCOMPARE(RowNames(window), QStringList({"e", "c", "a"}));
        CheckRowsBound(window);
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("3"));
        QCOMPARE(window.ui->pnlAvgTime->text(), QStringLiteral("12.00"));
        QCOMPARE(window.ui->pnlFinish->text(), QStringLiteral("7"));
        QCOMPARE(window.windowTitle(), title);
        QVERIFY(!window.ui->actDelItem->isEnabled());

        SelectRows(window, {1});
        FillNextEditItem(QStringLiteral("c2"), QStringLiteral("127.0.0.33"), dtHomePage);
        window.ui->actModifyItem->trigger();
        QCOMPARE(InfoNames(window), QStringList({"a", "c2", "e"}));
        QCOMPARE(window.Infos[1].DoType, int8_t(dtHomePage));
        QCOMPARE(window.ItemsToText(), std::string("a^127.0.0.1^0#c2^127.0.0.33^1#e^127.0.0.5^1"));
    }

    // Two rows may show one record (a refresh by name re-points the first
    // row of that name); deleting the record takes both rows with it.
    void deleteNeverLeavesARowOnARemovedRecord()
    {
        TfrmTarnix& window = OpenPlan();
        auto* first = static_cast<TInfoRow*>(List(window)->topLevelItem(0));
        first->SetData(&window.Infos[1]);
        SelectRows(window, {1});
        Boxes->Answer({IDOK});
        window.ui->actDelItem->trigger();
        QCOMPARE(InfoNames(window), QStringList({"a", "c", "d", "e"}));
        QCOMPARE(RowNames(window), QStringList({"c", "d", "e"}));
        for (int i = 0; i < List(window)->topLevelItemCount(); ++i)
            QCOMPARE(TfrmTarnix::RowInfo(List(window)->topLevelItem(i)), &window.Infos[size_t(i) + 1]);
    }

    void deleteEveryRow()
    {
        TfrmTarnix& window = OpenPlan();
        window.ui->pnlAvgTime->setText(QStringLiteral("3.50"));
        List(window)->selectAll();
        Boxes->Answer({IDOK});
        window.ui->actDelItem->trigger();
        QCOMPARE(Boxes->Texts(), QStringList{QStringLiteral("你确定要删除这5条测速项吗?")});
        QVERIFY(window.Infos.empty());
        QCOMPARE(List(window)->topLevelItemCount(), 0);
        QCOMPARE(window.ui->pnlItemCount->text(), QStringLiteral("0"));
        QCOMPARE(window.ui->pnlAvgTime->text(), QStringLiteral("3.50"));
    }

    void deleteOrModifyWithoutSelectionDoesNothing()
    {
        TfrmTarnix& window = OpenPlan();
        window.actDelItemExecute();
        window.actModifyItemExecute();
        window.lvInfosDblClick();
        QVERIFY(Boxes->Seen.empty());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(window.Infos.size(), size_t(5));
    }

    // One item: the dialog shows it; the new texts go in untrimmed, the last
    // results stay; another item's name is accepted.
    void modifyOneItem()
    {
        TfrmTarnix& window = OpenPlan();
        window.Infos[3].State = tsDone;
        window.Infos[3].AvgTime = 12.3456;
        window.Infos[3].FailCount = 2;
        window.Infos[3].Note = "IP[127.0.0.4] ";
        window.RefreshList();
        SelectRows(window, {3});
        TShownDialog shown;
        InspectAndCancelNextEditItem(shown);
        window.ui->actModifyItem->trigger();
        QCOMPARE(shown.Caption, QStringLiteral("修改测速项(单条修改)"));
        QCOMPARE(shown.Name, QStringLiteral("d"));
        QCOMPARE(shown.Address, QStringLiteral("127.0.0.4"));
        QCOMPARE(shown.DoType, 0);
        QVERIFY(shown.NameEnabled && shown.AddressEnabled);
        QVERIFY(shown.ItemNames.empty());
        QVERIFY(!window.PlanChanged());

        SelectRows(window, {3});
        FillNextEditItem(QStringLiteral(" a "), QStringLiteral("localhost"), dtHomePage);
        window.ui->actModifyItem->trigger();
        const TDNSDispInfo& item = window.Infos[3];
        QCOMPARE(item.Name, std::string(" a "));
        QCOMPARE(item.DomainIP, std::string("localhost"));
        QCOMPARE(item.DoType, int8_t(dtHomePage));
        QCOMPARE(item.State, uint8_t(tsDone));
        QCOMPARE(item.AvgTime, 12.3456);
        QTreeWidgetItem* row = List(window)->topLevelItem(3);
        QCOMPARE(row->text(3), QStringLiteral("  12.35"));
        QCOMPARE(row->text(4), QStringLiteral("IP[127.0.0.4] 失败率2/5 "));
        QCOMPARE(row->text(2), QStringLiteral("取首页内容"));
        CheckRowsBound(window);
        QVERIFY(Boxes->Seen.empty());
    }

    // Several items: placeholders, no method; the chosen method goes to every
    // selected item and the placeholder is never stored.
    void modifySeveralItems()
    {
        TfrmTarnix& window = OpenPlan();
        SelectRows(window, {0, 2, 3});
        TShownDialog shown;
        InspectAndCancelNextEditItem(shown);
        window.ui->actModifyItem->trigger();
        QCOMPARE(shown.Caption, QStringLiteral("修改测速项(多条修改)"));
        QCOMPARE(shown.Name, QStringLiteral("*多项值*"));
        QCOMPARE(shown.Address, QStringLiteral("*多项值*"));
        QCOMPARE(shown.DoType, -1);
        QVERIFY(!shown.NameEnabled && !shown.AddressEnabled);

        SelectRows(window, {0, 2, 3});
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            Boxes->Answer({IDOK});
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);  // no method yet
            d.cbDoType->setCurrentIndex(dtHomePage);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        window.ui->actModifyItem->trigger();
        QCOMPARE(Boxes->Texts(), QStringList{QStringLiteral("请选择测速方式。 ")});
        QCOMPARE(window.ItemsToText(),
                 std::string("a^127.0.0.1^1#b^127.0.0.2^1#c^127.0.0.3^1#d^127.0.0.4^1#e^127.0.0.5^1"));
        CheckRowsBound(window);
    }

    // A method the list lacks shows no entry, and a method must be chosen.
    void modifyDnsQueryItem()
    {
        Scratch->WriteStore(QStringLiteral("p=dns^127.0.0.53^2\r\n"));
        Scratch->WriteSetting(QStringLiteral("p"));
        TfrmTarnix& window = Scratch->Open();
        SelectRows(window, {0});
        int shownType = -2;
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            shownType = d.cbDoType->currentIndex();
            d.cbDoType->setCurrentIndex(dtPing);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        window.ui->actModifyItem->trigger();
        QCOMPARE(shownType, -1);
        QCOMPARE(window.Infos[0].DoType, int8_t(dtPing));
    }

    void modifyCancelledChangesNothing()
    {
        TfrmTarnix& window = OpenPlan();
        SelectRows(window, {1});
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [](TfrmEditItem& d) {
            d.edtName->setText(QStringLiteral("changed"));
            d.cbDoType->setCurrentIndex(0);
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        window.ui->actModifyItem->trigger();
        QCOMPARE(window.ItemsToText(), Gbk(kStore.mid(2).chopped(2)));
    }

    // A double-click runs modify as the menu does: one row, then several.
    void doubleClickRunsModify()
    {
        TfrmTarnix& window = OpenPlan();
        TShownDialog shown;
        InspectAndCancelNextEditItem(shown);
        DoubleClickRow(window, 1);
        QCOMPARE(shown.Caption, QStringLiteral("修改测速项(单条修改)"));
        QCOMPARE(shown.Name, QStringLiteral("b"));

        SelectRows(window, {0, 1});
        InspectAndCancelNextEditItem(shown);
        window.lvInfosDblClick();
        QCOMPARE(shown.Caption, QStringLiteral("修改测速项(多条修改)"));
    }

    // During a run every item command is disabled; a double-click does nothing.
    void nothingDuringARun()
    {
        TfrmTarnix& window = OpenPlan();
        SelectRows(window, {1});
        window.FTesting = true;
        window.UpdateActions();
        DoubleClickRow(window, 1);
        window.ui->actAddItem->trigger();
        window.ui->actDelItem->trigger();
        window.ui->actModifyItem->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(Boxes->Seen.empty());
        QCOMPARE(window.Infos.size(), size_t(5));
    }

    // Stored bytes that are not valid GBK survive a modify of the method.
    void modifyKeepsBytesItCannotShow()
    {
        Scratch->WriteStore(QStringLiteral("p=x^127.0.0.1^0\r\n"));
        Scratch->WriteSetting(QStringLiteral("p"));
        TfrmTarnix& window = Scratch->Open();
        window.Infos[0].Name = "odd\xFF";
        window.RefreshList();
        SelectRows(window, {0});
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [](TfrmEditItem& d) {
            d.cbDoType->setCurrentIndex(dtHomePage);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        window.ui->actModifyItem->trigger();
        QCOMPARE(window.Infos[0].Name, std::string("odd\xFF"));
        QCOMPARE(window.Infos[0].DoType, int8_t(dtHomePage));
    }
};

QTEST_MAIN(TestItemCommands)
#include "test_Main_quellan_Items.moc"
