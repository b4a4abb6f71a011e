#include "dialogs/Edititem.h"

#include "dialogs/Dialogsetup.h"
#include "dialogs/Inputcheck.h"
#include "engine/Dnsdispinfo.h"
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

bool IsDnsServer(const std::string& address)
{
    return IsTargetLiteral(address, TBrackets::Allowed) || IsDnsName(address);
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
    if (address.empty())
        lblHint->setText(QString());
    else if (IsTargetLiteral(address, TBrackets::Allowed))  // a web address brackets IPv6
        lblHint->setText(QStringLiteral("(IP地址)"));
    else
        lblHint->setText(QStringLiteral("(域名)"));
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

    FConfirmed = true;
    accept();
}

void TfrmEditItem::btnCancelClick() { reject(); }
