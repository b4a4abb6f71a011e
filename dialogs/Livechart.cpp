#include "dialogs/Livechart.h"

#include "dialogs/Chartaxes.h"

#include "ui_Livechart.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScatterSeries>
#include <QTimer>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using namespace std::chrono;

// So many points in all are handed to Qt Charts at most: a line per item of
// a large plan still redraws quickly.
constexpr int kMostPoints = 20000;

double ChartTime(TLiveTries::TClock::time_point time)
{
    return double(duration_cast<milliseconds>(time.time_since_epoch()).count());
}

QDateTime LocalTime(TLiveTries::TClock::time_point time)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(ChartTime(time)));
}

double Ms(microseconds time) { return double(time.count()) / 1000.0; }

}  // namespace

const std::vector<seconds>& TfrmLiveChart::Spans()
{
    static const std::vector<seconds> spans{minutes(5), minutes(30), hours(2)};
    return spans;
}

TfrmLiveChart::TfrmLiveChart(QWidget* owner, std::shared_ptr<const TLiveTries> tries, TNow now)
    : QDialog(owner), ui(std::make_unique<Ui::TfrmLiveChart>()), FTries(std::move(tries)), FNow(std::move(now)),
      FTimer(new QTimer(this))
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window);
    FViewTo = FNow();
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    // The view lets go of its own first chart without deleting it.
    const std::unique_ptr<QChart> first(ui->chartView->chart());
    ui->chartView->setChart(chart);
    ui->chartView->setRenderHint(QPainter::Antialiasing, false);
    ui->chartView->viewport()->installEventFilter(this);
    FTimeAxis = new QDateTimeAxis;
    FValueAxis = new QValueAxis;
    FValueAxis->setTitleText(QStringLiteral("耗时(毫秒)"));
    chart->addAxis(FTimeAxis, Qt::AlignBottom);
    chart->addAxis(FValueAxis, Qt::AlignLeft);
    ui->splChart->setStretchFactor(0, 4);
    ui->splChart->setStretchFactor(1, 1);
    FTimer->setObjectName(QStringLiteral("tmrRefresh"));
    FTimer->setInterval(kRefreshEvery);
    connect(FTimer, &QTimer::timeout, this, [this] { Refresh(); });
    connect(ui->cbSpan, &QComboBox::currentIndexChanged, this,
            [this](int index) { cbSpanChanged(index); });
    connect(ui->btnLive, &QPushButton::clicked, this, [this] { btnLiveClick(); });
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->lbItems, &QListWidget::itemChanged, this,
            [this](QListWidgetItem* entry) { lbItemsChanged(entry); });
    RebuildSeries();
}

TfrmLiveChart::~TfrmLiveChart() = default;

void TfrmLiveChart::SetItems(const std::vector<std::string>& names, const QString& plan)
{
    const QString planText = QStringLiteral("测速方案：%1").arg(plan);
    // The window's list is rebuilt at each run's start and end: the same
    // items keep their lines as they are.
    if (names == FNames && planText == ui->lblPlan->text())
        return;
    FNames = names;
    ui->lblPlan->setText(planText);
    const QSignalBlocker quiet(ui->lbItems);
    ui->lbItems->clear();
    for (size_t place = 0; place < names.size(); ++place) {
        auto* entry = new QListWidgetItem(QString::fromStdString(names[place]), ui->lbItems);
        entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        entry->setCheckState(FUnticked.count(names[place]) ? Qt::Unchecked : Qt::Checked);
        entry->setForeground(ItemColour(place));
    }
    RebuildSeries();
}

void TfrmLiveChart::lbItemsChanged(QListWidgetItem* entry)
{
    const std::string name = entry->text().toStdString();
    if (entry->checkState() == Qt::Checked)
        FUnticked.erase(name);
    else
        FUnticked.insert(name);
    RebuildSeries();
}

void TfrmLiveChart::cbSpanChanged(int index)
{
    FSpan = Spans().at(size_t(std::clamp(index, 0, int(Spans().size()) - 1)));
    btnLiveClick();
}

void TfrmLiveChart::btnLiveClick()
{
    FViewSpan = FSpan;
    FFollowing = true;
    Refresh();
}

// A series per ticked item, coloured by its place in the plan, and one for
// the failures of them all.
void TfrmLiveChart::RebuildSeries()
{
    QChart* chart = ui->chartView->chart();
    chart->removeAllSeries();
    FLines.clear();
    FDrawn.reset();
    const auto lines = std::count_if(FNames.begin(), FNames.end(),
                                     [this](const std::string& name) { return !FUnticked.count(name); });
    for (size_t place = 0; place < FNames.size(); ++place) {
        if (FUnticked.count(FNames[place]))
            continue;
        auto* line = new QLineSeries;
        line->setName(QString::fromStdString(FNames[place]));
        // Many lines are drawn thin: a one-pixel pen is the fast one.
        line->setPen(LinePen(ItemColour(place), lines <= 12 ? 1.5 : 1.0));
        chart->addSeries(line);
        line->attachAxis(FTimeAxis);
        line->attachAxis(FValueAxis);
        FLines.emplace_back(place, line);
    }
    FFailures = new QScatterSeries;
    FFailures->setName(QStringLiteral("失败"));
    FFailures->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    FFailures->setMarkerSize(7);
    FFailures->setColor(QColor(220, 0, 0));
    FFailures->setBorderColor(QColor(220, 0, 0));
    chart->addSeries(FFailures);
    FFailures->attachAxis(FTimeAxis);
    FFailures->attachAxis(FValueAxis);
    // A legend of many lines would hide the chart; the list names them in their colours.
    chart->legend()->setVisible(FLines.size() <= 12);
    Refresh();
}

void TfrmLiveChart::Refresh()
{
    const TClock::time_point now = FNow();
    if (FFollowing)
        FViewTo = now;
    KeepInRange();
    if (!SameAsDrawn()) {
        FDrawn = {FTries->Version(), FViewTo, FViewSpan, BucketCount()};
        DrawSeries(ViewFrom(), FViewTo);
    }
    ui->btnLive->setEnabled(!FFollowing);
    ui->lblState->setText(FFollowing ? QStringLiteral("实时") : QStringLiteral("已停在所选时段"));
}

// Nothing new and the view moved by less than a pixel: what is drawn stands,
// and the chart is not painted again for nothing.
bool TfrmLiveChart::SameAsDrawn() const
{
    if (!FDrawn || FDrawn->Version != FTries->Version() || FDrawn->Span != FViewSpan ||
        FDrawn->Buckets != BucketCount())
        return false;
    const auto pixel = duration_cast<TClock::duration>(FViewSpan / PlotWidth());
    const auto moved = FViewTo - FDrawn->To;
    return moved < pixel && -moved < pixel;
}

double TfrmLiveChart::PlotLeft() const { return ui->chartView->chart()->plotArea().left(); }

double TfrmLiveChart::PlotWidth() const { return std::max(ui->chartView->chart()->plotArea().width(), 1.0); }

// Buckets per line: about one per pixel, fewer when many lines share the
// chart.
int TfrmLiveChart::BucketCount() const
{
    const int lines = std::max<int>(1, int(FLines.size()));
    return std::clamp(kMostPoints / (2 * lines), 20, std::max(20, int(PlotWidth())));
}

// Each line keeps, per bucket of time, its fastest and slowest try in the
// order they came; a bucket with any failed try of a drawn item gets one mark.
void TfrmLiveChart::DrawSeries(TClock::time_point from, TClock::time_point to)
{
    const int buckets = BucketCount();
    const TClock::duration span = std::max<TClock::duration>(to - from, TClock::duration(1));
    // The tries come in time order: a bucket ends where the next begins,
    // and a try past it moves on, without a division per try.
    const auto bucketEnd = [&](int bucket) { return from + span * (bucket + 1) / buckets; };
    std::vector<char> failed(size_t(buckets), 0);
    std::vector<TClock::time_point> failedAt(static_cast<size_t>(buckets));
    microseconds slowest{0};
    std::vector<QList<QPointF>> lines;
    lines.reserve(FLines.size());
    for (const auto& [place, line] : FLines) {
        QList<QPointF>& drawn = lines.emplace_back();
        int bucket = 0;
        TClock::time_point end = bucketEnd(0);
        bool any = false;
        TClock::time_point lowAt, highAt;
        microseconds low{0}, high{0};
        const auto flush = [&] {
            if (!any)
                return;
            const bool lowFirst = lowAt <= highAt;
            drawn.append(QPointF(ChartTime(lowFirst ? lowAt : highAt), Ms(lowFirst ? low : high)));
            if (lowAt != highAt)
                drawn.append(QPointF(ChartTime(lowFirst ? highAt : lowAt), Ms(lowFirst ? high : low)));
            any = false;
        };
        FTries->ForEachPoint(FNames[place], from, to, [&](const TLiveTries::TPoint& point) {
            if (point.Ended >= end && bucket < buckets - 1) {
                flush();
                while (point.Ended >= end && bucket < buckets - 1)
                    end = bucketEnd(++bucket);
            }
            if (!point.Time) {
                if (!failed[size_t(bucket)]) {
                    failed[size_t(bucket)] = 1;
                    failedAt[size_t(bucket)] = point.Ended;
                }
                return;
            }
            const microseconds time = *point.Time;
            if (!any || time < low)
                low = time, lowAt = point.Ended;
            if (!any || time > high)
                high = time, highAt = point.Ended;
            any = true;
            slowest = std::max(slowest, time);
        });
        flush();
    }
    QList<QPointF> marks;
    for (size_t at = 0; at < failed.size(); ++at)
        if (failed[at])
            marks.append(QPointF(ChartTime(failedAt[at]), 0.0));
    // Qt Charts lays out every series again when an axis moves, and a series
    // when its points change: the axes move while the series are empty, so
    // that each line is laid out once.
    for (const auto& [place, line] : FLines)
        line->clear();
    FFailures->clear();
    FitAxes(from, to, Ms(slowest));
    for (size_t at = 0; at < FLines.size(); ++at)
        FLines[at].second->replace(lines[at]);
    FFailures->replace(marks);
}

void TfrmLiveChart::FitAxes(TClock::time_point from, TClock::time_point to, double slowest)
{
    const QDateTime first = LocalTime(from), last = LocalTime(to);
    const TTimeLabels labels = TimeLabels(first, last);
    FTimeAxis->setFormat(labels.Format);
    FTimeAxis->setTickCount(labels.TickCount);
    FTimeAxis->setRange(first, last);
    const double top = slowest > 0 ? slowest * 1.1 : 1.0;
    const double step = RoundStep(top, 5);
    FValueAxis->setRange(0, step * std::ceil(top / step));
    FValueAxis->setTickCount(int(std::lround(std::ceil(top / step))) + 1);
    FValueAxis->setLabelFormat(StepLabelFormat(step));
}

// The view stays within what is kept, never past now, and no wider than the
// span chosen.
void TfrmLiveChart::KeepInRange()
{
    const TClock::time_point now = FNow();
    FViewSpan = std::clamp<TClock::duration>(FViewSpan, kNarrowest, FSpan);
    FViewTo = std::min(FViewTo, now);
    FViewTo = std::max(FViewTo, now - TLiveTries::kKeep + FViewSpan);
}

// A notch towards the user narrows the view to four fifths around the time
// under the mouse.
void TfrmLiveChart::ZoomAt(int x, int notches)
{
    const double factor = std::pow(0.8, notches);
    const double share = std::clamp((x - PlotLeft()) / PlotWidth(), 0.0, 1.0);
    const auto oldSpan = FViewSpan;
    const TClock::time_point at = ViewFrom() + duration_cast<TClock::duration>(oldSpan * share);
    FViewSpan = std::clamp<TClock::duration>(duration_cast<TClock::duration>(oldSpan * factor), kNarrowest, FSpan);
    if (FViewSpan == oldSpan)
        return;
    FViewTo = at + duration_cast<TClock::duration>(FViewSpan * (1 - share));
    FFollowing = false;
    Refresh();
}

void TfrmLiveChart::PanBy(int dx)
{
    FViewTo = FDragTo - duration_cast<TClock::duration>(FViewSpan * (dx / PlotWidth()));
    FFollowing = false;
    Refresh();
}

bool TfrmLiveChart::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != ui->chartView->viewport())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int notches = wheel->angleDelta().y() / 120;
        if (notches != 0)
            ZoomAt(int(wheel->position().x()), notches);
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        FDragging = true;
        FDragX = int(mouse->position().x());
        FDragTo = FViewTo;
        return true;
    }
    case QEvent::MouseMove:
        if (FDragging) {
            const int x = int(static_cast<QMouseEvent*>(event)->position().x());
            PanBy(x - FDragX);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        FDragging = false;
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmLiveChart::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Refresh();
    FTimer->start();
}

void TfrmLiveChart::hideEvent(QHideEvent* event)
{
    FTimer->stop();
    QDialog::hideEvent(event);
}
