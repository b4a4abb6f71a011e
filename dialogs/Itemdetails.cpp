#include "dialogs/Itemdetails.h"

#include "dialogs/Dialogsetup.h"
#include "engine/Httpfigures.h"

#include "ui_Itemdetails.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

namespace {

const QString kNone = QStringLiteral("--");
constexpr int kRowStep = 22;  // from one line of the heading to the next

// The list's columns; those of a home page's answer are shown for home pages only.
enum TColumn { kOrder, kTime, kResolve, kConnect, kTls, kProcessing, kTransfer, kStatus, kBytes, kRate, kNote };
constexpr TColumn kHttpColumns[] = {kResolve, kConnect, kTls, kProcessing, kTransfer, kStatus, kBytes, kRate};
constexpr int kHttpColumnWidth[] = {52, 52, 52, 52, 52, 50, 64, 72};

int HttpColumnsWidth()
{
    int width = 0;
    for (int each : kHttpColumnWidth)
        width += each;
    return width;
}

QString PhaseText(std::chrono::microseconds phase) { return TryTimeText(phase); }

// Plain http has no TLS phase to speak of, not one of no time.
QString MeanText(double milliseconds) { return QString::number(milliseconds, 'f', 3); }

// A try not made (the run was stopped) has nothing to say but that.
QString NoteText(const std::optional<TTryOutcome>& outcome)
{
    if (!outcome)
        return QStringLiteral("未进行");
    return QString::fromStdString(CauseText(*outcome));
}

}  // namespace

QString TryTimeText(const std::optional<std::chrono::microseconds>& time)
{
    if (!time)
        return QStringLiteral("失败");
    return QString::number(double(time->count()) / 1000.0, 'f', 3);
}

QString FigureText(double milliseconds) { return QString::number(milliseconds, 'f', 2); }

TfrmItemDetails::TfrmItemDetails(QWidget* owner)
    : QDialog(owner, kInputDialogFlags), ui(std::make_unique<Ui::TfrmItemDetails>())
{
    SetUpFixedDialog(*this, *ui);
    lblName = ui->lblName;
    lblHost = ui->lblHost;
    lblMethod = ui->lblMethod;
    lblAddress = ui->lblAddress;
    lblQueryName = ui->lblQueryName;
    lvTries = ui->lvTries;
    lblFastest = ui->lblFastest;
    lblMean = ui->lblMean;
    lblSlowest = ui->lblSlowest;
    lblStdDev = ui->lblStdDev;
    btnClose = ui->btnClose;
    lvTries->setColumnWidth(kOrder, 56);
    lvTries->setColumnWidth(kTime, 80);
    for (size_t i = 0; i < std::size(kHttpColumns); ++i) {
        lvTries->setColumnWidth(kHttpColumns[i], kHttpColumnWidth[i]);
        lvTries->setColumnHidden(kHttpColumns[i], true);
    }
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmItemDetails::~TfrmItemDetails() = default;

void TfrmItemDetails::ShowDetails(const TItemDetails& details)
{
    lblName->setText(details.Name);
    lblHost->setText(details.Host);
    lblMethod->setText(details.Method);
    lblAddress->setText(details.Address.isEmpty() ? QStringLiteral("未解析") : details.Address);
    ShowQueryName(details.QueryName);
    ShowHttpColumns(details.HomePage);
    FHttps = details.Https;

    lvTries->clear();
    for (size_t i = 0; i < details.Tries.size(); ++i)
        AddTryRow(int(i), details.Tries[i]);
    if (details.HomePage)
        AddMeansRow(details.Tries);

    const std::optional<TTryFigures> figures = TryFigures(TimesOf(details.Tries));
    lblFastest->setText(figures ? FigureText(figures->Fastest) : kNone);
    lblMean->setText(figures ? FigureText(figures->Mean) : kNone);
    lblSlowest->setText(figures ? FigureText(figures->Slowest) : kNone);
    lblStdDev->setText(figures ? FigureText(figures->StdDev) : kNone);
}

// The line takes room only when shown: what lies below moves down a line
// and the dialog grows by as much.
void TfrmItemDetails::ShowQueryName(const QString& name)
{
    lblQueryName->setText(name);
    const bool shown = !name.isEmpty();
    if (shown == FQueryNameShown)
        return;
    FQueryNameShown = shown;
    ui->Label9->setVisible(shown);
    lblQueryName->setVisible(shown);
    const int shift = shown ? kRowStep : -kRowStep;
    for (QWidget* below : {static_cast<QWidget*>(lvTries), static_cast<QWidget*>(ui->gbFigures),
                           static_cast<QWidget*>(btnClose)})
        below->move(below->x(), below->y() + shift);
    setFixedSize(width(), height() + shift);
}

void TfrmItemDetails::AddTryRow(int index, const std::optional<TTryOutcome>& outcome)
{
    auto* row = new QTreeWidgetItem(lvTries);
    row->setText(kOrder, QStringLiteral("第%1次").arg(index + 1));
    row->setText(kTime, TryTimeText(outcome && outcome->Ok ? std::optional(outcome->Elapsed) : std::nullopt));
    row->setText(kNote, NoteText(outcome));
    if (outcome && outcome->Http) {
        const THttpTry& http = *outcome->Http;
        row->setText(kResolve, PhaseText(http.Resolve));
        row->setText(kConnect, PhaseText(http.Connect));
        row->setText(kTls, FHttps ? PhaseText(http.Tls) : kNone);
        row->setText(kProcessing, PhaseText(http.Processing));
        row->setText(kTransfer, PhaseText(http.Transfer));
        row->setText(kStatus, http.Status ? QString::number(http.Status) : kNone);
        row->setText(kBytes, QString::number(http.BodyBytes));
        const std::optional<double> rate = RateKBps(http);
        row->setText(kRate, rate ? QString::number(*rate, 'f', 1) : kNone);
    }
    for (int column = kTime; column < kNote; ++column)
        row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
}

// The phases on average over the answered tries, under the tries.
void TfrmItemDetails::AddMeansRow(const TTryOutcomes& tries)
{
    const std::optional<THttpFigures> means = HttpFigures(tries);
    if (!means)
        return;
    auto* row = new QTreeWidgetItem(lvTries);
    row->setText(kOrder, QStringLiteral("平均"));
    if (const std::optional<TTryFigures> figures = TryFigures(TimesOf(tries)))
        row->setText(kTime, MeanText(figures->Mean));
    for (size_t phase = 0; phase < kHttpPhases.size(); ++phase)
        row->setText(kResolve + int(phase), MeanText(means->PhaseMs[phase]));
    if (!FHttps)
        row->setText(kTls, kNone);
    if (means->RateKBps)
        row->setText(kRate, QString::number(*means->RateKBps, 'f', 1));
    for (int column = kTime; column < kNote; ++column)
        row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
}

// A home page's columns widen the list and the dialog by as much; the
// close button keeps to the right edge.
void TfrmItemDetails::ShowHttpColumns(bool shown)
{
    if (shown == FHttpColumnsShown)
        return;
    FHttpColumnsShown = shown;
    for (TColumn column : kHttpColumns)
        lvTries->setColumnHidden(column, !shown);
    const int shift = shown ? HttpColumnsWidth() : -HttpColumnsWidth();
    lvTries->resize(lvTries->width() + shift, lvTries->height());
    btnClose->move(btnClose->x() + shift, btnClose->y());
    setFixedSize(width() + shift, height());
}
