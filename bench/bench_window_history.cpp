// The window's side of the history, offscreen:
// 1. what recording a completed 100-item run adds between the last report and
//    the end of the window's completion ("测速已完成。"), against the same
//    run not recorded, and the UI thread's longest stall until the run is in
//    History.db;
// 2. how long the history window takes to open and draw the last 30 days of
//    a generated history of 100,000 runs of 20 items.
// The runs are made by fake workers: nothing is sent anywhere.
//   bench_window_history [history.db to reuse or make]

#include "Fakeworkers.h"  // tests/widgets

#include "app/Main_quellan.h"
#include "dialogs/History.h"
#include "history/Historydb.h"
#include "vqlib/Programdir.h"
#include "vqlib/Vqwindows.h"

#include <QApplication>
#include <QChartView>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>

using namespace std::chrono_literals;
using TClock = std::chrono::system_clock;

namespace {

constexpr int kItems = 100;
constexpr int kRounds = 10;
constexpr int kRuns = 100000;
constexpr int kRunItems = 20;

struct TRunFigures {
    double CompletionMs = 0;  // last report .. the window's completion handled
    double LongestStallMs = 0;  // UI thread, last report .. recorded
};

// Rounds of one 100-item run each; path empty: not recorded.
std::vector<TRunFigures> TimeRuns(bool record)
{
    QTemporaryDir dir;
    TProgramDirScope programDir(dir.path().toStdString());
    std::optional<TfrmTarnix::THistoryFileScope> noHistory;
    if (!record)
        noHistory.emplace(std::string());
    TMsgBoxHookScope boxes([](const TMsgBoxRequest& request) {
        std::fprintf(stderr, "unexpected box: %s\n", qPrintable(request.Text));
        return int(IDOK);
    });

    QString plan = QStringLiteral("bench=");
    for (int i = 0; i < kItems; ++i)
        plan += QStringLiteral("%1item%2^127.0.0.1^0").arg(i ? "#" : "").arg(i);
    QFile store(dir.filePath(QStringLiteral("Projects.dat")));
    store.open(QIODevice::WriteOnly);
    store.write(plan.toLatin1() + "\r\n");
    store.close();
    QFile settings(dir.filePath(QStringLiteral("DestLists.ini")));
    settings.open(QIODevice::WriteOnly);
    settings.write("[config]\r\nproject=bench\r\n");
    settings.close();

    TfrmTarnix window;
    window.show();
    TFakeWorkers workers(window, true);
    for (int i = 0; i < kItems; ++i)
        workers.Set(QStringLiteral("item%1").arg(i), Tried({1200us, 1300us, std::nullopt, 1250us, 1400us}));
    auto* status = window.findChild<QStatusBar*>(QStringLiteral("StatusBar"));

    std::vector<TRunFigures> figures;
    for (int round = 0; round < kRounds; ++round) {
        bool recorded = false;
        QObject::connect(&window, &TfrmTarnix::HistoryRecorded, &window, [&recorded] { recorded = true; });
        window.findChild<QAction*>(QStringLiteral("actTestSpending"))->trigger();
        // Everything but one item reports; then the clock starts.
        const int started = (round + 1) * kItems;
        while (workers.Started() < started || workers.Held().size() > 1) {
            if (workers.Held().size() > 1 || (workers.Started() < started && !workers.Held().isEmpty()))
                workers.Report(workers.Held().front());
            QCoreApplication::processEvents();
        }

        QElapsedTimer clock;
        double longestStall = 0;
        qint64 lastTick = 0;
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longestStall = std::max(longestStall, double(now - lastTick) / 1e6);
            lastTick = now;
        });
        clock.start();
        ticker.start();
        workers.Report(workers.Held().front());
        while (status->currentMessage() != QStringLiteral("测速已完成。"))
            QCoreApplication::processEvents();
        TRunFigures round_figures;
        round_figures.CompletionMs = double(clock.nsecsElapsed()) / 1e6;
        const QDeadlineTimer deadline(10s);
        while (record && !recorded && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const qint64 now = clock.nsecsElapsed();
        longestStall = std::max(longestStall, double(now - lastTick) / 1e6);
        round_figures.LongestStallMs = longestStall;
        if (record && !recorded)
            std::fprintf(stderr, "round %d: not recorded within 10 s\n", round);
        QObject::disconnect(&window, &TfrmTarnix::HistoryRecorded, &window, nullptr);
        figures.push_back(round_figures);
    }
    if (record) {
        THistoryDb db(dir.filePath(QStringLiteral("History.db")).toStdString());
        std::printf("  runs in History.db: %zu\n", db.Runs("bench", {}, TClock::now() + 1h).size());
    }
    return figures;
}

void PrintRuns(const char* label, const std::vector<TRunFigures>& figures)
{
    double sum = 0, worst = 0, stall = 0;
    for (const TRunFigures& f : figures) {
        sum += f.CompletionMs;
        worst = std::max(worst, f.CompletionMs);
        stall = std::max(stall, f.LongestStallMs);
    }
    std::printf("  %-14s last report .. completed: mean %7.2f ms, worst %7.2f ms; longest UI stall %6.2f ms\n",
                label, sum / double(figures.size()), worst, stall);
}

// 100,000 runs of 20 items over the last year, one in fifty without any
// answer, each item failing a try now and then.
void MakeHistory(const std::string& path)
{
    THistoryDb db(path);
    std::mt19937 random(15);
    std::uniform_int_distribution<int> ms(5, 300);
    std::uniform_int_distribution<int> percent(0, 99);
    const TClock::time_point now = TClock::now();
    const auto step = std::chrono::duration_cast<TClock::duration>(365 * 24h) / kRuns;
    QElapsedTimer clock;
    clock.start();
    for (int r = 0; r < kRuns; ++r) {
        TRunRecord run;
        run.Started = now - 365 * 24h + step * r;
        run.Ended = run.Started + 5s;
        run.Plan = "常见网站";
        const bool dead = percent(random) < 2;
        for (int i = 0; i < kRunItems; ++i) {
            TTryTimes tries;
            const int base = ms(random);
            for (int t = 0; t < 5; ++t) {
                if (dead || percent(random) < 3)
                    tries.push_back(std::nullopt);
                else
                    tries.push_back(std::chrono::microseconds(base * 1000 + percent(random) * 37));
            }
            run.Items.push_back({"网站" + std::to_string(i), "site" + std::to_string(i) + ".test", 1, "", tries, {}});
        }
        db.Record(run);
        if (r % 10000 == 9999)
            std::fprintf(stderr, "  %d runs written, %.1f s\n", r + 1, double(clock.elapsed()) / 1000.0);
    }
}

// The queries the window makes, each on its own.
void TimeQueries(const std::string& path)
{
    THistoryDb db(path);
    const TClock::time_point until = TClock::now() + 24h, since = until - 31 * 24h;
    QElapsedTimer clock;
    clock.start();
    const size_t runs = db.Runs("常见网站", since, until).size();
    const double runsMs = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    const std::vector<std::string> names = db.ItemNames("常见网站", since, until);
    const double namesMs = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    const size_t points = db.ItemSeries("常见网站", names.at(0), since, until).size();
    const double seriesMs = double(clock.nsecsElapsed()) / 1e6;
    std::printf("  queries: Runs %zu in %.1f ms, ItemNames %zu in %.1f ms, ItemSeries %zu in %.1f ms\n", runs,
                runsMs, names.size(), namesMs, points, seriesMs);
}

// The window reads on a thread of its own; the time counts until it shows.
void WaitForRead(TfrmHistory& window)
{
    QEventLoop loop;
    QObject::connect(&window, &TfrmHistory::ReadEnded, &loop, &QEventLoop::quit);
    loop.exec();
}

void TimeHistoryWindow(const std::string& path)
{
    TimeQueries(path);
    for (int picked : {0, 3}) {
        std::vector<double> times;
        int rows = 0;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer clock;
            clock.start();
            TfrmHistory window(nullptr, path, "常见网站");
            WaitForRead(window);
            auto* items = window.findChild<QListWidget*>(QStringLiteral("lbItems"));
            for (int i = 0; i < picked && i < items->count(); ++i)
                items->item(i)->setCheckState(Qt::Checked);
            window.show();
            auto* chart = window.findChild<QChartView*>(QStringLiteral("chartView"));
            // The picked lines are read on the window's reader too.
            while (picked > 0 && chart->chart()->series().size() <= 1)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
            QCoreApplication::processEvents();
            chart->grab();  // the chart drawn, not only laid out
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
            rows = window.findChild<QTableView*>(QStringLiteral("tvRuns"))->model()->rowCount();
        }
        std::sort(times.begin(), times.end());
        std::printf("  open + draw 30 days (%d runs, %d items picked): median %7.1f ms, worst %7.1f ms "
                    "(target < 1000 ms)\n",
                    rows, picked, times[times.size() / 2], times.back());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::printf("Recording a completed run of %d items, %d rounds each:\n", kItems, kRounds);
    PrintRuns("not recorded", TimeRuns(false));
    PrintRuns("recorded", TimeRuns(true));

    QTemporaryDir dir;
    const std::string path =
        argc > 1 ? std::string(argv[1]) : dir.filePath(QStringLiteral("History.db")).toStdString();
    if (!QFile::exists(QString::fromStdString(path))) {
        std::printf("Writing %d runs of %d items into %s ...\n", kRuns, kRunItems, path.c_str());
        MakeHistory(path);
    }
    std::printf("The history window on %s:\n", path.c_str());
    TimeHistoryWindow(path);
    return 0;
}
