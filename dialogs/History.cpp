#include "dialogs/History.h"

#include "dialogs/Csvfile.h"
#include "dialogs/Itemdetails.h"

#include "ui_History.h"

#include <QAbstractTableModel>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileInfo>
#include <QHeaderView>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QValueAxis>

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

namespace {

using TSeries = std::vector<std::pair<THistoryDb::time_point, std::optional<double>>>;

// The overall line, and the items' lines by their place in the list, so
// that an item keeps its colour whatever is picked with it.
const QColor kOverallColour(30, 30, 30);
const QColor kItemColours[] = {{32, 159, 223}, {246, 166, 37}, {153, 202, 83}, {191, 89, 62}, {109, 95, 213},
                               {0, 150, 136},  {233, 30, 99},  {121, 85, 72},  {96, 125, 139}, {205, 220, 57}};

QPen LinePen(const QColor& colour, qreal width)
{
    QPen pen(colour);
    pen.setWidthF(width);
    return pen;
}

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

TfrmHistory::TfrmHistory(QWidget* owner, std::string path, std::string plan)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint
                         | Qt::WindowMaximizeButtonHint),
      ui(std::make_unique<Ui::TfrmHistory>()), FPath(std::move(path)), FPlan(std::move(plan)),
      FModel(new TRunsModel(this))
{
    ui->setupUi(this);
    dtpSince = ui->dtpSince;
    dtpUntil = ui->dtpUntil;
    btnShow = ui->btnShow;
    chartView = ui->chartView;
    lbItems = ui->lbItems;
    tvRuns = ui->tvRuns;
    lblPlan = ui->lblPlan;
    lblStatus = ui->lblStatus;
    btnExport = ui->btnExport;
    btnClose = ui->btnClose;

    lblPlan->setText(QStringLiteral("测速方案：%1").arg(QString::fromStdString(FPlan)));
    chartView->setRenderHint(QPainter::Antialiasing);
    ui->splChart->setStretchFactor(0, 4);
    ui->splChart->setStretchFactor(1, 1);
    tvRuns->setModel(FModel);
    tvRuns->verticalHeader()->hide();
    tvRuns->verticalHeader()->setDefaultSectionSize(tvRuns->fontMetrics().height() + 6);
    tvRuns->horizontalHeader()->setStretchLastSection(true);
    tvRuns->setColumnWidth(0, 160);
    tvRuns->setColumnWidth(1, 130);

    connect(btnShow, &QPushButton::clicked, this, [this] { ShowRange(dtpSince->date(), dtpUntil->date()); });
    connect(btnExport, &QPushButton::clicked, this, [this] { btnExportClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(lbItems, &QListWidget::itemChanged, this, [this](QListWidgetItem* entry) { lbItemsChanged(entry); });

    const QDate today = QDate::currentDate();
    ShowRange(today.addDays(1 - kDefaultDays), today);
}

TfrmHistory::~TfrmHistory() = default;

bool TfrmHistory::OpenHistory()
{
    if (FDb)
        return true;
    // Looking must not leave an empty history behind.
    if (!QFileInfo::exists(QString::fromStdString(FPath))) {
        lblStatus->setText(QStringLiteral("还没有记录过测速。"));
        return false;
    }
    try {
        FDb = std::make_unique<THistoryDb>(FPath);
        return true;
    } catch (const THistoryError& error) {
        lblStatus->setText(QStringLiteral("无法读取测速历史：%1").arg(QString::fromUtf8(error.what())));
        return false;
    }
}

void TfrmHistory::ShowRange(QDate since, QDate until)
{
    if (until < since)
        std::swap(since, until);
    dtpSince->setDate(since);
    dtpUntil->setDate(until);
    FSince = StartOfDay(since);
    FUntil = StartOfDay(until.addDays(1));
    FRuns.clear();
    if (OpenHistory()) {
        try {
            FRuns = FDb->Runs(FPlan, FSince, FUntil);
            lblStatus->setText(QStringLiteral("共%1次测速").arg(FRuns.size()));
        } catch (const THistoryError& error) {
            lblStatus->setText(QStringLiteral("无法读取测速历史：%1").arg(QString::fromUtf8(error.what())));
        }
    }
    FModel->SetRuns(&FRuns);
    if (!FRuns.empty())
        tvRuns->scrollToBottom();
    btnExport->setEnabled(!FRuns.empty());
    FillItems();
    DrawChart();
}

void TfrmHistory::FillItems()
{
    const QSignalBlocker blocker(lbItems);
    lbItems->clear();
    std::vector<std::string> names;
    if (FDb && !FRuns.empty()) {
        try {
            names = FDb->ItemNames(FPlan, FSince, FUntil);
        } catch (const THistoryError&) {
            // The runs were read; only their items are missing from the list.
        }
    }
    for (const std::string& name : names) {
        auto* entry = new QListWidgetItem(QString::fromStdString(name), lbItems);
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
            AddItemLine(name);
    } else if (FPicked.erase(name)) {
        QChart* chart = chartView->chart();
        for (QAbstractSeries* series : chart->series())
            if (series->property(kItemProperty).toString() == entry->text()) {
                chart->removeSeries(series);
                delete series;
            }
    }
    FitValueAxis();
}

void TfrmHistory::AddItemLine(const std::string& name)
{
    if (!FDb)
        return;
    try {
        const TSeries series = FDb->ItemSeries(FPlan, name, FSince, FUntil);
        QChart* chart = chartView->chart();
        const QList<QAbstractSeries*> before = chart->series();
        const QList<QListWidgetItem*> entries =
            lbItems->findItems(QString::fromStdString(name), Qt::MatchExactly | Qt::MatchCaseSensitive);
        const int place = entries.isEmpty() ? 0 : lbItems->row(entries.first());
        AddBrokenLine(*chart, QString::fromStdString(name), series, *FTimeAxis, *FValueAxis,
                      LinePen(kItemColours[size_t(place) % std::size(kItemColours)], 1.5));
        for (QAbstractSeries* added : chart->series())
            if (!before.contains(added))
                added->setProperty(kItemProperty, QString::fromStdString(name));
    } catch (const THistoryError& error) {
        lblStatus->setText(QStringLiteral("无法读取测速历史：%1").arg(QString::fromUtf8(error.what())));
    }
}

void TfrmHistory::FitValueAxis()
{
    double top = 0;
    for (QAbstractSeries* series : chartView->chart()->series())
        for (const QPointF& point : static_cast<QLineSeries*>(series)->points())
            top = std::max(top, point.y());
    FValueAxis->setRange(0, top > 0 ? top * 1.1 : 1.0);
}

void TfrmHistory::DrawChart()
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
    x->setTickCount(6);
    const qint64 shownDays = x->min().daysTo(x->max());
    x->setFormat(shownDays < 1 ? QStringLiteral("HH:mm") : shownDays < 7 ? QStringLiteral("MM-dd HH:mm")
                                                                          : QStringLiteral("yyyy-MM-dd"));
    auto* y = new QValueAxis(chart);
    y->setTitleText(QStringLiteral("平均耗时(毫秒)"));
    y->setLabelFormat(QStringLiteral("%.1f"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    FTimeAxis = x;
    FValueAxis = y;

    TSeries overall;
    overall.reserve(FRuns.size());
    for (const TRunSummary& run : FRuns)
        overall.emplace_back(run.Started, run.Average);
    AddBrokenLine(*chart, QStringLiteral("总平均耗时"), overall, *x, *y, LinePen(kOverallColour, 2.5));

    QChart* old = chartView->chart();
    chartView->setChart(chart);
    delete old;
    for (const std::string& name : FPicked)
        AddItemLine(name);
    FitValueAxis();
}

QList<QStringList> TfrmHistory::RunRows() const
{
    // Answered and total apart: "18/20" would read as a date in a spreadsheet.
    QList<QStringList> rows{{QStringLiteral("测速时间"), QStringLiteral("总平均耗时(毫秒)"), QStringLiteral("响应数"),
                             QStringLiteral("总数")}};
    for (const TRunSummary& run : FRuns)
        rows.append({RunTimeText(run.Started), run.Average ? FigureText(*run.Average) : QString(),
                     QString::number(run.Answered), QString::number(run.Total)});
    return rows;
}

void TfrmHistory::btnExportClick()
{
    ExportCsv(this, QStringLiteral("导出测速历史"), QStringLiteral("测速历史.csv"), RunRows());
}
