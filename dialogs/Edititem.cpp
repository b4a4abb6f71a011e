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
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {

constexpr int kNameMaxBytes = 40;
constexpr int kDomainIPMaxBytes = 100;
constexpr int kHintDesignWidth = 24;

const QString kTcpExamples = QStringLiteral("\n例如:www.example.com:443、192.168.1.1:80 或 [::1]:22");

bool IsDnsServer(const std::string& address)
{
    return IsTargetLiteral(address, TBrackets::Allowed) || IsDnsName(address);
}

TTcpTargetFault TcpTargetFaultWithName(const std::string& address)
{
    const TTcpTargetFault fault = TcpTargetFault(address);
    if (fault != TTcpTargetFault::None)
        return fault;
    const std::string host = ParseTcpTarget(address)->Host;
    return IsTargetLiteral(host) || IsDnsName(host) ? fault : TTcpTargetFault::BadHost;
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

// What the hint calls an address; a TCP target by its host, a port missing
// or wrong as such.
QString AddressKind(const std::string& address, bool tcp)
{
    if (!tcp)
        return IsTargetLiteral(address, TBrackets::Allowed) ? QStringLiteral("(IP地址)") : QStringLiteral("(域名)");
    switch (TcpTargetFault(address)) {
    case TTcpTargetFault::NoPort: return QStringLiteral("(缺端口)");
    case TTcpTargetFault::BadPort: return QStringLiteral("(端口错)");
    default: break;
    }
    const std::optional<TTcpTarget> target = ParseTcpTarget(address);
    return target && IsTargetLiteral(target->Host) ? QStringLiteral("(IP地址)") : QStringLiteral("(域名)");
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
    edtDomainIPChange();
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
    // The placeholder of several items is no address of any method.
    const bool tcp = cbDoType->currentIndex() == dtTCPConnect && edtDomainIP->isEnabled();
    lblHint->setText(address.empty() ? QString() : AddressKind(address, tcp));
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
