#include "dialogs/Edititem.h"

#include "Dialogscript.h"
#include "engine/Dnsdispinfo.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString kEmptyName = QStringLiteral("请输入测速项名称。\n名称用来方便你分辨该测速项。\n例如:谷歌(中国)");
const QString kBadName = QStringLiteral("测速项名称不能含有=#^和回车字符。");
const QString kEmptyAddress = QStringLiteral("请输入域名或IP地址。\n例如:www.example.com 或 192.168.1.1");
const QString kBadAddress = QStringLiteral("域名或IP地址不能含有=#^和回车字符。");
const QString kNoMethod = QStringLiteral("请选择测速方式。 ");
const QString kBadDnsServer = QStringLiteral("DNS服务器须为IP地址或域名。\n例如:192.168.1.1、[::1] 或 dns.example.com");
const QString kTcpExamples = QStringLiteral("\n例如:www.example.com:443、192.168.1.1:80 或 [::1]:22");
const QString kTcpNoPort = QStringLiteral("TCP连接须在地址后写明端口,如 域名:端口。") + kTcpExamples;
const QString kTcpBadPort = QStringLiteral("端口须为1到65535之间的数字。") + kTcpExamples;
const QString kTcpBadHost = QStringLiteral("TCP连接的主机须为IP地址或域名,IPv6地址放在[]中。") + kTcpExamples;

}  // namespace

class TestEditItem : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmEditItem> Dialog;

    // The dialog filled and shown, its confirmation pressed once.
    QStringList ConfirmWith(const QString& name, const QString& address, int doType)
    {
        Dialog->edtName->setText(name);
        Dialog->edtDomainIP->setText(address);
        Dialog->cbDoType->setCurrentIndex(doType);
        TBoxScript boxes;
        boxes.Answer({IDOK});
        Dialog->btnConfirm->click();
        return boxes.Texts();
    }

    // A fresh dialog under exec(), a name and an address filled in: whether
    // act leaves it confirmed.
    static bool ConfirmedUnderExec(const std::function<void(TfrmEditItem&)>& act)
    {
        TfrmEditItem dialog(nullptr);
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [act](TfrmEditItem& d) {
            d.edtName->setText(QStringLiteral("n"));
            d.edtDomainIP->setText(QStringLiteral("h"));
            act(d);
        });
        dialog.exec();
        return dialog.FConfirmed;
    }

private slots:
    void init()
    {
        Dialog = std::make_unique<TfrmEditItem>(nullptr);
        Dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(Dialog.get()));
    }
    void cleanup() { Dialog.reset(); }

    void layoutAsDesigned()
    {
        TfrmEditItem& d = *Dialog;
        QCOMPARE(d.objectName(), QStringLiteral("frmEditItem"));
        QCOMPARE(d.windowTitle(), QStringLiteral("增加测速项"));
        QCOMPARE(d.size(), QSize(294, 147));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        QCOMPARE(d.font().family(), QStringLiteral("宋体"));
        QCOMPARE(d.font().pointSize(), 9);

        QCOMPARE(d.Label1->geometry(), QRect(62, 18, 54, 12));
        QCOMPARE(d.edtName->geometry(), QRect(117, 13, 166, 20));
        QCOMPARE(d.Label2->geometry(), QRect(14, 51, 102, 12));
        QCOMPARE(d.edtDomainIP->geometry(), QRect(117, 45, 126, 20));
        QCOMPARE(d.lblHint->geometry(), QRect(248, 51, 24, 12));
        QCOMPARE(d.Label3->geometry(), QRect(38, 85, 78, 12));
        QCOMPARE(d.cbDoType->geometry(), QRect(117, 78, 126, 20));
        QCOMPARE(d.btnConfirm->geometry(), QRect(94, 110, 87, 25));
        QCOMPARE(d.btnCancel->geometry(), QRect(196, 110, 87, 25));

        QCOMPARE(d.Label1->text(), QStringLiteral("名称(&N)："));
        QCOMPARE(d.Label2->text(), QStringLiteral("域名或IP地址(&I)："));
        QCOMPARE(d.Label3->text(), QStringLiteral("测速方式(&T)："));
        QCOMPARE(d.Label1->buddy(), d.edtName);
        QCOMPARE(d.Label2->buddy(), d.edtDomainIP);
        QCOMPARE(d.Label3->buddy(), d.cbDoType);
        QCOMPARE(d.btnConfirm->text(), QStringLiteral("确定(&Y)"));
        QCOMPARE(d.btnCancel->text(), QStringLiteral("取消(&C)"));

        QCOMPARE(d.cbDoType->count(), 4);
        QCOMPARE(d.cbDoType->itemText(dtPing), QStringLiteral("Ping"));
        QCOMPARE(d.cbDoType->itemText(dtHomePage), QStringLiteral("取首页内容"));
        QCOMPARE(d.cbDoType->itemText(dtDNSQuery), QStringLiteral("DNS查询"));
        QCOMPARE(d.cbDoType->itemText(dtTCPConnect), QStringLiteral("TCP连接"));
        QCOMPARE(d.cbDoType->currentIndex(), 0);
        QVERIFY(!d.cbDoType->isEditable());
        QVERIFY(d.lblHint->text().isEmpty());
        QCOMPARE(d.lblHint->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(d.lblHint->font().family(), QStringLiteral("宋体"));
        QVERIFY(d.FItemNames.empty());
        QVERIFY(!d.FConfirmed);

        const QList<QWidget*> tabOrder{d.edtName, d.edtDomainIP, d.cbDoType, d.btnConfirm, d.btnCancel};
        for (int i = 0; i + 1 < tabOrder.size(); ++i)
            QCOMPARE(NextTabStop(tabOrder[i]), tabOrder[i + 1]);
    }

    // What was typed, with Ping chosen: red only for what Ping cannot take.
    void addressKindHint_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("red");
        QTest::newRow("empty") << "" << "" << true;
        QTest::newRow("blanks") << "   " << "" << true;
        QTest::newRow("dotted") << "192.168.0.1" << "(IP地址)" << false;
        QTest::newRow("dotted with blanks") << " 192.168.0.1 " << "(IP地址)" << false;
        QTest::newRow("one part") << "10" << "(IP地址)" << false;
        QTest::newRow("hex and octal") << "0x7f.010.1" << "(IP地址)" << false;
        QTest::newRow("host") << "www.example.com" << "(域名)" << false;
        QTest::newRow("host in Chinese") << "例子.测试" << "(域名)" << false;
        QTest::newRow("all ones") << "255.255.255.255" << "(域名)" << false;
        QTest::newRow("five parts") << "1.2.3.4.5" << "(域名)" << false;
        QTest::newRow("IPv6 loopback") << "::1" << "(IP地址)" << false;
        QTest::newRow("IPv6 with blanks") << " 2001:db8::1 " << "(IP地址)" << false;
        QTest::newRow("IPv6 in brackets") << "[::1]" << "(IP地址)" << false;
        QTest::newRow("IPv6 with a zone") << "fe80::1%lo" << "(IP地址)" << false;
        QTest::newRow("host and port") << "127.0.0.1:18080" << "(带端口)" << true;
        QTest::newRow("IPv6 and port") << "[::1]:8080" << "(带端口)" << true;
        QTest::newRow("web address") << "https://127.0.0.1/" << "(网址)" << true;
        QTest::newRow("web address with port") << "http://www.example.com:8080/a?b=c" << "(网址)" << true;
        QTest::newRow("open bracket") << "http://[::1" << "(网址错)" << true;
        QTest::newRow("other scheme") << "ftp://www.example.com/" << "(网址错)" << true;
        QTest::newRow("no host") << "http://" << "(网址错)" << true;
        QTest::newRow("not IPv6") << "1::2::3" << "(地址错)" << true;
        QTest::newRow("placeholder typed") << "*多项值*" << "(地址错)" << true;
        QTest::newRow("blank inside") << "a b" << "(地址错)" << true;
        QTest::newRow("port 0") << "127.0.0.1:0" << "(地址错)" << true;
    }
    void addressKindHint()
    {
        QFETCH(QString, address);
        QFETCH(QString, hint);
        QFETCH(bool, red);
        Dialog->edtDomainIP->setText(QStringLiteral("x"));
        Dialog->edtDomainIP->setText(address);
        QCOMPARE(Dialog->lblHint->text(), hint);
        if (!hint.isEmpty())
            QCOMPARE(Dialog->lblHint->palette().color(QPalette::WindowText) == QColor(Qt::red), red);
    }

    // The same text is the same kind for every method; its colour says
    // whether the chosen method can take it.
    void hintColourFollowsTheMethod_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("doType");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("red");
        QTest::newRow("page at a web address") << "https://127.0.0.1:18080/" << int(dtHomePage) << "(网址)" << false;
        QTest::newRow("page at host:port") << "127.0.0.1:18080" << int(dtHomePage) << "(带端口)" << false;
        QTest::newRow("page at a host") << "www.example.com" << int(dtHomePage) << "(域名)" << false;
        QTest::newRow("DNS server by address") << "127.0.0.53" << int(dtDNSQuery) << "(IP地址)" << false;
        QTest::newRow("DNS server by name") << "dns.example.com" << int(dtDNSQuery) << "(域名)" << false;
        QTest::newRow("DNS server in Chinese") << "例子.测试" << int(dtDNSQuery) << "(域名)" << true;
        QTest::newRow("DNS server and port") << "127.0.0.1:53" << int(dtDNSQuery) << "(带端口)" << true;
        QTest::newRow("TCP to a web address") << "http://127.0.0.1/" << int(dtTCPConnect) << "(网址)" << true;
    }
    void hintColourFollowsTheMethod()
    {
        QFETCH(QString, address);
        QFETCH(int, doType);
        QFETCH(QString, hint);
        QFETCH(bool, red);
        Dialog->edtDomainIP->setText(address);
        Dialog->cbDoType->setCurrentIndex(doType);
        QCOMPARE(Dialog->lblHint->text(), hint);
        QCOMPARE(Dialog->lblHint->palette().color(QPalette::WindowText) == QColor(Qt::red), red);
    }

    void hintFollowsTyping()
    {
        Dialog->edtDomainIP->setFocus();
        QTest::keyClicks(Dialog->edtDomainIP, QStringLiteral("10"));
        QCOMPARE(Dialog->lblHint->text(), QStringLiteral("(IP地址)"));
        QTest::keyClicks(Dialog->edtDomainIP, QStringLiteral("x"));
        QCOMPARE(Dialog->lblHint->text(), QStringLiteral("(域名)"));
        QTest::keyClick(Dialog->edtDomainIP, Qt::Key_Backspace);
        QTest::keyClick(Dialog->edtDomainIP, Qt::Key_Backspace);
        QTest::keyClick(Dialog->edtDomainIP, Qt::Key_Backspace);
        QCOMPARE(Dialog->lblHint->text(), QString());
    }

    // Each failing check shows its message, focuses its control and keeps
    // the dialog open; the first failing check wins.
    void checksInOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("doType");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("empty name beats everything") << "" << "a^b" << -1 << kEmptyName << "edtName";
        QTest::newRow("blank name") << "  \t " << "h" << 0 << kEmptyName << "edtName";
        QTest::newRow("equals in name") << "a=b" << "" << 0 << kBadName << "edtName";
        QTest::newRow("hash in name") << "a#b" << "h" << 0 << kBadName << "edtName";
        QTest::newRow("caret in name") << "^" << "h" << 0 << kBadName << "edtName";
        QTest::newRow("trail byte 0x5E in name") << "區域" << "h" << 0 << kBadName << "edtName";
        QTest::newRow("empty address") << "n" << "" << -1 << kEmptyAddress << "edtDomainIP";
        QTest::newRow("blank address") << "n" << "   " << 0 << kEmptyAddress << "edtDomainIP";
        QTest::newRow("caret in address") << "n" << "a^b" << 0 << kBadAddress << "edtDomainIP";
        QTest::newRow("hash in address") << "n" << "a#" << 0 << kBadAddress << "edtDomainIP";
        QTest::newRow("no method") << "n" << "h" << -1 << kNoMethod << "cbDoType";
        QTest::newRow("method before DNS server") << "n" << "a b" << -1 << kNoMethod << "cbDoType";
        QTest::newRow("DNS server with a blank") << "n" << "dns server" << int(dtDNSQuery) << kBadDnsServer
                                                 << "edtDomainIP";
        QTest::newRow("DNS server as a web address") << "n" << "http://127.0.0.1/" << int(dtDNSQuery)
                                                     << kBadDnsServer << "edtDomainIP";
        QTest::newRow("DNS server with a port") << "n" << "127.0.0.1:53" << int(dtDNSQuery) << kBadDnsServer
                                                << "edtDomainIP";
        QTest::newRow("DNS server, empty label") << "n" << "dns..test" << int(dtDNSQuery) << kBadDnsServer
                                                 << "edtDomainIP";
        QTest::newRow("DNS server, label of 64") << "n" << QString(64, QLatin1Char('a')) + ".test"
                                                 << int(dtDNSQuery) << kBadDnsServer << "edtDomainIP";
        QTest::newRow("DNS server, half a bracket") << "n" << "[::1" << int(dtDNSQuery) << kBadDnsServer
                                                    << "edtDomainIP";
        const int tcp = dtTCPConnect;
        QTest::newRow("TCP, method first") << "n" << "h" << -1 << kNoMethod << "cbDoType";
        QTest::newRow("TCP, reserved character first") << "n" << "h#:80" << tcp << kBadAddress << "edtDomainIP";
        QTest::newRow("TCP without a port") << "n" << "127.0.0.1" << tcp << kTcpNoPort << "edtDomainIP";
        QTest::newRow("TCP, colon but no port") << "n" << "host:" << tcp << kTcpNoPort << "edtDomainIP";
        QTest::newRow("TCP, bare IPv6") << "n" << "::1" << tcp << kTcpNoPort << "edtDomainIP";
        QTest::newRow("TCP, bare IPv6 and port") << "n" << "::1:80" << tcp << kTcpNoPort << "edtDomainIP";
        QTest::newRow("TCP, bracket without port") << "n" << "[::1]" << tcp << kTcpNoPort << "edtDomainIP";
        QTest::newRow("TCP, port 0") << "n" << "127.0.0.1:0" << tcp << kTcpBadPort << "edtDomainIP";
        QTest::newRow("TCP, port 65536") << "n" << "host:65536" << tcp << kTcpBadPort << "edtDomainIP";
        QTest::newRow("TCP, port a word") << "n" << "host:http" << tcp << kTcpBadPort << "edtDomainIP";
        QTest::newRow("TCP, signed port") << "n" << "host:+80" << tcp << kTcpBadPort << "edtDomainIP";
        QTest::newRow("TCP, port with blank") << "n" << "host: 80" << tcp << kTcpBadPort << "edtDomainIP";
        QTest::newRow("TCP, no host") << "n" << ":80" << tcp << kTcpBadHost << "edtDomainIP";
        QTest::newRow("TCP, IPv4 in brackets") << "n" << "[127.0.0.1]:80" << tcp << kTcpBadHost << "edtDomainIP";
        QTest::newRow("TCP, host with a blank") << "n" << "my host:80" << tcp << kTcpBadHost << "edtDomainIP";
        QTest::newRow("TCP, web address") << "n" << "http://h:80" << tcp << kTcpNoPort << "edtDomainIP";
    }
    void checksInOrder()
    {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(int, doType);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        QCOMPARE(ConfirmWith(name, address, doType), QStringList{message});
        QCOMPARE(Dialog->focusWidget()->objectName(), focus);
        QVERIFY(Dialog->isVisible());
        QVERIFY(!Dialog->FConfirmed);
        QCOMPARE(Dialog->edtName->text(), name);
        QCOMPARE(Dialog->edtDomainIP->text(), address);
    }

    void infoBoxLooksRight()
    {
        TBoxScript boxes;
        boxes.Answer({IDOK});
        Dialog->btnConfirm->click();
        QCOMPARE(boxes.Seen.size(), size_t(1));
        QCOMPARE(boxes.Seen[0].Caption, QStringLiteral("信息"));
        QCOMPARE(boxes.Seen[0].Style, unsigned(MB_ICONINFORMATION | MB_OK));
    }

    void duplicateNameIsEmptied()
    {
        Dialog->FItemNames = {"gateway", "\xBC\xD2\xC0\xEF"};  // 家里
        QCOMPARE(ConfirmWith(QStringLiteral("  家里 "), QStringLiteral("h"), 0),
                 QStringList{QStringLiteral("当前方案已经存在一个名为[家里]的测速项。请另取名。")});
        QVERIFY(Dialog->edtName->text().isEmpty());
        QCOMPARE(Dialog->focusWidget(), Dialog->edtName);
        QVERIFY(!Dialog->FConfirmed);
    }

    void nearDuplicatesAreAccepted_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("other case") << "Gateway";
        QTest::newRow("stored with blanks") << "portal";
    }
    void nearDuplicatesAreAccepted()
    {
        QFETCH(QString, name);
        Dialog->FItemNames = {"gateway", " portal"};
        QVERIFY(ConfirmWith(name, QStringLiteral("h"), 1).isEmpty());
        QVERIFY(Dialog->FConfirmed);
        QCOMPARE(Dialog->result(), int(QDialog::Accepted));
    }

    void typedWebAddressesAreAccepted_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("http") << "http://127.0.0.1:8080/";
        QTest::newRow("https, upper case") << "HTTPS://[::1]:8443/index.html";
        QTest::newRow("IPv6 host and port") << "[::1]:8080";
    }
    void typedWebAddressesAreAccepted()
    {
        QFETCH(QString, address);
        QVERIFY(ConfirmWith(QStringLiteral("web"), address, 1).isEmpty());
        QVERIFY(Dialog->FConfirmed);
        QCOMPARE(Dialog->edtDomainIP->text(), address);
    }

    void aTypedAddressWithAQueryStillHasItsReservedCharacterRefused()
    {
        QCOMPARE(ConfirmWith(QStringLiteral("web"), QStringLiteral("https://127.0.0.1/?a=b"), 1),
                 QStringList{kBadAddress});
        QVERIFY(!Dialog->FConfirmed);
    }

    void confirmedTextsStayUntrimmed()
    {
        QVERIFY(ConfirmWith(QStringLiteral(" 家里 "), QStringLiteral(" 192.0.2.1  "), 1).isEmpty());
        QVERIFY(Dialog->FConfirmed);
        QCOMPARE(Dialog->FieldText(Dialog->edtName), std::optional<std::string>(" \xBC\xD2\xC0\xEF "));
        QCOMPARE(Dialog->FieldText(Dialog->edtDomainIP), std::optional<std::string>(" 192.0.2.1  "));
    }

    // Several items: both edits hold the placeholder, which passes the text
    // checks; only the method must be chosen.
    void placeholderNeedsAMethodOnly()
    {
        for (QLineEdit* edit : {Dialog->edtName, Dialog->edtDomainIP}) {
            edit->setText(QStringLiteral("*多项值*"));
            edit->setEnabled(false);
        }
        Dialog->cbDoType->setCurrentIndex(-1);
        QCOMPARE(Dialog->lblHint->text(), QString());
        {
            TBoxScript boxes;
            Dialog->btnConfirm->click();
            QCOMPARE(boxes.Texts(), QStringList{kNoMethod});
            QCOMPARE(Dialog->focusWidget(), Dialog->cbDoType);
        }
        Dialog->cbDoType->setCurrentIndex(1);
        TBoxScript boxes;
        Dialog->btnConfirm->click();
        QVERIFY(boxes.Seen.empty());
        QVERIFY(Dialog->FConfirmed);
    }

    void methodOutsideTheListSelectsNothing()
    {
        Dialog->cbDoType->setCurrentIndex(dtTCPConnect + 1);
        QCOMPARE(Dialog->cbDoType->currentIndex(), -1);
        QCOMPARE(ConfirmWith(QStringLiteral("n"), QStringLiteral("h"), dtTCPConnect + 1), QStringList{kNoMethod});
    }

    // A DNS server is an address, bracketed or not, or a name; a TCP target
    // host:port with a name, an IPv4 literal or a bracketed IPv6 one. The
    // text is kept as typed, blanks around it too.
    void serversAndTargetsAccepted_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("method");
        QTest::newRow("DNS, IPv4") << "127.0.0.53" << int(dtDNSQuery);
        QTest::newRow("DNS, IPv6") << "::1" << int(dtDNSQuery);
        QTest::newRow("DNS, IPv6 in brackets") << "[::1]" << int(dtDNSQuery);
        QTest::newRow("DNS, name") << "dns.example.test" << int(dtDNSQuery);
        QTest::newRow("DNS, localhost with blanks") << " localhost " << int(dtDNSQuery);
        QTest::newRow("DNS, labels of 63") << QString(63, QLatin1Char('a')) + "." + QString(63, QLatin1Char('b'))
                                           << int(dtDNSQuery);
        QTest::newRow("TCP, IPv4") << "127.0.0.1:80" << int(dtTCPConnect);
        QTest::newRow("TCP, IPv6") << "[::1]:22" << int(dtTCPConnect);
        QTest::newRow("TCP, IPv6 with a zone") << "[fe80::1%lo]:22" << int(dtTCPConnect);
        QTest::newRow("TCP, name, top port") << "www.example.com:65535" << int(dtTCPConnect);
        QTest::newRow("TCP, localhost with blanks") << " localhost:1 " << int(dtTCPConnect);
    }
    void serversAndTargetsAccepted()
    {
        QFETCH(QString, address);
        QFETCH(int, method);
        QVERIFY(ConfirmWith(QStringLiteral("n"), address, method).isEmpty());
        QVERIFY(Dialog->FConfirmed);
        QCOMPARE(Dialog->cbDoType->currentIndex(), method);
        QCOMPARE(Dialog->FieldText(Dialog->edtDomainIP), std::optional<std::string>(address.toStdString()));
    }

    // With TCP chosen the hint names a host:port or what keeps it from one,
    // and follows a change of method as well as of the text.
    void tcpHint_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("hint");
        QTest::newRow("IPv4") << "127.0.0.1:80" << "(带端口)";
        QTest::newRow("IPv6") << "[::1]:80" << "(带端口)";
        QTest::newRow("name") << "www.example.com:443" << "(带端口)";
        QTest::newRow("no port") << "127.0.0.1" << "(缺端口)";
        QTest::newRow("bad port") << "host:0" << "(端口错)";
        QTest::newRow("port too big") << "host:65536" << "(端口错)";
        QTest::newRow("bad host") << "a b:80" << "(主机错)";
        QTest::newRow("blanks") << "  " << "";
    }
    void tcpHint()
    {
        QFETCH(QString, address);
        QFETCH(QString, hint);
        Dialog->edtDomainIP->setText(address);
        Dialog->cbDoType->setCurrentIndex(dtTCPConnect);
        QCOMPARE(Dialog->lblHint->text(), hint);
        Dialog->edtDomainIP->setText(QStringLiteral("x"));
        Dialog->edtDomainIP->setText(address);
        QCOMPARE(Dialog->lblHint->text(), hint);
    }
    void tcpHintGoesWithTheMethod()
    {
        Dialog->edtDomainIP->setText(QStringLiteral("127.0.0.1"));
        Dialog->cbDoType->setCurrentIndex(dtTCPConnect);
        QCOMPARE(Dialog->lblHint->text(), QStringLiteral("(缺端口)"));
        Dialog->cbDoType->setCurrentIndex(dtPing);
        QCOMPARE(Dialog->lblHint->text(), QStringLiteral("(IP地址)"));
    }

    // Several items made TCP items: the placeholder stands for their own
    // addresses, so neither the hint nor the check judges it.
    void placeholderWithTcp()
    {
        Dialog->edtDomainIP->setText(QStringLiteral("*多项值*"));
        Dialog->edtDomainIP->setEnabled(false);
        Dialog->edtName->setText(QStringLiteral("*多项值*"));
        Dialog->edtName->setEnabled(false);
        Dialog->cbDoType->setCurrentIndex(dtTCPConnect);
        QCOMPARE(Dialog->lblHint->text(), QString());
        TBoxScript boxes;
        Dialog->btnConfirm->click();
        QVERIFY(boxes.Seen.empty());
        QVERIFY(Dialog->FConfirmed);
    }

    // What no DNS server could be is still fine for the other methods.
    void otherMethodsKeepTheirLooseHosts()
    {
        QVERIFY(ConfirmWith(QStringLiteral("n"), QStringLiteral("127.0.0.1:8080"), dtHomePage).isEmpty());
        QVERIFY(Dialog->FConfirmed);
    }

    // Bytes that are not GBK come back as they were given while unchanged.
    void shownBytesSurviveUnchanged()
    {
        const std::string odd = "a\xFF" "b";
        Dialog->SetFieldText(Dialog->edtName, odd);
        Dialog->SetFieldText(Dialog->edtDomainIP, "192.0.2.1");
        QCOMPARE(Dialog->lblHint->text(), QStringLiteral("(IP地址)"));
        QCOMPARE(Dialog->FieldText(Dialog->edtName), std::optional<std::string>(odd));
        TBoxScript boxes;
        Dialog->btnConfirm->click();
        QVERIFY(boxes.Seen.empty());
        QVERIFY(Dialog->FConfirmed);
    }

    void lengthLimitsCountGbkBytes()
    {
        QLineEdit* name = Dialog->edtName;
        name->setFocus();
        QTest::keyClicks(name, QString(45, QLatin1Char('a')));
        QCOMPARE(name->text(), QString(40, QLatin1Char('a')));

        name->clear();
        TypeText(name, QString(21, QChar(0x5BB6)));  // 家, two bytes each
        QCOMPARE(name->text(), QString(20, QChar(0x5BB6)));

        name->clear();
        QTest::keyClicks(name, QString(39, QLatin1Char('a')));
        TypeText(name, QStringLiteral("家"));
        QCOMPARE(name->text(), QString(39, QLatin1Char('a')));
        QTest::keyClicks(name, QStringLiteral("b"));
        QCOMPARE(name->text().size(), 40);

        QLineEdit* address = Dialog->edtDomainIP;
        address->setFocus();
        QTest::keyClicks(address, QString(101, QLatin1Char('h')));
        QCOMPARE(address->text(), QString(100, QLatin1Char('h')));
        address->clear();
        TypeText(address, QString(51, QChar(0x5BB6)));
        QCOMPARE(address->text(), QString(50, QChar(0x5BB6)));
    }

    void charactersGbkCannotHoldAreRefused()
    {
        for (QLineEdit* edit : {Dialog->edtName, Dialog->edtDomainIP}) {
            edit->setFocus();
            QTest::keyClicks(edit, QStringLiteral("ab"));
            edit->insert(QStringLiteral("ก"));
            edit->insert(QString::fromUtf8("\xF0\x9F\x98\x80"));
            TypeText(edit, QStringLiteral("ก"));
            QCOMPARE(edit->text(), QStringLiteral("ab"));
        }
    }

    // Under exec(): Enter in a field presses OK, the default button, which
    // checks first; Escape cancels, the close box too.
    void enterConfirmsEscapeCancels()
    {
        Dialog.reset();
        TfrmEditItem dialog(nullptr);
        QVERIFY(dialog.btnConfirm->isDefault());
        QStringList refused;
        bool openAfterRefusal = false;
        WhenModal<TfrmEditItem>(QStringLiteral("frmEditItem"), [&](TfrmEditItem& d) {
            {
                TBoxScript boxes;
                boxes.Answer({IDOK});
                d.edtName->setFocus();
                QTest::keyClick(d.edtName, Qt::Key_Return);
                refused = boxes.Texts();
                openAfterRefusal = d.isVisible();
            }
            QTest::keyClicks(d.edtName, QStringLiteral("n"));
            d.edtDomainIP->setText(QStringLiteral("h"));
            d.edtDomainIP->setFocus();
            QTest::keyClick(d.edtDomainIP, Qt::Key_Enter);
        });
        dialog.exec();
        QCOMPARE(refused, QStringList{kEmptyName});
        QVERIFY(openAfterRefusal);
        QVERIFY(dialog.FConfirmed);
        QCOMPARE(dialog.FieldText(dialog.edtName), std::optional<std::string>("n"));

        QVERIFY(!ConfirmedUnderExec([](TfrmEditItem& d) { QTest::keyClick(d.edtName, Qt::Key_Escape); }));

        TfrmEditItem closed(nullptr);
        WhenModal(QStringLiteral("frmEditItem"), [](QDialog& d) { d.close(); });
        closed.exec();
        QVERIFY(!closed.FConfirmed);
    }

    // A button with the focus answers Enter itself, Cancel too.
    void enterOnAFocusedButton()
    {
        Dialog->edtName->setText(QStringLiteral("n"));
        Dialog->edtDomainIP->setText(QStringLiteral("h"));
        Dialog->btnCancel->setFocus();
        QTest::keyClick(Dialog->btnCancel, Qt::Key_Return);
        QVERIFY(!Dialog->isVisible());
        QVERIFY(!Dialog->FConfirmed);

        Dialog->show();
        Dialog->btnConfirm->setFocus();
        QTest::keyClick(Dialog->btnConfirm, Qt::Key_Enter);
        QVERIFY(!Dialog->isVisible());
        QVERIFY(Dialog->FConfirmed);
    }

    void cancelButtonAndConfirmClick()
    {
        Dialog.reset();
        QVERIFY(!ConfirmedUnderExec([](TfrmEditItem& d) { QTest::mouseClick(d.btnCancel, Qt::LeftButton); }));
        QVERIFY(ConfirmedUnderExec([](TfrmEditItem& d) { QTest::mouseClick(d.btnConfirm, Qt::LeftButton); }));
    }
};

QTEST_MAIN(TestEditItem)
#include "test_Edititem.moc"
