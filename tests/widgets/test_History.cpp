// The history window on a history the test writes: the range of days, the
// table, the lines with their gaps, the picked items and the export.

#include "dialogs/Csvfile.h"
#include "dialogs/History.h"
#include "history/Historydb.h"

#include "Dialogscript.h"

#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

using TClock = std::chrono::system_clock;
constexpr std::optional<std::chrono::microseconds> kFailed = std::nullopt;

TRunRecord Run(const std::string& plan, TClock::time_point started, std::optional<int> aMs, std::optional<int> bMs)
{
    const auto tries = [](std::optional<int> ms) {
        return ms ? TTryTimes(5, std::chrono::microseconds(*ms * 1000)) : TTryTimes(5, kFailed);
    };
    TRunRecord run;
    run.Started = started;
    run.Ended = started + 3s;
    run.Plan = plan;
    run.Items = {{"甲", "127.0.0.1", 0, "127.0.0.1", tries(aMs)}, {"乙", "127.0.0.2", 0, "127.0.0.2", tries(bMs)}};
    return run;
}

// The points of the lines of one name, stretch by stretch.
QList<QList<QPointF>> Stretches(const TfrmHistory& window, const QString& name)
{
    QList<QList<QPointF>> stretches;
    for (QAbstractSeries* series : window.chartView->chart()->series())
        if (series->name() == name)
            stretches.append(static_cast<QLineSeries*>(series)->points());
    return stretches;
}

QString Cell(const TfrmHistory& window, int row, int column)
{
    const QAbstractItemModel* model = window.tvRuns->model();
    return model->data(model->index(row, column)).toString();
}

}  // namespace

class TestHistory : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> Dir;
    std::string Path() const { return Dir->filePath(QStringLiteral("History.db")).toStdString(); }

private slots:
    void init()
    {
        Dir = std::make_unique<QTemporaryDir>();
        const TClock::time_point now = TClock::now();
        THistoryDb db(Path());
        db.Record(Run("p", now - 40 * 24h, 50, 50));  // before the 30 days
        db.Record(Run("p", now - 3h, 10, 30));
        db.Record(Run("p", now - 2h, std::nullopt, std::nullopt));  // nothing answered
        db.Record(Run("p", now - 1h, 20, std::nullopt));
        db.Record(Run("q", now - 1h, 99, 99));  // another plan
    }
    void cleanup() { Dir.reset(); }

    // The last 30 days of the plan: the table, and the overall line broken at
    // the run that had no answer.
    void opensOnTheLast30Days()
    {
        TfrmHistory window(nullptr, Path(), "p");
        QCOMPARE(window.dtpUntil->date(), QDate::currentDate());
        QCOMPARE(window.dtpSince->date(), QDate::currentDate().addDays(-29));
        QCOMPARE(window.tvRuns->model()->rowCount(), 3);
        QCOMPARE(Cell(window, 0, 1), QStringLiteral("20.00"));
        QCOMPARE(Cell(window, 0, 2), QStringLiteral("2/2"));
        QCOMPARE(Cell(window, 1, 1), QStringLiteral("没响应"));
        QCOMPARE(Cell(window, 1, 2), QStringLiteral("0/2"));
        QCOMPARE(Cell(window, 2, 2), QStringLiteral("1/2"));

        const auto overall = Stretches(window, QStringLiteral("总平均耗时"));
        QCOMPARE(overall.size(), 2);
        QCOMPARE(overall[0].size(), 1);
        QCOMPARE(overall[0][0].y(), 20.0);
        QCOMPARE(overall[1][0].y(), 20.0);
        QVERIFY(overall[0][0].x() < overall[1][0].x());
        QCOMPARE(window.lbItems->count(), 2);
    }

    // A picked item gets a line of its own, its own gaps included; unpicked, it goes.
    void pickedItemsAreDrawn()
    {
        TfrmHistory window(nullptr, Path(), "p");
        QListWidgetItem* b = window.lbItems->findItems(QStringLiteral("乙"), Qt::MatchExactly).value(0);
        QVERIFY(b != nullptr);
        b->setCheckState(Qt::Checked);
        const auto line = Stretches(window, QStringLiteral("乙"));
        QCOMPARE(line.size(), 1);  // answered only in the first run
        QCOMPARE(line[0], (QList<QPointF>{{line[0][0].x(), 30.0}}));
        b->setCheckState(Qt::Unchecked);
        QVERIFY(Stretches(window, QStringLiteral("乙")).isEmpty());
    }

    // The user widens the range; a range given back to front is turned round.
    void theRangeCanBeChosen()
    {
        TfrmHistory window(nullptr, Path(), "p");
        window.dtpSince->setDate(QDate::currentDate().addDays(-60));
        QTest::mouseClick(window.btnShow, Qt::LeftButton);
        QCOMPARE(window.tvRuns->model()->rowCount(), 4);
        window.ShowRange(QDate::currentDate().addDays(-39), QDate::currentDate().addDays(-41));
        QCOMPARE(window.tvRuns->model()->rowCount(), 1);
        QCOMPARE(window.dtpSince->date(), QDate::currentDate().addDays(-41));
    }

    // The table as CSV, answered and total apart.
    void exportWritesTheTable()
    {
        TfrmHistory window(nullptr, Path(), "p");
        const QString path = Dir->filePath(QStringLiteral("h.csv"));
        TSaveFileScope answer([&](const QString&, const QString&) { return path; });
        QTest::mouseClick(window.btnExport, Qt::LeftButton);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines[0], QStringLiteral("测速时间,总平均耗时(毫秒),响应数,总数"));
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[1].endsWith(QStringLiteral(",20.00,2,2")));
        QVERIFY(lines[2].endsWith(QStringLiteral(",,0,2")));
    }

    // Looking at a history that is not there leaves none behind; a file that
    // is not one is told in the window.
    void aMissingOrBrokenHistoryIsShownAsSuch()
    {
        const QString missing = Dir->filePath(QStringLiteral("none.db"));
        {
            TfrmHistory window(nullptr, missing.toStdString(), "p");
            QCOMPARE(window.tvRuns->model()->rowCount(), 0);
            QCOMPARE(window.lblStatus->text(), QStringLiteral("还没有记录过测速。"));
            QVERIFY(!window.btnExport->isEnabled());
        }
        QVERIFY(!QFile::exists(missing));

        QFile junk(Dir->filePath(QStringLiteral("junk.db")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'x'));
        junk.close();
        TfrmHistory window(nullptr, junk.fileName().toStdString(), "p");
        QVERIFY2(window.lblStatus->text().startsWith(QStringLiteral("无法读取测速历史")),
                 qPrintable(window.lblStatus->text()));
    }

    // A history that is a link is not read, even a link to a real one; the
    // window says why.
    void aLinkedHistoryIsNotRead()
    {
        const QString link = Dir->filePath(QStringLiteral("link.db"));
        QVERIFY(QFile::link(QString::fromStdString(Path()), link));
        TfrmHistory window(nullptr, link.toStdString(), "p");
        QCOMPARE(window.tvRuns->model()->rowCount(), 0);
        QVERIFY2(window.lblStatus->text().startsWith(QStringLiteral("无法读取测速历史")),
                 qPrintable(window.lblStatus->text()));
        QVERIFY2(window.lblStatus->text().contains(QStringLiteral("是符号链接")), qPrintable(window.lblStatus->text()));
    }
};

QTEST_MAIN(TestHistory)
#include "test_History.moc"
