// The item commands end to end in the window; the edit item dialog and the
// confirmation are answered by script, the items are read back from the list,
// the dialogs and the saved plan.

#include "Mainfixture.h"

#include "app/Inforow.h"

#include <QtTest>

namespace {

const QString kPlan = QStringLiteral("a^127.0.0.1^0#b^127.0.0.2^1#c^127.0.0.3^0#d^127.0.0.4^0#e^127.0.0.5^1");

}  // namespace

class TestItemCommands : public TMainWindowFixture {
    Q_OBJECT

    TfrmTarnix& OpenPlan(const QString& text = kPlan) { return TMainWindowFixture::OpenPlan(text); }

    // The plan's items as saving writes them (which reloads the plan).
    QString SavedPlan(TfrmTarnix& window)
    {
        Trigger(window, "actSaveProject");
        const QString store = Scratch->Store();
        if (!store.startsWith(QStringLiteral("p=")) || !store.endsWith(QStringLiteral("\r\n")))
            return QStringLiteral("<unexpected store: ") + store + ">";
        return store.mid(2).chopped(2);
    }

private slots:
    // The dialog is told every name in list order; the new item comes last,
    // waiting, with its texts exactly as typed.
    void addAppendsAWaitingItem()
    {
        TfrmTarnix& window = OpenPlan(QStringLiteral("a^127.0.0.1^0# b ^127.0.0.2^1#c^127.0.0.3^0"));
        std::vector<std::string> names;
        QString caption;
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            names = d.FItemNames;
            caption = d.windowTitle();
            TypeInto(d.edtName, QStringLiteral("  家里 "));
            TypeInto(d.edtDomainIP, QStringLiteral(" www.example.com "));
            d.cbDoType->setCurrentIndex(dtHomePage);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actAddItem");
        QCOMPARE(caption, QStringLiteral("增加测速项"));
        QCOMPARE(names, (std::vector<std::string>{"a", " b ", "c"}));
        QCOMPARE(List(window)->topLevelItemCount(), 4);
        QCOMPARE(RowTexts(window, 3),
                 QStringList({"  家里 ", " www.example.com ", "取首页内容", "待测速", ""}));
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("4"));
        CheckRowsBound(window);

        QCOMPARE(SavedPlan(window), QStringLiteral("a^127.0.0.1^0# b ^127.0.0.2^1#c^127.0.0.3^0#  家里 ^ www.example.com ^1"));
    }

    // The duplicate is refused by the dialog (it stays open); Cancel then
    // leaves everything as it was. A name differing in case is accepted.
    void addRefusedOrCancelledChangesNothing()
    {
        TfrmTarnix& window = OpenPlan();
        QString emptiedName = QStringLiteral("unset");
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            TypeInto(d.edtName, QStringLiteral(" c "));
            TypeInto(d.edtDomainIP, QStringLiteral("h"));
            Boxes().Answer({IDOK});
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
            emptiedName = d.edtName->text();
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        Trigger(window, "actAddItem");
        QCOMPARE(Boxes().Texts(), QStringList{QStringLiteral("当前方案已经存在一个名为[c]的测速项。请另取名。")});
        QCOMPARE(emptiedName, QString());
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e"}));
        QVERIFY(!AsksToSave(window, Boxes()));

        AddItem(window, QStringLiteral("C"), QStringLiteral("h"));
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e", "C"}));
        QVERIFY(AsksToSave(window, Boxes()));
        QCOMPARE(SavedPlan(window), kPlan + QStringLiteral("#C^h^0"));
    }

    void addWhileSortedRebuildsInInfosOrder()
    {
        TfrmTarnix& window = OpenPlan();
        ClickHeader(window, 0);
        ClickHeader(window, 0);
        QCOMPARE(RowNames(window), QStringList({"e", "d", "c", "b", "a"}));
        AddItem(window, QStringLiteral("f"), QStringLiteral("h"));
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e", "f"}));
        CheckRowsBound(window);

        ClickHeader(window, 0);  // ascending again: the recorded direction reverses
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e", "f"}));
        ClickHeader(window, 0);
        AddItem(window, QStringLiteral("0"), QStringLiteral("h"));
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e", "f", "0"}));
        CheckRowsBound(window);
    }

    // A list sorted by its header keeps that order through a delete.
    void deleteFromAListSortedByItsHeader()
    {
        TfrmTarnix& window = OpenPlan();
        ClickHeader(window, 0);
        ClickHeader(window, 0);
        const QStringList shown = RowNames(window);
        SelectRowsNamed(window, {"c"});
        Boxes().Answer({IDOK});
        Trigger(window, "actDelItem");
        QStringList expected = shown;
        expected.removeAll("c");
        QCOMPARE(RowNames(window), expected);
        CheckRowsBound(window);
    }

    void deleteAsksWithTheCount()
    {
        TfrmTarnix& window = OpenPlan();
        SelectRows(window, {0, 2, 4});
        Boxes().Answer({IDCANCEL});
        Trigger(window, "actDelItem");
        QCOMPARE(Boxes().Texts(), QStringList{QStringLiteral("你确定要删除这3条测速项吗?")});
        QCOMPARE(Boxes().Seen[0].Caption, QStringLiteral("询问"));
        QCOMPARE(Boxes().Seen[0].Style, unsigned(MB_ICONQUESTION | MB_OKCANCEL));
        QCOMPARE(List(window)->topLevelItemCount(), 5);
        QCOMPARE(SavedPlan(window), kPlan);
    }

    // Deleting from a shown order other than the plan's: the rows keep their
    // order and texts, each bound to its own item; nothing else of the window
    // is rebuilt; modifying a remaining row changes its own item.
    void deleteKeepsRowsBoundAndOrdered()
    {
        TfrmTarnix& window = OpenPlan();
        TFakeWorkers workers(window);
        workers.Set(QStringLiteral("a"), Measured(12));
        RunToTheEnd(window);
        QCOMPARE(PanelText(window, "pnlAvgTime"), QStringLiteral("12.00"));

        ClickHeader(window, 0);
        ClickHeader(window, 0);
        SelectRowsNamed(window, {"b", "d"});
        const QString title = window.windowTitle();
        Boxes().Answer({IDOK});
        Trigger(window, "actDelItem");
        QCOMPARE(RowNames(window), QStringList({"e", "c", "a"}));
        QCOMPARE(ColumnTexts(window, 3), QStringList({"没响应", "没响应", "  12.00"}));
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("3"));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QStringLiteral("12.00"));
        QCOMPARE(PanelText(window, "pnlFinish"), QString());
        QCOMPARE(window.windowTitle(), title);
        QVERIFY(!Enabled(window, "actDelItem"));
        CheckRowsBound(window);

        SelectRows(window, {1});
        FillNextEditItem(QStringLiteral("c2"), QStringLiteral("127.0.0.33"), dtHomePage);
        Trigger(window, "actModifyItem");
        QCOMPARE(RowNames(window), QStringList({"a", "c2", "e"}));
        QCOMPARE(SavedPlan(window), QStringLiteral("a^127.0.0.1^0#c2^127.0.0.33^1#e^127.0.0.5^1"));
    }

    // Two rows may show one item (a report re-points the first row of its
    // name); deleting the item takes both rows with it.
    void deleteNeverLeavesARowOnARemovedRecord()
    {
        TfrmTarnix& window = OpenPlan();
        auto* first = static_cast<TInfoRow*>(List(window)->topLevelItem(0));
        first->SetData(TInfoRow::DataOf(List(window)->topLevelItem(1)));
        SelectRows(window, {1});
        Boxes().Answer({IDOK});
        Trigger(window, "actDelItem");
        QCOMPARE(RowNames(window), QStringList({"c", "d", "e"}));
        CheckRowsBound(window);
        QCOMPARE(SavedPlan(window), QStringLiteral("a^127.0.0.1^0#c^127.0.0.3^0#d^127.0.0.4^0#e^127.0.0.5^1"));
    }

    void deleteEveryRow()
    {
        TfrmTarnix& window = OpenPlan(QStringLiteral("a^127.0.0.1^0#b^127.0.0.2^0"));
        TFakeWorkers workers(window);
        workers.Set(QStringLiteral("a"), Measured(3.5));
        workers.Set(QStringLiteral("b"), Measured(3.5));
        RunToTheEnd(window);
        SelectAllRows(window);
        Boxes().Answer({IDOK});
        Trigger(window, "actDelItem");
        QCOMPARE(Boxes().Texts(), QStringList{QStringLiteral("你确定要删除这2条测速项吗?")});
        QCOMPARE(List(window)->topLevelItemCount(), 0);
        QCOMPARE(PanelText(window, "pnlItemCount"), QStringLiteral("0"));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QStringLiteral("3.50"));
        QCOMPARE(SavedPlan(window), QString());
    }

    void deleteOrModifyWithoutSelectionDoesNothing()
    {
        TfrmTarnix& window = OpenPlan();
        QVERIFY(!Enabled(window, "actDelItem"));
        QVERIFY(!Enabled(window, "actModifyItem"));
        Trigger(window, "actDelItem");
        Trigger(window, "actModifyItem");
        QTest::mouseDClick(List(window)->viewport(), Qt::LeftButton, Qt::NoModifier,
                           List(window)->viewport()->rect().bottomRight() - QPoint(5, 5));
        QCoreApplication::processEvents();
        QVERIFY(Boxes().Seen.empty());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(List(window)->topLevelItemCount(), 5);
    }

    // One item: the dialog shows it; the new texts go in untrimmed, the last
    // results stay; another item's name is accepted.
    void modifyOneItem()
    {
        TfrmTarnix& window = OpenPlan(QStringLiteral("a^127.0.0.1^0#b^127.0.0.2^1#c^127.0.0.3^0#d^localhost^0"));
        TFakeWorkers workers(window);
        workers.Set(QStringLiteral("d"), Measured(12.3456, 2));
        RunToTheEnd(window);
        SelectRows(window, {3});
        TShownDialog shown;
        InspectAndCancelNextEditItem(shown);
        Trigger(window, "actModifyItem");
        QCOMPARE(shown.Caption, QStringLiteral("修改测速项(单条修改)"));
        QCOMPARE(shown.Name, QStringLiteral("d"));
        QCOMPARE(shown.Address, QStringLiteral("localhost"));
        QCOMPARE(shown.DoType, 0);
        QVERIFY(shown.NameEnabled && shown.AddressEnabled);
        QVERIFY(shown.ItemNames.empty());
        QVERIFY(!AsksToSave(window, Boxes()));

        SelectRows(window, {3});
        FillNextEditItem(QStringLiteral(" a "), QStringLiteral("127.0.0.4"), dtHomePage);
        Trigger(window, "actModifyItem");
        QCOMPARE(RowTexts(window, 3),
                 QStringList({" a ", "127.0.0.4", "取首页内容", "  12.35", "IP[127.0.0.1] 失败率2/5 "}));
        CheckRowsBound(window);
        QCOMPARE(Boxes().Seen.size(), size_t(0));
        QCOMPARE(SavedPlan(window), QStringLiteral("a^127.0.0.1^0#b^127.0.0.2^1#c^127.0.0.3^0# a ^127.0.0.4^1"));
    }

    // Several items: placeholders, no method; the chosen method goes to every
    // selected item and the placeholder is never stored.
    void modifySeveralItems()
    {
        TfrmTarnix& window = OpenPlan();
        SelectRows(window, {0, 2, 3});
        TShownDialog shown;
        InspectAndCancelNextEditItem(shown);
        Trigger(window, "actModifyItem");
        QCOMPARE(shown.Caption, QStringLiteral("修改测速项(多条修改)"));
        QCOMPARE(shown.Name, QStringLiteral("*多项值*"));
        QCOMPARE(shown.Address, QStringLiteral("*多项值*"));
        QCOMPARE(shown.DoType, -1);
        QVERIFY(!shown.NameEnabled && !shown.AddressEnabled);

        SelectRows(window, {0, 2, 3});
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            Boxes().Answer({IDOK});
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);  // no method yet
            d.cbDoType->setCurrentIndex(dtHomePage);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actModifyItem");
        QCOMPARE(Boxes().Texts(), QStringList{QStringLiteral("请选择测速方式。 ")});
        QCOMPARE(ColumnTexts(window, 2), QStringList(5, QStringLiteral("取首页内容")));
        CheckRowsBound(window);
        QCOMPARE(SavedPlan(window), QStringLiteral("a^127.0.0.1^1#b^127.0.0.2^1#c^127.0.0.3^1#d^127.0.0.4^1#e^127.0.0.5^1"));
    }

    // A DNS item shows its method and keeps it through a modify.
    void modifyDnsQueryItem()
    {
        TfrmTarnix& window = OpenPlan(QStringLiteral("dns^127.0.0.53^2"));
        SelectRows(window, {0});
        int shownType = -2;
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            shownType = d.cbDoType->currentIndex();
            TypeInto(d.edtName, QStringLiteral("dns2"));
            TypeInto(d.edtDomainIP, QStringLiteral("[::1]"));
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actModifyItem");
        QCOMPARE(shownType, int(dtDNSQuery));
        QCOMPARE(RowTexts(window, 0).mid(0, 3), QStringList({"dns2", "[::1]", "DNS查询"}));
        QCOMPARE(SavedPlan(window), QStringLiteral("dns2^[::1]^2"));

        SelectRows(window, {0});
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            d.cbDoType->setCurrentIndex(dtPing);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actModifyItem");
        QCOMPARE(SavedPlan(window), QStringLiteral("dns2^[::1]^0"));
    }

    // A TCP item keeps its method through a modify; a port taken away is
    // refused until it is given back.
    void modifyTcpConnectItem()
    {
        TfrmTarnix& window = OpenPlan(QStringLiteral("web^127.0.0.1:8080^3#b^127.0.0.2^0"));
        SelectRows(window, {0});
        int shownType = -2;
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            shownType = d.cbDoType->currentIndex();
            TypeInto(d.edtDomainIP, QStringLiteral("[::1]"));
            Boxes().Answer({IDOK});
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
            TypeInto(d.edtDomainIP, QStringLiteral("[::1]:22"));
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actModifyItem");
        QCOMPARE(shownType, int(dtTCPConnect));
        QCOMPARE(Boxes().Texts(),
                 QStringList{QStringLiteral("TCP连接须在地址后写明端口,如 域名:端口。\n例如:www.example.com:443、"
                                            "192.168.1.1:80 或 [::1]:22")});
        QCOMPARE(RowTexts(window, 0).mid(0, 3), QStringList({"web", "[::1]:22", "TCP连接"}));
        QCOMPARE(SavedPlan(window), QStringLiteral("web^[::1]:22^3#b^127.0.0.2^0"));

        // Several items made TCP items keep their own addresses.
        SelectRows(window, {0, 1});
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            d.cbDoType->setCurrentIndex(dtTCPConnect);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actModifyItem");
        QCOMPARE(SavedPlan(window), QStringLiteral("web^[::1]:22^3#b^127.0.0.2^3"));
    }

    // Added as DNS items: by address and by name; a bad server is refused
    // and the dialog stays until it is mended.
    void addDnsQueryItems()
    {
        TfrmTarnix& window = OpenPlan(QStringLiteral("a^127.0.0.1^0"));
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            TypeInto(d.edtName, QStringLiteral("本机DNS"));
            TypeInto(d.edtDomainIP, QStringLiteral("127.0.0.53"));
            d.cbDoType->setCurrentIndex(dtDNSQuery);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actAddItem");
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            TypeInto(d.edtName, QStringLiteral("byname"));
            TypeInto(d.edtDomainIP, QStringLiteral("dns server"));
            d.cbDoType->setCurrentIndex(dtDNSQuery);
            Boxes().Answer({IDOK});
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
            TypeInto(d.edtDomainIP, QStringLiteral("localhost"));
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actAddItem");
        QCOMPARE(Boxes().Texts(),
                 QStringList{QStringLiteral("DNS服务器须为IP地址或域名。\n例如:192.168.1.1、[::1] 或 dns.example.com")});
        QCOMPARE(ColumnTexts(window, 2), QStringList({"Ping", "DNS查询", "DNS查询"}));
        CheckRowsBound(window);
    }

    void modifyCancelledChangesNothing()
    {
        TfrmTarnix& window = OpenPlan();
        SelectRows(window, {1});
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [](TfrmEditItem& d) {
            TypeInto(d.edtName, QStringLiteral("changed"));
            d.cbDoType->setCurrentIndex(0);
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        Trigger(window, "actModifyItem");
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e"}));
        QVERIFY(!AsksToSave(window, Boxes()));
        QCOMPARE(SavedPlan(window), kPlan);
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

        SelectRows(window, {0});
        QTest::mouseClick(List(window)->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowCentre(window, 1));
        QCOMPARE(List(window)->selectedItems().size(), 2);
        InspectAndCancelNextEditItem(shown);
        QTest::mouseDClick(List(window)->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowCentre(window, 1));
        QCOMPARE(shown.Caption, QStringLiteral("修改测速项(多条修改)"));
    }

    // During a run every item command is disabled; a double-click does nothing.
    void nothingDuringARun()
    {
        TfrmTarnix& window = OpenPlan();
        TFakeWorkers workers(window, true);
        SelectRows(window, {1});
        Trigger(window, "actTestSpending");
        DoubleClickRow(window, 1);
        Trigger(window, "actAddItem");
        Trigger(window, "actDelItem");
        Trigger(window, "actModifyItem");
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(Boxes().Seen.empty());
        workers.ReportAll();
        QCOMPARE(RowNames(window), QStringList({"a", "b", "c", "d", "e"}));
        QCOMPARE(SavedPlan(window), kPlan);
    }

    // Stored bytes that are not valid GBK survive a modify of the method.
    void modifyKeepsBytesItCannotShow()
    {
        Scratch->WriteSetting(QStringLiteral("p"));
        QFile store(Scratch->StorePath());
        QVERIFY(store.open(QIODevice::WriteOnly));
        store.write("p=odd\xFF^127.0.0.1^0\r\n");
        store.close();
        TfrmTarnix& window = Scratch->Open();
        SelectRows(window, {0});
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [](TfrmEditItem& d) {
            d.cbDoType->setCurrentIndex(dtHomePage);
            QTest::mouseClick(d.btnConfirm, Qt::LeftButton);
        });
        Trigger(window, "actModifyItem");
        Trigger(window, "actSaveProject");
        QVERIFY(store.open(QIODevice::ReadOnly));
        QCOMPARE(store.readAll(), QByteArray("p=odd\xFF^127.0.0.1^1\r\n"));
    }
};

QTEST_MAIN(TestItemCommands)
#include "test_Main_quellan_Items.moc"
