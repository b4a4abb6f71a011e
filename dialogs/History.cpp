#include "dialogs/History.h"

#include "dialogs/Chartaxes.h"
#include "dialogs/Csvfile.h"
#include "dialogs/Itemdetails.h"

#include "ui_History.h"

#include <QAbstractTableModel>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHeaderView>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace {

using TSeries = std::vector<std::pair<THistoryDb::time_point, std::optional<double>>>;

QString ReadFailedText(const QString& reason)
{
    return QStringLiteral("无法读取测速历史：%1").arg(reason);
}

// The overall line, and the items' lines by their place in the list, so
// that an item keeps its colour whatever is picked with it.
const QColor kOverallColour(30, 30, 30);

// Marks the series of a picked item with the item's name.
constexpr const char* kItemProperty = "orvelItem";

QDateTime LocalTime(THistoryDb::time_point time)
{
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

THistoryDb::time_point StartOfDay(QDate day)
{
    return THistoryDb::time_point(std::chrono::milliseconds(day.startOfDay().toMSecsSinceEpoch()));
}

QString RunTimeText(THistoryDb::time_point time)
{
    return LocalTime(time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// ISO 8601 to the second with the offset from UTC: 2026-12-10T09:15:00+08:00.
QString IsoTime(THistoryDb::time_point time)
{
    const QDateTime local = LocalTime(time);
    const int offsetMinutes = local.offsetFromUtc() / 60;
    const int magnitude = std::abs(offsetMinutes);
    return local.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"))
        + QStringLiteral("%1%2:%3")
              .arg(offsetMinutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
              .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}

QString SilentName(const QString& name)
{
    return QStringLiteral("%1 (无响应)").arg(name);
}

QString AverageCell(const std::optional<double>& average)
{
    return average ? FigureText(*average) : QStringLiteral("没响应");
}

// A line with a break wherever a run had no answer: one series per stretch,
// in one colour, named once in the legend. A stretch of a single run shows
// as its point.
void AddBrokenLine(QChart& chart, const QString& name, const TSeries& points, QDateTimeAxis& x, QValueAxis& y,
                   const QPen& pen)
{
    std::vector<QList<QPointF>> stretches(1);
    for (const auto& [time, value] : points) {
        if (!value) {
            if (!stretches.back().isEmpty())
                stretches.emplace_back();
            continue;
        }
        stretches.back().append(QPointF(double(LocalTime(time).toMSecsSinceEpoch()), *value));
    }
    if (stretches.back().isEmpty())
        stretches.pop_back();
    // Runs there, none answered: the legend still names the line.
    if (stretches.empty() && !points.empty()) {
        auto* series = new QLineSeries(&chart);
        series->setName(SilentName(name));
        chart.addSeries(series);
        series->setPen(pen);
        series->attachAxis(&x);
        series->attachAxis(&y);
        return;
    }

    bool first = true;
    for (const QList<QPointF>& stretch : stretches) {
        auto* series = new QLineSeries(&chart);
        series->setName(name);
        series->replace(stretch);
        series->setPointsVisible(stretch.size() == 1);
        chart.addSeries(series);
        series->setPen(pen);
        series->attachAxis(&x);
        series->attachAxis(&y);
        if (!first)
            for (QLegendMarker* marker : chart.legend()->markers(series))
                marker->setVisible(false);
        first = false;
    }
}

}  // namespace

// The runs as the table shows them; a model over the list, so that months
// of runs open at once.
class TRunsModel : public QAbstractTableModel {
public:
    explicit TRunsModel(QObject* parent) : QAbstractTableModel(parent) {}

    void SetRuns(const std::vector<TRunSummary>* runs)
    {
        beginResetModel();
        FRuns = runs;
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() || FRuns == nullptr ? 0 : int(FRuns->size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || FRuns == nullptr)
            return {};
        const TRunSummary& run = (*FRuns)[size_t(index.row())];
        if (role == Qt::TextAlignmentRole && index.column() > 0)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column()) {
        case 0:
            return RunTimeText(run.Started);
        case 1:
            return AverageCell(run.Average);
        default:
            return QStringLiteral("%1/%2").arg(run.Answered).arg(run.Total);
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        static const QString titles[] = {QStringLiteral("测速时间"), QStringLiteral("总平均耗时(毫秒)"),
                                         QStringLiteral("响应数/总数")};
        return titles[section];
    }

private:
    const std::vector<TRunSummary>* FRuns = nullptr;
};

// What one read of a range found, handed from the reader's thread.
struct TfrmHistory::TRangeRead {
    std::vector<TRunSummary> Runs;
    std::vector<std::string> Names;
    std::map<std::string, TSeries> Picked;
};

TfrmHistory::TfrmHistory(QWidget* owner, std::string path, std::string plan)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint
                         | Qt::WindowMaximizeButtonHint),
      ui(std::make_unique<Ui::TfrmHistory>()), FPath(std::move(path)), FPlan(std::move(plan)),
      FModel(new TRunsModel(this))
{
    ui->setupUi(this);
    ui->lblPlan->setText(QStringLiteral("测速方案：%1").arg(QString::fromStdString(FPlan)));
    ui->chartView->setRenderHint(QPainter::Antialiasing);
    ui->splChart->setStretchFactor(0, 4);
    ui->splChart->setStretchFactor(1, 1);
    QTableView* runs = ui->tvRuns;
    runs->setModel(FModel);
    runs->verticalHeader()->hide();
    runs->verticalHeader()->setDefaultSectionSize(runs->fontMetrics().height() + 6);
    runs->horizontalHeader()->setStretchLastSection(true);
    runs->setColumnWidth(0, 160);
    runs->setColumnWidth(1, 130);

    connect(ui->btnShow, &QPushButton::clicked, this, [this] { ShowRange(ui->dtpSince->date(), ui->dtpUntil->date()); });
    connect(ui->btnExport, &QPushButton::clicked, this, [this] { btnExportClick(); });
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->lbItems, &QListWidget::itemChanged, this, [this](QListWidgetItem* entry) { lbItemsChanged(entry); });

    // The reader reports from its thread; the window's own thread shows it.
    // The reader goes before the window, so `this` is there for every call.
    FReader = std::make_unique<THistoryReader>(
        FPath, [this](THistoryReader::TProblem problem, const std::string& reason) {
            QMetaObject::invokeMethod(
                this, [this, problem, text = QString::fromUtf8(reason)] { ShowProblem(problem, text); },
                Qt::QueuedConnection);
        });

    const QDate today = QDate::currentDate();
    ShowRange(today.addDays(1 - kDefaultDays), today);
}

TfrmHistory::~TfrmHistory()
{
    FReader.reset();
}

QString TfrmHistory::BusyText()
{
    return QStringLiteral("测速历史正被其他程序占用，稍后自动重试...");
}

void TfrmHistory::ShowRange(QDate since, QDate until)
{
    if (until < since)
        std::swap(since, until);
    ui->dtpSince->setDate(since);
    ui->dtpUntil->setDate(until);
    FSince = StartOfDay(since);
    FUntil = StartOfDay(until.addDays(1));
    // Until the runs are there, nothing of another range stays to be picked
    // or exported.
    FRuns.clear();
    FModel->SetRuns(&FRuns);
    ui->btnExport->setEnabled(false);
    FillItems({});
    DrawChart({});
    ui->lblStatus->setText(QStringLiteral("正在读取测速历史..."));
    ReadRange();
}

void TfrmHistory::ReadRange()
{
    const uint64_t generation = ++FGeneration;
    FReader->DropWaiting();
    FReader->Post([this, generation, plan = FPlan, since = FSince, until = FUntil,
                   picked = FPicked](const THistoryDb& db) {
        auto read = std::make_shared<TRangeRead>();
        read->Runs = db.Runs(plan, since, until);
        if (!read->Runs.empty()) {
            try {
                read->Names = db.ItemNames(plan, since, until);
            } catch (const THistoryBusyError&) {
                throw;
            } catch (const THistoryError&) {
                // The runs were read; only their items are missing from the list.
            }
            for (const std::string& name : picked)
                read->Picked[name] = db.ItemSeries(plan, name, since, until);
        }
        QMetaObject::invokeMethod(
            this, [this, generation, read] { ShowRead(generation, *read); }, Qt::QueuedConnection);
    });
}

void TfrmHistory::ShowRead(uint64_t generation, TRangeRead& read)
{
    if (generation != FGeneration)
        return;
    FRuns = std::move(read.Runs);
    FModel->SetRuns(&FRuns);
    if (!FRuns.empty())
        ui->tvRuns->scrollToBottom();
    ui->btnExport->setEnabled(!FRuns.empty());
    ShowCount();
    FillItems(read.Names);
    DrawChart(read.Picked);
    emit ReadEnded();
}

void TfrmHistory::ShowProblem(THistoryReader::TProblem problem, const QString& reason)
{
    switch (problem) {
    case THistoryReader::TProblem::Busy:
        ui->lblStatus->setText(BusyText());
        return;
    case THistoryReader::TProblem::Missing:
        ui->lblStatus->setText(QStringLiteral("还没有记录过测速。"));
        break;
    case THistoryReader::TProblem::Failed:
        ui->lblStatus->setText(ReadFailedText(reason));
        break;
    }
    emit ReadEnded();
}

void TfrmHistory::ShowCount()
{
    ui->lblStatus->setText(QStringLiteral("共%1次测速").arg(FRuns.size()));
}

void TfrmHistory::FillItems(const std::vector<std::string>& names)
{
    QListWidget* list = ui->lbItems;
    const QSignalBlocker blocker(list);
    list->clear();
    for (const std::string& name : names) {
        auto* entry = new QListWidgetItem(QString::fromStdString(name), list);
        entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        entry->setCheckState(FPicked.count(name) ? Qt::Checked : Qt::Unchecked);
    }
}

// Only the line picked or dropped changes: each line is a query and, with
// its gaps, many series.
void TfrmHistory::lbItemsChanged(QListWidgetItem* entry)
{
    const std::string name = entry->text().toStdString();
    if (entry->checkState() == Qt::Checked) {
        if (FPicked.insert(name).second)
            ReadItemLine(name);
    } else if (FPicked.erase(name)) {
        FDrawn.erase(name);
        QChart* chart = ui->chartView->chart();
        for (QAbstractSeries* series : chart->series())
            if (series->property(kItemProperty).toString() == entry->text()) {
                chart->removeSeries(series);
                delete series;
            }
        FitValueAxis();
    }
}

void TfrmHistory::ReadItemLine(const std::string& name)
{
    const uint64_t generation = FGeneration;
    FReader->Post([this, generation, plan = FPlan, name, since = FSince, until = FUntil](const THistoryDb& db) {
        auto series = std::make_shared<TSeries>(db.ItemSeries(plan, name, since, until));
        QMetaObject::invokeMethod(
            this,
            [this, generation, name, series] {
                // Dropped or picked again meanwhile: the line is not wanted, or there.
                if (generation != FGeneration || !FPicked.count(name) || FDrawn.count(name))
                    return;
                AddItemLine(name, *series);
                FitValueAxis();
                ShowCount();
            },
            Qt::QueuedConnection);
    });
}

void TfrmHistory::AddItemLine(const std::string& name, const TSeries& series)
{
    QChart* chart = ui->chartView->chart();
    QListWidget* list = ui->lbItems;
    const QList<QAbstractSeries*> before = chart->series();
    const QList<QListWidgetItem*> entries =
        list->findItems(QString::fromStdString(name), Qt::MatchExactly | Qt::MatchCaseSensitive);
    const int place = entries.isEmpty() ? 0 : list->row(entries.first());
    AddBrokenLine(*chart, QString::fromStdString(name), series, *FTimeAxis, *FValueAxis,
                  LinePen(ItemColour(size_t(place)), 1.5));
    for (QAbstractSeries* added : chart->series())
        if (!before.contains(added))
            added->setProperty(kItemProperty, QString::fromStdString(name));
    FDrawn.insert(name);
}

void TfrmHistory::FitValueAxis()
{
    double top = 0;
    for (QAbstractSeries* series : ui->chartView->chart()->series())
        for (const QPointF& point : static_cast<QLineSeries*>(series)->points())
            top = std::max(top, point.y());
    // Some room above the highest point, up to the next round tick.
    const double room = top > 0 ? top * 1.05 : 1.0;
    const double step = RoundStep(room, 5);
    const double end = std::ceil(room / step - 1e-9) * step;
    // Step and range in the order that never asks, in between, for far more
    // ticks than either end.
    if (step >= FValueAxis->tickInterval()) {
        FValueAxis->setTickInterval(step);
        FValueAxis->setRange(0, end);
    } else {
        FValueAxis->setRange(0, end);
        FValueAxis->setTickInterval(step);
    }
    FValueAxis->setTickAnchor(0);
    FValueAxis->setLabelFormat(StepLabelFormat(step));
    FValueAxis->setTickType(QValueAxis::TicksDynamic);
}

void TfrmHistory::DrawChart(const std::map<std::string, TSeries>& picked)
{
    auto* chart = new QChart();
    chart->setLocalizeNumbers(false);
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* x = new QDateTimeAxis(chart);
    x->setRange(LocalTime(FSince), LocalTime(FUntil));
    // The days chosen bound the query; the axis spans the runs found, so
    // that a few runs of one afternoon are not a single point.
    if (FRuns.size() > 1) {
        const auto span = FRuns.back().Started - FRuns.front().Started;
        const auto margin = std::max<THistoryDb::time_point::duration>(span / 50, std::chrono::minutes(1));
        x->setRange(LocalTime(FRuns.front().Started - margin), LocalTime(FRuns.back().Started + margin));
    }
    const TTimeLabels labels = TimeLabels(x->min(), x->max());
    x->setTickCount(labels.TickCount);
    x->setFormat(labels.Format);
    auto* y = new QValueAxis(chart);
    y->setTitleText(QStringLiteral("平均耗时(毫秒)"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    FTimeAxis = x;
    FValueAxis = y;

    TSeries overall;
    overall.reserve(FRuns.size());
    for (const TRunSummary& run : FRuns)
        overall.emplace_back(run.Started, run.Average);
    AddBrokenLine(*chart, QStringLiteral("总平均耗时"), overall, *x, *y, LinePen(kOverallColour, 2.5));

    QChart* old = ui->chartView->chart();
    ui->chartView->setChart(chart);
    delete old;
    FDrawn.clear();
    for (const auto& [name, series] : picked)
        if (FPicked.count(name))
            AddItemLine(name, series);
    // Picked while the range was read: their lines are read now.
    for (const std::string& name : FPicked)
        if (!FDrawn.count(name) && !picked.count(name) && !FRuns.empty())
            ReadItemLine(name);
    FitValueAxis();
}

// The columns and times of `orvel-cli --history --format csv`, so that a
// spreadsheet reads both alike; the offset keeps runs of another zone apart.
QList<QStringList> TfrmHistory::RunRows() const
{
    QList<QStringList> rows{{QStringLiteral("id"), QStringLiteral("started"), QStringLiteral("ended"),
                             QStringLiteral("plan"), QStringLiteral("average_ms"), QStringLiteral("answered"),
                             QStringLiteral("total")}};
    const QString plan = QString::fromStdString(FPlan);
    for (const TRunSummary& run : FRuns)
        rows.append({QString::number(run.Id), IsoTime(run.Started), IsoTime(run.Ended), plan,
                     run.Average ? FigureText(*run.Average) : QString(), QString::number(run.Answered),
                     QString::number(run.Total)});
    return rows;
}

void TfrmHistory::btnExportClick()
{
    ExportCsv(this, QStringLiteral("导出测速历史"), QStringLiteral("测速历史.csv"), RunRows());
}
