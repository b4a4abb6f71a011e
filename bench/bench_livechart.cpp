// The live chart watching a large plan, offscreen, on a clock of its own:
// 200 items measured every 5 s (5 tries each, one item in ten failing now
// and then), the chart open on its 2-hour span and redrawn once a simulated
// second, as its timer does. Per second of simulated time the UI thread's
// work (the tries of a run handed to the chart's store, the redraw, the
// paint) is timed; resident memory and the tries kept are read every half
// hour, so that the plateau once the 2-hour window is full shows.
// Beside it, the same tries appended as they come to a plain QLineSeries per
// item (every point kept, no thinning) for a shorter stretch.
//   bench_livechart [simulated hours, 3 by default] [naive minutes, 20 by default]
// Nothing is sent anywhere.

#include "dialogs/Livechart.h"
#include "engine/Livetries.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using TClock = TLiveTries::TClock;

namespace {

constexpr int kItems = 200;
constexpr int kTriesPerRun = 5;
constexpr auto kRunEvery = 5s;

double ResidentMib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

struct TStalls {
    std::vector<double> Ms;
    void Print(const char* what) const
    {
        std::vector<double> sorted = Ms;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double share) { return sorted[size_t(share * double(sorted.size() - 1))]; };
        std::printf("  %-34s steps %6zu  median %7.2f ms  p99 %7.2f ms  max %7.2f ms\n", what, sorted.size(), at(0.5),
                    at(0.99), sorted.back());
    }
};

std::vector<std::string> ItemNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < kItems; ++i)
        names.push_back("测速项" + std::to_string(i));
    return names;
}

// One run's tries ending around `at`: times of 1 to 80 ms, and an item in
// ten failing a try in five.
template <class TAdd>
void MakeRun(TClock::time_point at, std::mt19937& random, TAdd add)
{
    std::uniform_int_distribution<int> micros(1'000, 80'000);
    std::uniform_int_distribution<int> chance(0, 49);
    for (int item = 0; item < kItems; ++item)
        for (int attempt = 0; attempt < kTriesPerRun; ++attempt) {
            const auto ended = at + std::chrono::milliseconds(item * 3 + attempt * 40);
            const bool failed = item % 10 == 0 && chance(random) < 10;
            add(item, ended, failed ? std::nullopt : std::optional(std::chrono::microseconds(micros(random))));
        }
}

void WatchWithTheChart(std::chrono::hours hours)
{
    auto tries = std::make_shared<TLiveTries>();
    TClock::time_point now = TClock::time_point(std::chrono::floor<std::chrono::seconds>(TClock::now()));
    const TClock::time_point start = now;
    TfrmLiveChart chart(nullptr, tries, [&] { return now; });
    chart.resize(1200, 700);
    const std::vector<std::string> names = ItemNames();
    chart.SetItems(names, QStringLiteral("基准"));
    chart.findChild<QComboBox*>(QStringLiteral("cbSpan"))->setCurrentIndex(2);  // 2 hours
    chart.show();
    QApplication::processEvents();

    std::mt19937 random(7);
    TStalls stalls, refreshes, paints;
    std::printf("The chart, 2-hour span, %d items every %lld s, redrawn every simulated second:\n", kItems,
                static_cast<long long>(kRunEvery.count()));
    std::printf("  %-10s %12s %12s\n", "simulated", "tries kept", "RSS MiB");
    const auto end = start + hours;
    for (auto nextRun = start, nextReport = start + 30min; now <= end; now += 1s) {
        QElapsedTimer step;
        step.start();
        if (now >= nextRun) {
            MakeRun(now, random, [&](int item, TClock::time_point ended, auto time) {
                tries->Add(names[size_t(item)], ended, time);
            });
            tries->Prune(now);  // the window prunes at each run's end
            nextRun += kRunEvery;
        }
        QElapsedTimer part;
        part.start();
        chart.Refresh();
        refreshes.Ms.push_back(double(part.nsecsElapsed()) / 1e6);
        part.restart();
        chart.repaint();
        QApplication::processEvents();
        paints.Ms.push_back(double(part.nsecsElapsed()) / 1e6);
        stalls.Ms.push_back(double(step.nsecsElapsed()) / 1e6);
        if (now >= nextReport) {
            std::printf("  %7.1f h  %12zu %12.1f\n", std::chrono::duration<double, std::ratio<3600>>(now - start).count(),
                        tries->PointCount(), ResidentMib());
            nextReport += 30min;
        }
    }
    refreshes.Print("of which the chart's Refresh()");
    paints.Print("of which painting");
    stalls.Print("chart, UI work per second");
}

// Every try appended to a QLineSeries of its item, failures left out, the
// time axis moved to the last two hours: what a chart without thinning does.
void WatchWithPlainSeries(std::chrono::minutes minutes)
{
    QChart* chart = new QChart;
    QChartView view(chart);
    view.resize(1200, 700);
    auto* timeAxis = new QDateTimeAxis;
    auto* valueAxis = new QValueAxis;
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(valueAxis, Qt::AlignLeft);
    chart->legend()->hide();
    std::vector<QLineSeries*> lines;
    for (int i = 0; i < kItems; ++i) {
        auto* line = new QLineSeries;
        chart->addSeries(line);
        line->attachAxis(timeAxis);
        line->attachAxis(valueAxis);
        lines.push_back(line);
    }
    valueAxis->setRange(0, 80);
    view.show();
    QApplication::processEvents();

    TClock::time_point now = TClock::time_point(std::chrono::floor<std::chrono::seconds>(TClock::now()));
    const TClock::time_point start = now;
    std::mt19937 random(7);
    TStalls stalls;
    const auto msOf = [](TClock::time_point time) {
        return qreal(std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
    };
    std::printf("Plain QLineSeries, every try kept, for %lld simulated minutes:\n",
                static_cast<long long>(minutes.count()));
    std::printf("  %-10s %12s %12s\n", "simulated", "points", "RSS MiB");
    size_t points = 0;
    const auto end = start + minutes;
    for (auto nextRun = start, nextReport = start + 5min; now <= end; now += 1s) {
        QElapsedTimer step;
        step.start();
        if (now >= nextRun) {
            MakeRun(now, random, [&](int item, TClock::time_point ended, auto time) {
                if (!time)
                    return;
                lines[size_t(item)]->append(msOf(ended), qreal(time->count()) / 1000.0);
                ++points;
            });
            nextRun += kRunEvery;
        }
        timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(msOf(now - 2h))),
                           QDateTime::fromMSecsSinceEpoch(qint64(msOf(now))));
        view.repaint();
        QApplication::processEvents();
        stalls.Ms.push_back(double(step.nsecsElapsed()) / 1e6);
        if (now >= nextReport) {
            std::printf("  %7.0f min %12zu %12.1f\n",
                        std::chrono::duration<double, std::ratio<60>>(now - start).count(), points, ResidentMib());
            nextReport += 5min;
        }
    }
    stalls.Print("plain series, UI work per second");
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::chrono::hours hours(argc > 1 ? std::max(1, std::atoi(argv[1])) : 3);
    const std::chrono::minutes naive(argc > 2 ? std::max(1, std::atoi(argv[2])) : 20);
    std::printf("Start: RSS %.1f MiB\n", ResidentMib());
    WatchWithTheChart(hours);
    WatchWithPlainSeries(naive);
    return 0;
}
