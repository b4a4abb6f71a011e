// The history window on a history the test writes: the range of days, the
// table, the lines with their gaps, the picked items and the export; and the
// window while another program holds the history.

#include "cli/Clireport.h"
#include "dialogs/Csvfile.h"
#include "dialogs/History.h"
#include "history/Historydb.h"
#include "tests/support/Historylock.h"

#include "Dialogscript.h"

#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QValueAxis>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>
#include <thread>

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
    run.Items = {{"甲", "127.0.0.1", 0, "127.0.0.1", tries(aMs), {}}, {"乙", "127.0.0.2", 0, "127.0.0.2", tries(bMs), {}}};
    return run;
}

// A run of one item, 丙, that took `time` each try, or never answered.
TRunRecord OneItemRun(const std::string& plan, TClock::time_point started, std::optional<std::chrono::microseconds> time)
{
    TRunRecord run;
    run.Started = started;
    run.Ended = started + 1s;
    run.Plan = plan;
    run.Items = {{"丙", "127.0.0.3", 0, "127.0.0.3", TTryTimes(5, time), {}}};
    return run;
}

// The window's widgets by their names; a name gone is the test's fault.
template <class TWidget>
TWidget& Child(const QObject& window, const char* name)
{
    auto* child = window.findChild<TWidget*>(QLatin1String(name));
    if (child == nullptr)
        qFatal("no %s in the window", name);
    return *child;
}

QTableView& Runs(const TfrmHistory& window) { return Child<QTableView>(window, "tvRuns"); }
QListWidget& Items(const TfrmHistory& window) { return Child<QListWidget>(window, "lbItems"); }
QString Status(const TfrmHistory& window) { return Child<QLabel>(window, "lblStatus").text(); }
int RunRowCount(const TfrmHistory& window) { return Runs(window).model()->rowCount(); }

// The window once what it read first is on screen.
struct TOpened {
    TOpened(const std::string& path, const std::string& plan) : Window(nullptr, path, plan)
    {
        QSignalSpy read(&Window, &TfrmHistory::ReadEnded);
        Ended = read.wait(5000);
    }
    TfrmHistory Window;
    bool Ended = false;
};

// The longest time the window's thread went without a tick of a timer
// ticking every 10 ms: how long a user would see the window frozen.
class TStallMeter {
public:
    TStallMeter()
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
        FTimer.start(10);
        FClock.start();
    }
    qint64 LongestMs() const { return FLongest; }

private:
    void Tick()
    {
        FLongest = std::max(FLongest, FClock.restart());
    }
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLongest = 0;
};

// The same on a thread that only sleeps 10 ms at a time: how long the
// machine itself, when loaded, keeps a thread from running.
class TNoiseMeter {
public:
    TNoiseMeter()
        : FThread([this] {
              auto last = std::chrono::steady_clock::now();
              while (!FStop) {
                  std::this_thread::sleep_for(10ms);
                  const auto now = std::chrono::steady_clock::now();
                  const qint64 gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count();
                  FLongest = std::max(FLongest.load(), gap);
                  last = now;
              }
          })
    {
    }
    ~TNoiseMeter()
    {
        FStop = true;
        FThread.join();
    }
    qint64 LongestMs() const { return FLongest; }

private:
    std::atomic<bool> FStop{false};
    std::atomic<qint64> FLongest{0};
    std::thread FThread;
};

// The points of the lines of one name, stretch by stretch.
QList<QList<QPointF>> Stretches(const TfrmHistory& window, const QString& name)
{
    QList<QList<QPointF>> stretches;
    for (QAbstractSeries* series : Child<QChartView>(window, "chartView").chart()->series())
        if (series->name() == name)
            stretches.append(static_cast<QLineSeries*>(series)->points());
    return stretches;
}

QString Cell(const TfrmHistory& window, int row, int column)
{
    const QAbstractItemModel* model = Runs(window).model();
    return model->data(model->index(row, column)).toString();
}

QChart& ChartOf(const TfrmHistory& window) { return *Child<QChartView>(window, "chartView").chart(); }

QValueAxis& ValueAxis(const TfrmHistory& window)
{
    return *qobject_cast<QValueAxis*>(ChartOf(window).axes(Qt::Vertical).value(0));
}

// The texts under the time axis's ticks, spread evenly from its start to its end.
QStringList TimeLabels(const TfrmHistory& window)
{
    const auto& axis = *qobject_cast<QDateTimeAxis*>(ChartOf(window).axes(Qt::Horizontal).value(0));
    const qint64 from = axis.min().toMSecsSinceEpoch(), to = axis.max().toMSecsSinceEpoch();
    QStringList labels;
    for (int i = 0; i < axis.tickCount(); ++i)
        labels << QDateTime::fromMSecsSinceEpoch(from + (to - from) * i / (axis.tickCount() - 1)).toString(axis.format());
    return labels;
}

QStringList LegendNames(const TfrmHistory& window)
{
    QStringList names;
    for (QLegendMarker* marker : ChartOf(window).legend()->markers())
        if (marker->isVisible())
            names << marker->label();
    return names;
}

// 1, 2 or 5 times a power of ten.
bool IsRound(double step)
{
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    for (const double round : {1.0, 2.0, 5.0, 10.0})  // 10: log10 a hair under a whole power
        if (std::abs(mantissa - round) < 1e-9)
            return true;
    return false;
}

bool ShowAndWait(TfrmHistory& window, QDate since, QDate until)
{
    QSignalSpy read(&window, &TfrmHistory::ReadEnded);
    window.ShowRange(since, until);
    return read.wait(5000);
}

// While alive, local time is that of a POSIX TZ rule.
class TTimeZoneScope {
public:
    explicit TTimeZoneScope(const char* rule) : FOld(qgetenv("TZ")), FHad(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", rule);
        ::tzset();
    }
    ~TTimeZoneScope()
    {
        if (FHad)
            qputenv("TZ", FOld);
        else
            qunsetenv("TZ");
        ::tzset();
    }

private:
    QByteArray FOld;
    bool FHad;
};

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
        TOpened opened(Path(), "p");
        const TfrmHistory& window = opened.Window;
        QVERIFY(opened.Ended);
        QCOMPARE(Child<QDateEdit>(window, "dtpUntil").date(), QDate::currentDate());
        QCOMPARE(Child<QDateEdit>(window, "dtpSince").date(), QDate::currentDate().addDays(-29));
        QCOMPARE(RunRowCount(window), 3);
        QCOMPARE(Status(window), QStringLiteral("共3次测速"));
        QCOMPARE(Cell(window, 0, 1), QStringLiteral("20.00"));
        QCOMPARE(Cell(window, 0, 2), QStringLiteral("2/2"));
        QCOMPARE(Cell(window, 1, 1), QStringLiteral("没响应"));
        QCOMPARE(Cell(window, 1, 2), QStringLiteral("0/2"));
        QCOMPARE(Cell(window, 2, 2), QStringLiteral("1/2"));
        QCOMPARE(Child<QLabel>(window, "lblPlan").text(), QStringLiteral("测速方案：p"));

        const auto overall = Stretches(window, QStringLiteral("总平均耗时"));
        QCOMPARE(overall.size(), 2);
        QCOMPARE(overall[0].size(), 1);
        QCOMPARE(overall[0][0].y(), 20.0);
        QCOMPARE(overall[1][0].y(), 20.0);
        QVERIFY(overall[0][0].x() < overall[1][0].x());
        QCOMPARE(Items(window).count(), 2);
    }

    // A picked item gets a line of its own, its own gaps included; unpicked,
    // it goes. Picked items are drawn again with another range.
    void pickedItemsAreDrawn()
    {
        TOpened opened(Path(), "p");
        TfrmHistory& window = opened.Window;
        QListWidgetItem* b = Items(window).findItems(QStringLiteral("乙"), Qt::MatchExactly).value(0);
        QVERIFY(b != nullptr);
        b->setCheckState(Qt::Checked);
        QTRY_COMPARE(Stretches(window, QStringLiteral("乙")).size(), 1);  // answered only in the first run
        const auto line = Stretches(window, QStringLiteral("乙"));
        QCOMPARE(line[0], (QList<QPointF>{{line[0][0].x(), 30.0}}));
        // The value axis grows to the picked line, in round steps still.
        QVERIFY(ValueAxis(window).max() > 30.0);
        QVERIFY(IsRound(ValueAxis(window).tickInterval()));

        QSignalSpy read(&window, &TfrmHistory::ReadEnded);
        QTest::mouseClick(&Child<QPushButton>(window, "btnShow"), Qt::LeftButton);
        QVERIFY(read.wait(5000));
        QCOMPARE(Stretches(window, QStringLiteral("乙")).size(), 1);
        QCOMPARE(Items(window).findItems(QStringLiteral("乙"), Qt::MatchExactly).value(0)->checkState(), Qt::Checked);

        b = Items(window).findItems(QStringLiteral("乙"), Qt::MatchExactly).value(0);
        b->setCheckState(Qt::Unchecked);
        QVERIFY(Stretches(window, QStringLiteral("乙")).isEmpty());
        // Picked and dropped before its line is read: no line comes.
        b->setCheckState(Qt::Checked);
        b->setCheckState(Qt::Unchecked);
        QTest::qWait(200);
        QVERIFY(Stretches(window, QStringLiteral("乙")).isEmpty());
    }

    // The user widens the range; a range given back to front is turned round.
    void theRangeCanBeChosen()
    {
        TOpened opened(Path(), "p");
        TfrmHistory& window = opened.Window;
        Child<QDateEdit>(window, "dtpSince").setDate(QDate::currentDate().addDays(-60));
        QTest::mouseClick(&Child<QPushButton>(window, "btnShow"), Qt::LeftButton);
        QTRY_COMPARE(RunRowCount(window), 4);
        window.ShowRange(QDate::currentDate().addDays(-39), QDate::currentDate().addDays(-41));
        QTRY_COMPARE(RunRowCount(window), 1);
        QCOMPARE(Child<QDateEdit>(window, "dtpSince").date(), QDate::currentDate().addDays(-41));
    }

    // Asked for twice before the first is read: the window ends on the last.
    void theLastRangeAskedForWins()
    {
        TfrmHistory window(nullptr, Path(), "p");
        window.ShowRange(QDate::currentDate().addDays(-41), QDate::currentDate().addDays(-39));
        QSignalSpy read(&window, &TfrmHistory::ReadEnded);
        QVERIFY(read.wait(5000));
        QTest::qWait(100);  // a read of the first range would come after
        QCOMPARE(read.count(), 1);
        QCOMPARE(RunRowCount(window), 1);
        QCOMPARE(Status(window), QStringLiteral("共1次测速"));
    }

    // The table as CSV, answered and total apart, the average empty where
    // nothing answered.
    void exportWritesTheTable()
    {
        TOpened opened(Path(), "p");
        QVERIFY(opened.Ended);
        const QString path = Dir->filePath(QStringLiteral("h.csv"));
        TSaveFileScope answer([&](const QString&, const QString&) { return path; });
        QTest::mouseClick(&Child<QPushButton>(opened.Window, "btnExport"), Qt::LeftButton);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines[0], QStringLiteral("id,started,ended,plan,average_ms,answered,total"));
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[1].endsWith(QStringLiteral(",p,20.00,2,2")));
        QVERIFY(lines[2].endsWith(QStringLiteral(",p,,0,2")));
    }

    // Every run a row of as many fields as the header, the header and the
    // rows those of orvel-cli's CSV of the same runs; times with their offset
    // from UTC, east and west.
    void exportReadsAsTheCliWrites()
    {
        const auto started = TClock::from_time_t(1796865300);  // 2026-12-10T01:15:00Z
        {
            THistoryDb db(Path());
            db.Record(OneItemRun("z", started, 12340us));
            db.Record(OneItemRun("z", started + 90s, std::nullopt));
        }
        for (const auto& [rule, first] : {std::pair{"CST-8", "2026-12-10T09:15:00+08:00"},
                                          std::pair{"NST+3:30", "2026-12-09T21:45:00-03:30"}}) {
            TTimeZoneScope zone(rule);
            TfrmHistory window(nullptr, Path(), "z");
            QVERIFY(ShowAndWait(window, QDate(2026, 12, 9), QDate(2026, 12, 10)));
            const QList<QStringList> rows = window.RunRows();
            QCOMPARE(rows.size(), 3);
            for (const QStringList& row : rows)
                QCOMPARE(row.size(), rows[0].size());
            QCOMPARE(rows[1][1], QString::fromLatin1(first));
            QCOMPARE(rows[1][4], QStringLiteral("12.34"));
            QCOMPARE(rows[2][4], QString());
            const auto runs = THistoryDb(Path()).Runs("z", started - 1h, started + 1h);
            QCOMPARE(CsvBytes(rows).mid(3), QByteArray::fromStdString(FormatHistoryCsv(runs)));
        }
    }

    // The value axis ticks at round numbers from 0 past the highest point,
    // with labels as fine as the step.
    void valueTicksAreRound()
    {
        const TClock::time_point now = TClock::now();
        for (const auto& [plan, time] : {std::pair{"a", 370us}, std::pair{"b", 12340us}, std::pair{"c", 1234500us},
                                         std::pair{"d", 7us}}) {
            {
                THistoryDb db(Path());
                db.Record(OneItemRun(plan, now - 2h, time));
                db.Record(OneItemRun(plan, now - 1h, time / 2));
            }
            TOpened opened(Path(), plan);
            QVERIFY(opened.Ended);
            const QValueAxis& axis = ValueAxis(opened.Window);
            const double top = double(time.count()) / 1000;
            QCOMPARE(axis.tickType(), QValueAxis::TicksDynamic);
            QCOMPARE(axis.min(), 0.0);
            QVERIFY2(IsRound(axis.tickInterval()), qPrintable(QString::number(axis.tickInterval())));
            QVERIFY(axis.max() > top);
            const double steps = axis.max() / axis.tickInterval();
            QVERIFY2(std::abs(steps - std::round(steps)) < 1e-6 && steps >= 3 && steps <= 10, qPrintable(QString::number(steps)));
            QSet<QString> labels;
            for (int i = 0; i <= int(std::round(steps)); ++i)
                labels << QString::asprintf(axis.labelFormat().toLatin1().constData(), i * axis.tickInterval());
            QCOMPARE(labels.size(), int(std::round(steps)) + 1);
        }
    }

    // Runs seconds, hours, days or months apart: no two time labels alike,
    // and as fine as the span asks.
    void timeLabelsNeverRepeat()
    {
        const TClock::time_point now = TClock::now();
        const QDate today = QDate::currentDate();
        struct TSpan {
            const char* Plan;
            TClock::duration Apart;
            int Days;
            const char* Shows;  // a part the labels' format must have
        };
        for (const TSpan& span : {TSpan{"s", 5s, 1, "ss"}, TSpan{"h", 2h, 1, "mm"}, TSpan{"d", 72h, 5, "mm"},
                                  TSpan{"m", 24h * 70, 80, "yyyy"}}) {
            {
                THistoryDb db(Path());
                db.Record(OneItemRun(span.Plan, now - span.Apart - 1s, 10ms));
                db.Record(OneItemRun(span.Plan, now - span.Apart / 2, 20ms));
                db.Record(OneItemRun(span.Plan, now - 1s, 10ms));
            }
            TfrmHistory window(nullptr, Path(), span.Plan);
            QVERIFY(ShowAndWait(window, today.addDays(-span.Days), today));
            const QStringList labels = TimeLabels(window);
            QVERIFY2(labels.size() >= 3, qPrintable(labels.join(" | ")));
            QVERIFY2(QSet<QString>(labels.begin(), labels.end()).size() == labels.size(), qPrintable(labels.join(" | ")));
            const auto& axis = *qobject_cast<QDateTimeAxis*>(ChartOf(window).axes(Qt::Horizontal).value(0));
            QVERIFY2(axis.format().contains(QLatin1String(span.Shows)), qPrintable(span.Plan + (" " + axis.format())));
        }
    }

    // A ticked item that never answered has no line, but the legend names it
    // as such; unticked, it goes.
    void aSilentItemIsNamedInTheLegend()
    {
        const TClock::time_point now = TClock::now();
        {
            THistoryDb db(Path());
            db.Record(Run("quiet", now - 2h, 10, std::nullopt));
            db.Record(Run("quiet", now - 1h, 20, std::nullopt));
        }
        TOpened opened(Path(), "quiet");
        TfrmHistory& window = opened.Window;
        QVERIFY(opened.Ended);
        QListWidgetItem* b = Items(window).findItems(QStringLiteral("乙"), Qt::MatchExactly).value(0);
        QVERIFY(b != nullptr);
        b->setCheckState(Qt::Checked);
        QTRY_VERIFY(LegendNames(window).contains(QStringLiteral("乙 (无响应)")));
        QCOMPARE(LegendNames(window), (QStringList{QStringLiteral("总平均耗时"), QStringLiteral("乙 (无响应)")}));
        QVERIFY(Stretches(window, QStringLiteral("乙")).isEmpty());
        b->setCheckState(Qt::Unchecked);
        QCOMPARE(LegendNames(window), QStringList{QStringLiteral("总平均耗时")});
    }

    // Looking at a history that is not there leaves none behind; a file that
    // is not one is told in the window.
    void aMissingOrBrokenHistoryIsShownAsSuch()
    {
        const QString missing = Dir->filePath(QStringLiteral("none.db"));
        {
            TOpened opened(missing.toStdString(), "p");
            QVERIFY(opened.Ended);
            QCOMPARE(RunRowCount(opened.Window), 0);
            QCOMPARE(Status(opened.Window), QStringLiteral("还没有记录过测速。"));
            QVERIFY(!Child<QPushButton>(opened.Window, "btnExport").isEnabled());
        }
        QVERIFY(!QFile::exists(missing));

        QFile junk(Dir->filePath(QStringLiteral("junk.db")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'x'));
        junk.close();
        TOpened opened(junk.fileName().toStdString(), "p");
        QVERIFY(opened.Ended);
        QVERIFY2(Status(opened.Window).startsWith(QStringLiteral("无法读取测速历史")), qPrintable(Status(opened.Window)));
    }

    // A history that is a link is not read, even a link to a real one; the
    // window says why.
    void aLinkedHistoryIsNotRead()
    {
        const QString link = Dir->filePath(QStringLiteral("link.db"));
        QVERIFY(QFile::link(QString::fromStdString(Path()), link));
        TOpened opened(link.toStdString(), "p");
        QVERIFY(opened.Ended);
        QCOMPARE(RunRowCount(opened.Window), 0);
        const QString status = Status(opened.Window);
        QVERIFY2(status.startsWith(QStringLiteral("无法读取测速历史")), qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("是符号链接")), qPrintable(status));
    }

    // Another program keeps every reader out: the window opens at once, says
    // the history is busy, never freezes, and shows the runs once the hold
    // is gone.
    void aHeldHistoryKeepsTheWindowResponsive()
    {
        THistoryLock lock(Path(), THistoryLock::THold::Everyone);
        QElapsedTimer opening;
        opening.start();
        TfrmHistory window(nullptr, Path(), "p");
        window.show();
        QVERIFY2(opening.elapsed() < 1000, qPrintable(QString::number(opening.elapsed())));

        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE_WITH_TIMEOUT(Status(window), TfrmHistory::BusyText(), 5000);
        // Held across more than one retry; the first painting is over.
        TStallMeter stalls;
        TNoiseMeter noise;
        QTest::qWait(int(2 * THistoryReader::kRetry.count()) + 200);
        QCOMPARE(Status(window), TfrmHistory::BusyText());
        QCOMPARE(RunRowCount(window), 0);
        QVERIFY(!Child<QPushButton>(window, "btnExport").isEnabled());
        // A read on this thread would wait at least the reader's busy wait
        // (100 ms) each try; a loaded machine adds what an idle thread sees.
        QVERIFY2(stalls.LongestMs() < 50 + noise.LongestMs(),
                 qPrintable(QStringLiteral("stalled %1 ms, an idle thread %2 ms")
                                .arg(stalls.LongestMs())
                                .arg(noise.LongestMs())));

        QSignalSpy read(&window, &TfrmHistory::ReadEnded);
        lock.Release();
        QVERIFY(read.wait(int(THistoryReader::kRetry.count()) + 5000));
        QCOMPARE(RunRowCount(window), 3);
        QCOMPARE(Status(window), QStringLiteral("共3次测速"));
        QCOMPARE(Stretches(window, QStringLiteral("总平均耗时")).size(), 2);
        QVERIFY(Child<QPushButton>(window, "btnExport").isEnabled());
    }

    // Closed while it reads, or while it waits to try again: it goes at once
    // and nothing of the read comes after.
    void closingDuringAReadNeitherHangsNorCrashes()
    {
        THistoryLock lock(Path(), THistoryLock::THold::Everyone);
        for (const bool seenBusy : {false, true}) {
            auto window = std::make_unique<TfrmHistory>(nullptr, Path(), "p");
            window->show();
            if (seenBusy)
                QTRY_COMPARE_WITH_TIMEOUT(Status(*window), TfrmHistory::BusyText(), 5000);
            QElapsedTimer closing;
            closing.start();
            window.reset();
            QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed())));
        }
        lock.Release();
        // A report or a result posted to a window gone would be delivered now.
        QTest::qWait(200);

        auto window = std::make_unique<TfrmHistory>(nullptr, Path(), "p");
        QTest::qWait(1);  // the read may be on its way
        window.reset();
        QTest::qWait(100);
    }
};

QTEST_MAIN(TestHistory)
#include "test_History.moc"
