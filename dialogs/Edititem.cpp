#include "dialogs/Edititem.h"

#include "dialogs/Dialogsetup.h"
#include "dialogs/Inputcheck.h"
#include "engine/Dnsdispinfo.h"
#include "engine/Measuretcp.h"
#include "vqlib/Dnsname.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Vqnet.h"
#include "vqlib/Vqwindows.h"

#include "ui_Edititem.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int kNameMaxBytes = 40;
constexpr int kDomainIPMaxBytes = 100;
constexpr int kHintDesignWidth = 24;
const QString kWrongStyle = QStringLiteral("color: #ff0000;");

const QString kTcpExamples = QStringLiteral("\n例如:www.example.com:443、192.168.1.1:80 或 [::1]:22");

struct TAddressKind {
    QString Text;
    bool Valid;
};

// A host as a lookup takes it: a name in ASCII, or one in another script
// that has an ASCII form.
bool IsHostName(const std::string& host)
{
    if (IsDnsName(host))
        return true;
    const QByteArray ace = QUrl::toAce(FromGbk(host), QUrl::AceTransitionalProcessing);
    return !ace.isEmpty() && IsDnsName(ace.toStdString());
}

bool IsTargetHost(const std::string& host) { return IsTargetLiteral(host) || IsHostName(host); }

// A web address a home-page item can fetch: http or https with a host.
bool IsWebAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

bool IsDnsServer(const std::string& address)
{
    return IsTargetLiteral(address, TBrackets::Allowed) || IsDnsName(address);
}

TTcpTargetFault TcpTargetFaultWithName(const std::string& address)
{
    const TTcpTargetFault fault = TcpTargetFault(address);
    if (fault != TTcpTargetFault::None)
        return fault;
    return IsTargetHost(ParseTcpTarget(address)->Host) ? fault : TTcpTargetFault::BadHost;
}

// Empty when address is a host:port a TCP connect can take, else what to tell.
QString TcpTargetProblem(const std::string& address)
{
    switch (TcpTargetFaultWithName(address)) {
    case TTcpTargetFault::NoPort:
        return QStringLiteral("TCP连接须在地址后写明端口,如 域名:端口。") + kTcpExamples;
    case TTcpTargetFault::BadPort:
        return QStringLiteral("端口须为1到65535之间的数字。") + kTcpExamples;
    case TTcpTargetFault::BadHost:
        return QStringLiteral("TCP连接的主机须为IP地址或域名,IPv6地址放在[]中。") + kTcpExamples;
    case TTcpTargetFault::None:
        break;
    }
    return QString();
}

// What the hint calls an address, as it was typed; a TCP item's by what its
// port lacks. Red for what the chosen method cannot take: a web address or a
// port only a home page or a TCP connect can use, a name only as a query's
// name field holds it for a DNS server.
TAddressKind AddressKind(const std::string& address, int doType)
{
    const bool homePage = doType == dtHomePage;
    if (address.find("://") != std::string::npos) {
        if (IsWebAddress(FromGbk(address)))
            return {QStringLiteral("(网址)"), homePage};
        return {QStringLiteral("(网址错)"), false};
    }
    const TTcpTargetFault tcpFault = TcpTargetFaultWithName(address);
    if (doType == dtTCPConnect) {
        switch (tcpFault) {
        case TTcpTargetFault::NoPort: return {QStringLiteral("(缺端口)"), false};
        case TTcpTargetFault::BadPort: return {QStringLiteral("(端口错)"), false};
        case TTcpTargetFault::BadHost: return {QStringLiteral("(主机错)"), false};
        case TTcpTargetFault::None: return {QStringLiteral("(带端口)"), true};
        }
    }
    if (IsTargetLiteral(address, TBrackets::Allowed))
        return {QStringLiteral("(IP地址)"), true};
    if (IsHostName(address))
        return {QStringLiteral("(域名)"), doType != dtDNSQuery || IsDnsServer(address)};
    if (tcpFault == TTcpTargetFault::None)
        return {QStringLiteral("(带端口)"), homePage};
    return {QStringLiteral("(地址错)"), false};
}

}  // namespace

TfrmEditItem::TfrmEditItem(QWidget* owner)
    : QDialog(owner, kInputDialogFlags), ui(std::make_unique<Ui::TfrmEditItem>())
{
    SetUpInputDialog(*this, *ui);
    Label1 = ui->Label1;
    edtName = ui->edtName;
    Label2 = ui->Label2;
    edtDomainIP = ui->edtDomainIP;
    lblHint = ui->lblHint;
    Label3 = ui->Label3;
    cbDoType = ui->cbDoType;
    btnConfirm = ui->btnConfirm;
    btnCancel = ui->btnCancel;

    LimitGbkEdit(edtName, kNameMaxBytes);
    LimitGbkEdit(edtDomainIP, kDomainIPMaxBytes);
    cbDoType->setCurrentIndex(0);

    connect(edtDomainIP, &QLineEdit::textChanged, this, [this] { edtDomainIPChange(); });
    connect(cbDoType, &QComboBox::currentIndexChanged, this, [this] { edtDomainIPChange(); });
    edtDomainIP->installEventFilter(this);
    edtDomainIPChange();
}

bool TfrmEditItem::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edtDomainIP && event->type() == QEvent::EnabledChange)
        edtDomainIPChange();
    return QDialog::eventFilter(watched, event);
}

TfrmEditItem::~TfrmEditItem() = default;

void TfrmEditItem::SetFieldText(QLineEdit* edit, const std::string& gbk)
{
    (edit == edtName ? FNameShown : FDomainIPShown) = gbk;
    edit->setText(FromGbk(gbk));
}

std::optional<std::string> TfrmEditItem::FieldText(const QLineEdit* edit) const
{
    const std::string& shown = edit == edtName ? FNameShown : FDomainIPShown;
    if (!shown.empty() && edit->text() == FromGbk(shown))
        return shown;
    return ToGbk(edit->text());
}

void TfrmEditItem::edtDomainIPChange()
{
    const auto text = FieldText(edtDomainIP);
    const std::string address = text ? TrimBlanks(*text) : std::string("?");
    // The placeholder of several items stands for their own addresses.
    if (address.empty() || !edtDomainIP->isEnabled()) {
        lblHint->clear();
        return;
    }
    const TAddressKind kind = AddressKind(address, cbDoType->currentIndex());
    lblHint->setText(kind.Text);
    lblHint->setStyleSheet(kind.Valid ? QString() : kWrongStyle);
    // The label grows with its text, as far as the window lets it show.
    lblHint->resize(std::max(kHintDesignWidth, lblHint->sizeHint().width()), lblHint->height());
}

void TfrmEditItem::btnConfirmClick()
{
    // A text GBK cannot hold is refused like one with a separator in it: the
    // store could not keep it.
    const auto nameText = FieldText(edtName);
    const std::string name = nameText ? TrimBlanks(*nameText) : std::string();
    if (nameText && name.empty()) {
        InfoBox(QStringLiteral("请输入测速项名称。\n名称用来方便你分辨该测速项。\n例如:谷歌(中国)"));
        edtName->setFocus();
        return;
    }
    if (!nameText || HasReservedChar(name)) {
        InfoBox(QStringLiteral("测速项名称不能含有=#^和回车字符。"));
        edtName->setFocus();
        return;
    }
    if (std::find(FItemNames.begin(), FItemNames.end(), name) != FItemNames.end()) {
        InfoBox(QStringLiteral("当前方案已经存在一个名为[") + FromGbk(name)
                + QStringLiteral("]的测速项。请另取名。"));
        edtName->clear();
        edtName->setFocus();
        return;
    }

    const auto addressText = FieldText(edtDomainIP);
    const std::string address = addressText ? TrimBlanks(*addressText) : std::string();
    if (addressText && address.empty()) {
        InfoBox(QStringLiteral("请输入域名或IP地址。\n例如:www.example.com 或 192.168.1.1"));
        edtDomainIP->setFocus();
        return;
    }
    if (!addressText || HasReservedChar(address)) {
        InfoBox(QStringLiteral("域名或IP地址不能含有=#^和回车字符。"));
        edtDomainIP->setFocus();
        return;
    }

    if (cbDoType->currentIndex() < 0) {
        InfoBox(QStringLiteral("请选择测速方式。 "));
        cbDoType->setFocus();
        return;
    }
    // A DNS server is asked by its address or by a name a lookup can take;
    // the placeholder of several items stands for their own addresses.
    if (cbDoType->currentIndex() == dtDNSQuery && edtDomainIP->isEnabled() && !IsDnsServer(address)) {
        InfoBox(QStringLiteral("DNS服务器须为IP地址或域名。\n例如:192.168.1.1、[::1] 或 dns.example.com"));
        edtDomainIP->setFocus();
        return;
    }

    if (cbDoType->currentIndex() == dtTCPConnect && edtDomainIP->isEnabled()) {
        if (const QString problem = TcpTargetProblem(address); !problem.isEmpty()) {
            InfoBox(problem);
            edtDomainIP->setFocus();
            return;
        }
    }

    FConfirmed = true;
    accept();
}

void TfrmEditItem::btnCancelClick() { reject(); }
