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

constexpr int kNoteColumn = 10;

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

    // Each failed try says why; a try the run never made says so.
    void aFailedTrySaysWhy()
    {
        TfrmItemDetails dialog(nullptr);
        TTryOutcomes tries = Tries({1ms, std::nullopt});
        TTryOutcome refused;
        refused.Cause = TTryCause::Refused;
        tries.push_back(refused);
        TTryOutcome servfail;
        servfail.Cause = TTryCause::DnsAnswer;
        servfail.DnsRcode = 2;
        tries.push_back(servfail);
        tries.push_back(std::nullopt);
        dialog.ShowDetails({"t", "127.0.0.1:9", "TCP连接", "127.0.0.1", tries, {}});
        const QStringList notes{"", "超时", "连接被拒绝", "DNS答复错误 SERVFAIL", "未进行"};
        QCOMPARE(dialog.lvTries->topLevelItemCount(), notes.size());
        for (int i = 0; i < notes.size(); ++i) {
            QCOMPARE(dialog.lvTries->topLevelItem(i)->text(kNoteColumn), notes[i]);
            const QString time = i == 0 ? QStringLiteral("1.000") : QStringLiteral("失败");
            QCOMPARE(dialog.lvTries->topLevelItem(i)->text(1), time);
        }
        for (int column = 2; column < kNoteColumn; ++column)
            QVERIFY(dialog.lvTries->isColumnHidden(column));
    }

    // A home page shows each try's phases and answer and their means in a
    // wider dialog, which is as narrow as before for the next Ping item.
    void aHomePageShowsItsPhasesAndAnswer()
    {
        TfrmItemDetails dialog(nullptr);
        dialog.show();
        const QSize plain = dialog.size();
        TTryOutcome answered;
        answered.Ok = true;
        answered.Elapsed = 10ms;
        answered.Http = THttpTry{1ms, 2ms, 0us, 6ms, 1ms, 404, "127.0.0.1", 20480, 0};
        TTryOutcome timedOut;
        timedOut.Cause = TTryCause::Timeout;
        timedOut.Http = THttpTry{1ms, 4ms, 0us, 0us, 0us, 0, "127.0.0.1", 0, 0};
        TTryOutcome second = answered;
        second.Elapsed = 20ms;
        second.Http = THttpTry{3ms, 4ms, 0us, 12ms, 1ms, 200, "127.0.0.1", 20480, 0};
        dialog.ShowDetails(
            {"页", "127.0.0.1:18080", "取首页内容", "127.0.0.1", {answered, timedOut, second}, {}, true});
        QCOMPARE(dialog.lvTries->topLevelItemCount(), 4);  // and the means
        const QTreeWidgetItem* first = dialog.lvTries->topLevelItem(0);
        const QStringList expected{"第1次", "10.000", "1.000", "2.000", "--",    "6.000",
                                   "1.000", "404",    "20480", "2000.0", ""};
        for (int column = 0; column < expected.size(); ++column)
            QCOMPARE(first->text(column), expected[column]);
        QCOMPARE(dialog.lvTries->topLevelItem(1)->text(kNoteColumn), QStringLiteral("超时"));
        QCOMPARE(dialog.lvTries->topLevelItem(1)->text(7), QStringLiteral("--"));  // no status came
        const QTreeWidgetItem* means = dialog.lvTries->topLevelItem(3);
        QCOMPARE(means->text(0), QStringLiteral("平均"));
        QCOMPARE(means->text(1), QStringLiteral("15.000"));
        QCOMPARE(means->text(2), QStringLiteral("2.000"));   // over the answered two only
        QCOMPARE(means->text(4), QStringLiteral("--"));  // plain http: no TLS
        QCOMPARE(means->text(5), QStringLiteral("9.000"));
        QVERIFY(dialog.width() > plain.width());
        QVERIFY(dialog.btnClose->geometry().right() < dialog.width());

        // Over https the TLS phase is a figure even where it took no time.
        dialog.ShowDetails(
            {"页", "https://127.0.0.1:18443/", "取首页内容", "127.0.0.1", {answered, timedOut, second}, {}, true, true});
        QCOMPARE(dialog.lvTries->topLevelItem(0)->text(4), QStringLiteral("0.000"));
        QCOMPARE(dialog.lvTries->topLevelItem(3)->text(4), QStringLiteral("0.000"));

        dialog.ShowDetails({"p", "127.0.0.1", "Ping", "127.0.0.1", Tries({1ms}), {}});
        QCOMPARE(dialog.size(), plain);
        QVERIFY(dialog.lvTries->isColumnHidden(2));
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
