// The live chart on tries the test makes up, with a clock of its own: the
// lines and failure marks of the ticked items, the spans, zooming, panning
// and going back to the live end.

#include "dialogs/Livechart.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QSignalSpy>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QScatterSeries>
#include <QValueAxis>
#include <QtTest>

#include <chrono>
#include <memory>
#include <set>

using namespace std::chrono_literals;
using TClock = TLiveTries::TClock;

namespace {

const TClock::time_point kStart = TClock::time_point(std::chrono::seconds(1'800'000'000));

struct TChartScene {
    TChartScene()
    {
        Window = std::make_unique<TfrmLiveChart>(nullptr, Tries, [this] { return Now; });
        Window->resize(900, 520);
    }
    // An answer of ms every 5 s for span, item b failing every fourth try.
    void Feed(std::chrono::seconds span, double ms = 10)
    {
        for (auto at = 0s; at < span; at += 5s) {
            Now += 5s;
            Tries->Add("a", Now, std::chrono::microseconds(int64_t(ms * 1000)));
            const bool fails = (Now.time_since_epoch() / 5s) % 4 == 0;
            Tries->Add("b", Now, fails ? std::nullopt : std::optional(std::chrono::microseconds(int64_t(ms * 2000))));
        }
    }
    QChart* Chart() const { return Window->findChild<QChartView*>(QStringLiteral("chartView"))->chart(); }
    QLineSeries* Line(const QString& name) const
    {
        for (QAbstractSeries* series : Chart()->series())
            if (series->name() == name)
                return qobject_cast<QLineSeries*>(series);
        return nullptr;
    }
    QScatterSeries* Failures() const
    {
        for (QAbstractSeries* series : Chart()->series())
            if (auto* scatter = qobject_cast<QScatterSeries*>(series))
                return scatter;
        return nullptr;
    }
    QDateTimeAxis* TimeAxis() const { return qobject_cast<QDateTimeAxis*>(Chart()->axes(Qt::Horizontal).first()); }
    QValueAxis* ValueAxis() const { return qobject_cast<QValueAxis*>(Chart()->axes(Qt::Vertical).first()); }
    QWidget* Viewport() const { return Window->findChild<QChartView*>(QStringLiteral("chartView"))->viewport(); }
    void Wheel(int notches)
    {
        const QPoint at = Viewport()->rect().center();
        QWheelEvent wheel(at, Viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Viewport(), &wheel);
    }
    void Drag(int dx)
    {
        const QPoint from = Viewport()->rect().center();
        QTest::mousePress(Viewport(), Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(dx, 0)), Viewport()->mapToGlobal(from + QPoint(dx, 0)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Viewport(), &move);
        QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, from + QPoint(dx, 0));
    }

    std::shared_ptr<TLiveTries> Tries = std::make_shared<TLiveTries>();
    TClock::time_point Now = kStart;
    std::unique_ptr<TfrmLiveChart> Window;
};

qint64 Ms(TClock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

}  // namespace

class TestLiveChart : public QObject {
    Q_OBJECT
private slots:
    void drawsTheTickedItemsAndMarksTheirFailures()
    {
        TChartScene scene;
        scene.Window->SetItems({"a", "b", "c"}, QStringLiteral("家里"));
        scene.Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(scene.Window.get()));
        QCOMPARE(scene.Window->windowTitle(), QStringLiteral("实时图表"));
        scene.Feed(60s);
        scene.Window->Refresh();
        QVERIFY(scene.Line("a") && scene.Line("b") && scene.Line("c"));
        // Few points: every answer is drawn where it was made.
        QCOMPARE(scene.Line("a")->count(), 12);
        for (const QPointF& point : scene.Line("a")->points())
            QCOMPARE(point.y(), 10.0);
        QCOMPARE(scene.Line("b")->count(), 12 - scene.Failures()->count());
        QVERIFY(scene.Failures()->count() >= 2);
        for (const QPointF& point : scene.Failures()->points())
            QCOMPARE(point.y(), 0.0);
        QCOMPARE(scene.Line("c")->count(), 0);
        // The value axis holds the slowest at a round top.
        QVERIFY(scene.ValueAxis()->max() >= 20.0);
        const double top = scene.ValueAxis()->max();
        const double step = top / (scene.ValueAxis()->tickCount() - 1);
        QVERIFY2(std::set<double>({1, 2, 5, 10}).count(step / std::pow(10, std::floor(std::log10(step)))),
                 qPrintable(QString::number(step)));

        // Unticking b takes its line and its marks away.
        auto* list = scene.Window->findChild<QListWidget*>(QStringLiteral("lbItems"));
        QCOMPARE(list->count(), 3);
        list->item(1)->setCheckState(Qt::Unchecked);
        QVERIFY(scene.Line("b") == nullptr);
        QCOMPARE(scene.Failures()->count(), 0);
        // The same items again keep the choice; a new one is ticked.
        scene.Window->SetItems({"a", "b", "c", "d"}, QStringLiteral("家里"));
        QVERIFY(scene.Line("b") == nullptr);
        QVERIFY(scene.Line("d") != nullptr);
    }

    void spansChooseTheTimeAxisAndManyPointsAreThinned()
    {
        TChartScene scene;
        scene.Window->SetItems({"a", "b"}, QStringLiteral("家里"));
        scene.Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(scene.Window.get()));
        // The chart takes the room the controls leave.
        QVERIFY(scene.Window->findChild<QChartView*>(QStringLiteral("chartView"))->height() >
                scene.Window->height() * 2 / 3);
        scene.Feed(3h);
        scene.Window->Refresh();
        auto* span = scene.Window->findChild<QComboBox*>(QStringLiteral("cbSpan"));
        const qint64 expected[] = {5 * 60'000, 30 * 60'000, 120 * 60'000};
        for (int index = 0; index < 3; ++index) {
            span->setCurrentIndex(index);
            QCOMPARE(scene.TimeAxis()->max().toMSecsSinceEpoch(), Ms(scene.Now));
            QCOMPARE(scene.TimeAxis()->max().toMSecsSinceEpoch() - scene.TimeAxis()->min().toMSecsSinceEpoch(),
                     expected[index]);
            QVERIFY(scene.Window->Following());
        }
        // Two hours of an answer every 5 s are 1440 tries; the line has at most
        // two points per pixel of the plot.
        QVERIFY(scene.Line("a")->count() <= 2 * int(scene.Chart()->plotArea().width()) + 2);
        QVERIFY(scene.Line("a")->count() > 100);
        // Nothing older than two hours is kept.
        scene.Tries->Prune(scene.Now);
        QVERIFY(scene.Tries->PointCount() <= 2 * 1441);
    }

    // The timer's refreshes redraw only for a new try or a pixel's move of
    // the live end: a large plan is not laid out again every second.
    void aRefreshWithNothingNewDrawsNothing()
    {
        TChartScene scene;
        scene.Window->SetItems({"a"}, QStringLiteral("家里"));
        scene.Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(scene.Window.get()));
        scene.Feed(10min);
        // The first drawing's labels may narrow the plot, and the next one
        // follows the new width.
        scene.Window->Refresh();
        QCoreApplication::processEvents();
        scene.Window->Refresh();
        QSignalSpy redrawn(scene.Line("a"), &QXYSeries::pointsReplaced);
        const qint64 end = scene.TimeAxis()->max().toMSecsSinceEpoch();
        scene.Window->Refresh();
        scene.Now += 100ms;  // 300 s over some 800 pixels: under one
        scene.Window->Refresh();
        QCOMPARE(redrawn.count(), 0);
        QCOMPARE(scene.TimeAxis()->max().toMSecsSinceEpoch(), end);

        scene.Now += 1s;
        scene.Window->Refresh();
        QCOMPARE(redrawn.count(), 1);
        QCOMPARE(scene.TimeAxis()->max().toMSecsSinceEpoch(), Ms(scene.Now));
        scene.Tries->Add("a", scene.Now, 3ms);
        scene.Window->Refresh();
        QCOMPARE(redrawn.count(), 2);
    }

    void wheelAndDragLeaveTheLiveEndUntilTheButtonTakesItBack()
    {
        TChartScene scene;
        scene.Window->SetItems({"a"}, QStringLiteral("家里"));
        scene.Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(scene.Window.get()));
        scene.Feed(10min);
        scene.Window->Refresh();
        auto* live = scene.Window->findChild<QPushButton*>(QStringLiteral("btnLive"));
        QVERIFY(!live->isEnabled());

        scene.Wheel(2);
        QVERIFY(!scene.Window->Following());
        QVERIFY(live->isEnabled());
        const auto zoomed = scene.Window->ViewTo() - scene.Window->ViewFrom();
        QCOMPARE(std::chrono::duration_cast<std::chrono::seconds>(zoomed), 192s);  // 300 s × 0.8²
        // The view stays put while tries come in.
        const auto to = scene.Window->ViewTo();
        scene.Feed(30s);
        scene.Window->Refresh();
        QCOMPARE(scene.Window->ViewTo(), to);

        // Dragging right shows earlier times; the view never passes now.
        scene.Drag(200);
        QVERIFY(scene.Window->ViewTo() < to);
        scene.Drag(-100000);
        QCOMPARE(scene.Window->ViewTo(), scene.Now);
        // No zoom goes closer than ten seconds, nor wider than the span.
        scene.Wheel(40);
        QCOMPARE(scene.Window->ViewTo() - scene.Window->ViewFrom(), TClock::duration(TfrmLiveChart::kNarrowest));
        scene.Wheel(-40);
        QCOMPARE(scene.Window->ViewTo() - scene.Window->ViewFrom(), TClock::duration(5min));
        // Time labels stay distinct at the closest zoom.
        scene.Wheel(40);
        QCOMPARE(scene.TimeAxis()->format(), QStringLiteral("HH:mm:ss"));

        QTest::mouseClick(live, Qt::LeftButton);
        QVERIFY(scene.Window->Following());
        scene.Feed(10s);
        scene.Window->Refresh();
        QCOMPARE(scene.Window->ViewTo(), scene.Now);
        QCOMPARE(scene.Window->ViewTo() - scene.Window->ViewFrom(), TClock::duration(5min));
    }
};

QTEST_MAIN(TestLiveChart)
#include "test_Livechart.moc"
