// The details dialog on its own: what it shows for tries that answered,
// failed or were never made.

#include "dialogs/Itemdetails.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using namespace std::chrono_literals;

class TestItemdetails : public QObject {
    Q_OBJECT

private slots:
    void showsTheTriesAndTheirFigures()
    {
        TfrmItemDetails dialog(nullptr);
        dialog.ShowDetails({"名称", "example.test", "Ping", "::1", {1234us, std::nullopt, 2000us}});
        QCOMPARE(dialog.lblAddress->text(), QStringLiteral("::1"));
        QCOMPARE(dialog.lvTries->topLevelItemCount(), 3);
        QCOMPARE(dialog.lvTries->topLevelItem(0)->text(1), QStringLiteral("1.234"));
        QCOMPARE(dialog.lvTries->topLevelItem(1)->text(1), QStringLiteral("失败"));
        QCOMPARE(dialog.lblFastest->text(), QStringLiteral("1.23"));
        QCOMPARE(dialog.lblSlowest->text(), QStringLiteral("2.00"));
        QCOMPARE(dialog.lblMean->text(), QStringLiteral("1.62"));
        QCOMPARE(dialog.lblStdDev->text(), QStringLiteral("0.38"));

        // Shown again for another item, nothing of the first is left.
        dialog.ShowDetails({"b", "b", "Ping", "", {std::nullopt, std::nullopt}});
        QCOMPARE(dialog.lvTries->topLevelItemCount(), 2);
        QCOMPARE(dialog.lblAddress->text(), QStringLiteral("未解析"));
        for (QLabel* figure : {dialog.lblFastest, dialog.lblMean, dialog.lblSlowest, dialog.lblStdDev})
            QCOMPARE(figure->text(), QStringLiteral("--"));
    }

    void closesWithItsButtonOrEscape()
    {
        TfrmItemDetails dialog(nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("测速详情"));
        dialog.show();
        QTest::mouseClick(dialog.btnClose, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestItemdetails)
#include "test_Itemdetails.moc"
