#include "dialogs/Itemdetails.h"

#include "dialogs/Dialogsetup.h"

#include "ui_Itemdetails.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace {

const QString kNone = QStringLiteral("--");
constexpr int kRowStep = 22;  // from one line of the heading to the next

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
    lvTries->setColumnWidth(0, 120);
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

    lvTries->clear();
    for (size_t i = 0; i < details.Tries.size(); ++i) {
        auto* row = new QTreeWidgetItem(lvTries);
        row->setText(0, QStringLiteral("第%1次").arg(i + 1));
        row->setText(1, TryTimeText(TimesOf(details.Tries)[i]));
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }

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
