// The details dialog on its own: what it shows for tries that answered,
// failed or were never made.

#include "dialogs/Itemdetails.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// Tries that took these times; none: one that timed out.
TTryOutcomes Tries(std::initializer_list<std::optional<std::chrono::microseconds>> times)
{
    TTryOutcomes outcomes;
    for (const auto& time : times) {
        TTryOutcome outcome;
        outcome.Ok = time.has_value();
        outcome.Elapsed = time.value_or(0us);
        outcome.Cause = time ? TTryCause::None : TTryCause::Timeout;
        outcomes.push_back(outcome);
    }
    return outcomes;
}

}  // namespace

class TestItemdetails : public QObject {
    Q_OBJECT

private slots:
    void showsTheTriesAndTheirFigures()
    {
        TfrmItemDetails dialog(nullptr);
        dialog.ShowDetails({"名称", "example.test", "Ping", "::1", Tries({1234us, std::nullopt, 2000us}), {}});
        QCOMPARE(dialog.lblAddress->text(), QStringLiteral("::1"));
        QCOMPARE(dialog.lvTries->topLevelItemCount(), 3);
        QCOMPARE(dialog.lvTries->topLevelItem(0)->text(1), QStringLiteral("1.234"));
        QCOMPARE(dialog.lvTries->topLevelItem(1)->text(1), QStringLiteral("失败"));
        QCOMPARE(dialog.lblFastest->text(), QStringLiteral("1.23"));
        QCOMPARE(dialog.lblSlowest->text(), QStringLiteral("2.00"));
        QCOMPARE(dialog.lblMean->text(), QStringLiteral("1.62"));
        QCOMPARE(dialog.lblStdDev->text(), QStringLiteral("0.38"));

        // Shown again for another item, nothing of the first is left.
        dialog.ShowDetails({"b", "b", "Ping", "", Tries({std::nullopt, std::nullopt}), {}});
        QCOMPARE(dialog.lvTries->topLevelItemCount(), 2);
        QCOMPARE(dialog.lblAddress->text(), QStringLiteral("未解析"));
        for (QLabel* figure : {dialog.lblFastest, dialog.lblMean, dialog.lblSlowest, dialog.lblStdDev})
            QCOMPARE(figure->text(), QStringLiteral("--"));
    }

    // The query's line takes room only for a DNS item, and gives it back.
    void queryNameLineOnlyForADnsItem()
    {
        TfrmItemDetails dialog(nullptr);
        dialog.show();
        const QSize plain = dialog.size();
        const int listTop = dialog.lvTries->y();
        const int closeTop = dialog.btnClose->y();
        QVERIFY(!dialog.lblQueryName->isVisible());

        for (int shown = 0; shown < 2; ++shown) {  // twice: the line moves things once
            dialog.ShowDetails({"dns", "127.0.0.53", "DNS查询", "127.0.0.53", Tries({1ms}), "www.example.com"});
            QCOMPARE(dialog.lblMethod->text(), QStringLiteral("DNS查询"));
            QCOMPARE(dialog.lblQueryName->text(), QStringLiteral("www.example.com"));
            QVERIFY(dialog.lblQueryName->isVisible());
            QCOMPARE(dialog.lvTries->y(), listTop + 22);
            QCOMPARE(dialog.btnClose->y(), closeTop + 22);
            QCOMPARE(dialog.size(), plain + QSize(0, 22));
            QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        }
        dialog.ShowDetails({"p", "127.0.0.1", "Ping", "127.0.0.1", Tries({1ms}), {}});
        QVERIFY(!dialog.lblQueryName->isVisible());
        QCOMPARE(dialog.lvTries->y(), listTop);
        QCOMPARE(dialog.size(), plain);
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
