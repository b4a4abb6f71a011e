#include "dialogs/Pathtrace.h"

#include "dialogs/Dialogsetup.h"
#include "engine/Hostresolution.h"
#include "engine/Measurehomepage.h"
#include "engine/Measuretcp.h"
#include "engine/Pathtable.h"
#include "vqlib/Gbk.h"
#include "vqlib/Vqnet.h"
#include "vqlib/Vqwindows.h"

#include "ui_Pathtrace.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>

#include <netdb.h>

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

namespace {

THook<TPathTraceDialog::TSetup> SetupHook;

enum TColumn { kHop, kAddress, kLoss, kSent, kLast, kMean, kBest, kWorst, kStdDev, kColumns };
constexpr int kColumnWidths[kColumns] = {40, 220, 72, 52, 72, 72, 72, 72, 84};

// A literal as the system reads it, loose IPv4 forms and IPv6 zones
// included; AI_NUMERICHOST asks no name server.
bool LiteralAddress(const std::string& text, sockaddr_storage& address)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (text.find('\0') != std::string::npos || getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0)
        return false;
    const bool usable = found != nullptr && found->ai_addrlen <= sizeof address
        && (found->ai_family == AF_INET || found->ai_family == AF_INET6);
    if (usable) {
        address = {};
        std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    }
    freeaddrinfo(found);
    return usable;
}

// Wide characters take two places in a fixed-width font.
int DisplayWidth(const QString& text)
{
    int width = 0;
    for (const QChar ch : text) {
        const char16_t code = ch.unicode();
        const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF)
            || (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF)
            || (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60)
            || (code >= 0xFFE0 && code <= 0xFFE6);
        width += wide ? 2 : 1;
    }
    return width;
}

}  // namespace

std::string TraceHost(const TDNSDispInfo& item)
{
    const std::string typed = GbkToUtf8(item.DomainIP);
    if (item.DoType == dtHomePage) {
        const QUrl url(QString::fromStdString(HomePageURL(typed)));
        return url.host(QUrl::EncodeUnicode).toStdString();
    }
    if (item.DoType == dtTCPConnect) {
        const std::optional<TTcpTarget> target = ParseTcpTarget(typed);
        return target ? target->Host : typed;
    }
    if (typed.size() > 2 && typed.front() == '[' && IsTargetLiteral(typed, TBrackets::Allowed))
        return typed.substr(1, typed.size() - 2);
    return typed;
}

// The address column reads from the left, the figures from the right.
QString AlignedText(const QList<QStringList>& rows)
{
    std::vector<int> widths;
    for (const QStringList& row : rows) {
        widths.resize(std::max(widths.size(), size_t(row.size())), 0);
        for (int column = 0; column < row.size(); ++column)
            widths[size_t(column)] = std::max(widths[size_t(column)], DisplayWidth(row[column]));
    }
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column) {
            const QString padding(widths[size_t(column)] - DisplayWidth(row[column]), QLatin1Char(' '));
            if (column > 0)
                line += QStringLiteral("  ");
            line += column == kAddress ? row[column] + padding : padding + row[column];
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

TPathTraceDialog::TSetupScope::TSetupScope(TSetup setup) : FScope(SetupHook, setup) {}

TPathTraceDialog::TPathTraceDialog(QWidget* owner, const QString& itemName, std::string host)
    : QDialog(owner, kInputDialogFlags), ui(std::make_unique<Ui::TfrmPathTrace>()), FSetup(SetupHook.Get()),
      FHost(std::move(host))
{
    SetUpFixedDialog(*this, *ui);
    lblTarget = ui->lblTarget;
    lblAddress = ui->lblAddress;
    tblHops = ui->tblHops;
    lblStatus = ui->lblStatus;
    btnStop = ui->btnStop;
    btnRestart = ui->btnRestart;
    btnCopy = ui->btnCopy;
    btnClose = ui->btnClose;
    setWindowTitle(QStringLiteral("路由跟踪 - ") + itemName);
    lblTarget->setText(QString::fromStdString(FHost));
    FAddressKnown = LiteralAddress(FHost, FAddress);
    lblAddress->setText(FAddressKnown ? QString::fromStdString(AddressText(FAddress)) : QStringLiteral("--"));
    for (int column = 0; column < kColumns; ++column)
        tblHops->setColumnWidth(column, kColumnWidths[column]);
    tblHops->verticalHeader()->hide();
    ShowRunning(false);
    connect(btnStop, &QPushButton::clicked, this, [this] { Guarded([this] { btnStopClick(); }); });
    connect(btnRestart, &QPushButton::clicked, this, [this] { Guarded([this] { Start(); }); });
    connect(btnCopy, &QPushButton::clicked, this, [this] { Guarded([this] { btnCopyClick(); }); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

// The trace goes first: its updates post to this dialog until it is gone.
TPathTraceDialog::~TPathTraceDialog()
{
    FTrace.reset();
    FResolution.reset();
}

void TPathTraceDialog::done(int result)
{
    FTrace.reset();
    FResolution.reset();
    QDialog::done(result);
}

// Nothing a click sets off may reach the event loop.
void TPathTraceDialog::Guarded(const std::function<void()>& slot)
{
    try {
        slot();
    } catch (const std::exception& e) {
        Failed(QString::fromUtf8(e.what()));
    } catch (...) {
        Failed(QStringLiteral("无法跟踪"));
    }
}

void TPathTraceDialog::Start()
{
    FTrace.reset();
    FResolution.reset();
    if (FAddressKnown) {
        StartTrace();
        return;
    }
    ShowRunning(true);
    lblStatus->setText(QStringLiteral("正在解析域名..."));
    auto lookup = THostResolution::SystemLookup();
    FResolution = std::make_unique<THostResolution>(
        std::vector<std::string>{FHost}, std::move(lookup), [this](THostResolution::TAddresses addresses) {
            Guarded([&] { AddressResolved(addresses.empty() ? std::nullopt : addresses.front()); });
        });
}

void TPathTraceDialog::AddressResolved(const std::optional<std::string>& address)
{
    if (!address || !LiteralAddress(*address, FAddress)) {
        Failed(QStringLiteral("域名解析失败"));
        return;
    }
    FAddressKnown = true;
    lblAddress->setText(QString::fromStdString(AddressText(FAddress)));
    StartTrace();
}

void TPathTraceDialog::StartTrace()
{
    const uint64_t generation = ++FGeneration;
    tblHops->setRowCount(0);
    ShowRunning(true);
    lblStatus->setText(QString::fromStdString(PathStateText(TPathReport(), FSetup.Rounds)));
    TPathSetup setup;
    setup.Target = FAddress;
    setup.MaxHops = FSetup.MaxHops;
    setup.Rounds = FSetup.Rounds;
    setup.Interval = FSetup.Interval;
    setup.Timeout = FSetup.Timeout;
    // On the try loop's thread: only the copy of the report crosses over,
    // and a report of an earlier trace is not shown.
    auto update = [this, generation](const TPathReport& report) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, report] {
                Guarded([&] {
                    if (generation == FGeneration)
                        ShowReport(report);
                });
            },
            Qt::QueuedConnection);
    };
    try {
        FTrace = std::make_unique<TPathTrace>(setup, std::move(update));
    } catch (const std::system_error& e) {
        Failed(QStringLiteral("无法跟踪：%1").arg(QString::fromUtf8(e.what())));
    }
}

void TPathTraceDialog::btnStopClick()
{
    btnStop->setEnabled(false);
    if (FTrace) {
        FTrace->Stop();  // its last report says so
        return;
    }
    FResolution.reset();
    Failed(QStringLiteral("已停止"));
}

void TPathTraceDialog::Failed(const QString& why)
{
    lblStatus->setText(why);
    ShowRunning(false);
}

void TPathTraceDialog::ShowRunning(bool running)
{
    btnStop->setEnabled(running);
    btnRestart->setEnabled(!running);
}

void TPathTraceDialog::ShowReport(const TPathReport& report)
{
    tblHops->setRowCount(0);
    for (const TPathRow& row : PathTableRows(report))
        AddRow(row);
    ShowRunning(!report.Finished);
    lblStatus->setText(QString::fromStdString(PathStateText(report, FSetup.Rounds)));
}

// A hop's further addresses have lines of their own, with the address only.
void TPathTraceDialog::AddRow(const std::vector<std::string>& texts)
{
    const int row = tblHops->rowCount();
    tblHops->insertRow(row);
    for (int column = 0; column < kColumns; ++column) {
        const size_t at = size_t(column);
        auto* cell = new QTableWidgetItem(at < texts.size() ? QString::fromStdString(texts[at]) : QString());
        cell->setTextAlignment(column == kAddress ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
        tblHops->setItem(row, column, cell);
    }
}

QString TPathTraceDialog::TableText() const
{
    QList<QStringList> rows;
    QStringList header;
    for (int column = 0; column < tblHops->columnCount(); ++column)
        header << tblHops->horizontalHeaderItem(column)->text();
    rows << header;
    for (int row = 0; row < tblHops->rowCount(); ++row) {
        QStringList texts;
        for (int column = 0; column < tblHops->columnCount(); ++column) {
            const QTableWidgetItem* cell = tblHops->item(row, column);
            texts << (cell ? cell->text() : QString());
        }
        rows << texts;
    }
    return AlignedText(rows);
}

void TPathTraceDialog::btnCopyClick() { QGuiApplication::clipboard()->setText(TableText()); }
