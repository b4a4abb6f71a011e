// The path trace dialog: the hop table from reports made up here, what it
// says when a trace ends or cannot start, the copy on the clipboard, and a
// real trace to loopback in a namespace of the test's own.

#include "Dialogscript.h"

#include "app/Uiexecutorqt.h"
#include "dialogs/Pathtrace.h"
#include "tests/support/Netns.h"
#include "tests/support/Pathchain.h"
#include "vqlib/Gbk.h"
#include "vqlib/Vqnet.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

enum { kHop, kAddress, kLoss, kSent, kLast, kMean, kBest, kWorst, kStdDev, kColumns };

sockaddr_storage Address(const char* text)
{
    sockaddr_storage address{};
    if (!ParseAddress(text, address))
        qFatal("no address: %s", text);
    return address;
}

TPathHop Hop(int number, std::initializer_list<const char*> addresses, unsigned sent, unsigned received)
{
    TPathHop hop;
    hop.Hop = number;
    for (const char* text : addresses)
        hop.Addresses.push_back(Address(text));
    hop.Sent = sent;
    hop.Received = received;
    return hop;
}

// Three hops: one answering, a silent one, one answering from two addresses.
TPathReport MadeUpReport()
{
    TPathReport report;
    TPathHop first = Hop(1, {"10.77.0.2"}, 3, 3);
    first.Last = 120us;
    first.Best = 80us;
    first.Worst = 1500us;
    first.MeanMicroseconds = 566.6667;
    first.StdDevMicroseconds = 808.6;
    report.Hops.push_back(first);
    report.Hops.push_back(Hop(2, {}, 3, 0));
    TPathHop third = Hop(3, {"fd77:0:0:2::2", "fd77:0:0:9::2"}, 3, 2);
    third.Last = 2000us;
    third.Best = 1999us;
    third.Worst = 2001us;
    third.MeanMicroseconds = 2000;
    third.StdDevMicroseconds = 1.414;
    report.Hops.push_back(third);
    report.RoundsSent = 3;
    return report;
}

QStringList RowTexts(const QTableWidget& table, int row)
{
    QStringList texts;
    for (int column = 0; column < table.columnCount(); ++column)
        texts << (table.item(row, column) ? table.item(row, column)->text() : QString());
    return texts;
}

TDNSDispInfo Item(int8_t doType, const char* domainIP)
{
    TDNSDispInfo item;
    item.DoType = doType;
    item.DomainIP = domainIP;
    return item;
}

}  // namespace

class TestPathtrace : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InstallQtUiExecutor(); }

    // What is traced of each method's target.
    void theHostOfEachKindOfItem()
    {
        QCOMPARE(TraceHost(Item(dtPing, "10.0.0.1")), std::string("10.0.0.1"));
        QCOMPARE(TraceHost(Item(dtPing, "www.example.test")), std::string("www.example.test"));
        QCOMPARE(TraceHost(Item(dtDNSQuery, "[::1]")), std::string("::1"));
        QCOMPARE(TraceHost(Item(dtHomePage, "http://www.example.test:8080/a?b")), std::string("www.example.test"));
        QCOMPARE(TraceHost(Item(dtHomePage, "www.example.test/index.html")), std::string("www.example.test"));
        QCOMPARE(TraceHost(Item(dtHomePage, "HTTPS://[::1]:8443/")), std::string("::1"));
        QCOMPARE(TraceHost(Item(dtTCPConnect, "host.test:443")), std::string("host.test"));
        QCOMPARE(TraceHost(Item(dtTCPConnect, "[fd00::1]:80")), std::string("fd00::1"));
        const std::string chinese = Utf8ToGbk("http://例子.测试/").value();
        QCOMPARE(TraceHost(Item(dtHomePage, chinese.c_str())), std::string("xn--fsqu00a.xn--0zwm56d"));
    }

    // Each hop a line; a silent one ??? with no times; a second address a
    // line of its own under its hop.
    void theTableShowsEachHop()
    {
        TPathTraceDialog::TSetupScope setup({10, 1000ms, 30, 2000ms});
        TPathTraceDialog dialog(nullptr, QStringLiteral("测速项"), "10.77.2.2");
        QCOMPARE(dialog.windowTitle(), QStringLiteral("路由跟踪 - 测速项"));
        QCOMPARE(dialog.lblTarget->text(), QStringLiteral("10.77.2.2"));
        QCOMPARE(dialog.lblAddress->text(), QStringLiteral("10.77.2.2"));
        QCOMPARE(dialog.tblHops->columnCount(), int(kColumns));
        const QStringList captions{"跳数", "地址", "丢包率(%)", "已发送", "最近(毫秒)", "平均(毫秒)",
                                   "最快(毫秒)", "最慢(毫秒)", "标准差(毫秒)"};
        for (int column = 0; column < kColumns; ++column)
            QCOMPARE(dialog.tblHops->horizontalHeaderItem(column)->text(), captions[column]);

        dialog.ShowReport(MadeUpReport());
        QCOMPARE(dialog.tblHops->rowCount(), 4);
        QCOMPARE(RowTexts(*dialog.tblHops, 0),
                 (QStringList{"1", "10.77.0.2", "0.0", "3", "0.120", "0.567", "0.080", "1.500", "0.809"}));
        QCOMPARE(RowTexts(*dialog.tblHops, 1), (QStringList{"2", "???", "100.0", "3", "", "", "", "", ""}));
        QCOMPARE(RowTexts(*dialog.tblHops, 2),
                 (QStringList{"3", "fd77:0:0:2::2", "33.3", "3", "2.000", "2.000", "1.999", "2.001", "0.001"}));
        QCOMPARE(RowTexts(*dialog.tblHops, 3), (QStringList{"", "fd77:0:0:9::2", "", "", "", "", "", "", ""}));
        QCOMPARE(dialog.tblHops->item(0, kMean)->textAlignment() & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));
        QCOMPARE(dialog.tblHops->item(0, kAddress)->textAlignment() & Qt::AlignHorizontal_Mask, int(Qt::AlignLeft));
        QCOMPARE(dialog.lblStatus->text(), QStringLiteral("正在跟踪 (第 3/10 轮)..."));

        // The next round replaces the lines, it does not add to them.
        TPathReport shorter;
        shorter.Hops.push_back(Hop(1, {"127.0.0.1"}, 4, 4));
        shorter.RoundsSent = 4;
        dialog.ShowReport(shorter);
        QCOMPARE(dialog.tblHops->rowCount(), 1);
        QCOMPARE(dialog.lblStatus->text(), QStringLiteral("正在跟踪 (第 4/10 轮)..."));
    }

    // Stop while a trace runs, start again once it has ended.
    void theButtonsFollowTheTrace()
    {
        TPathTraceDialog dialog(nullptr, QStringLiteral("a"), "127.0.0.1");
        QVERIFY(!dialog.btnStop->isEnabled());
        QVERIFY(dialog.btnRestart->isEnabled());
        QVERIFY(dialog.btnCopy->isEnabled());
        TPathReport report = MadeUpReport();
        dialog.ShowReport(report);
        QVERIFY(dialog.btnStop->isEnabled());
        QVERIFY(!dialog.btnRestart->isEnabled());
        report.Finished = true;
        dialog.ShowReport(report);
        QVERIFY(!dialog.btnStop->isEnabled());
        QVERIFY(dialog.btnRestart->isEnabled());
        QCOMPARE(dialog.btnClose->text(), QStringLiteral("关闭"));
    }

    // The last report says how the trace ended.
    void theStatusSaysHowItEnded()
    {
        TPathTraceDialog dialog(nullptr, QStringLiteral("a"), "127.0.0.1");
        TPathReport report = MadeUpReport();
        report.Finished = true;
        report.Reached = true;
        dialog.ShowReport(report);
        QCOMPARE(dialog.lblStatus->text(), QStringLiteral("已到达目标"));
        report.Reached = false;
        dialog.ShowReport(report);
        QCOMPARE(dialog.lblStatus->text(), QStringLiteral("目标没有响应"));
        report.Stopped = true;
        dialog.ShowReport(report);
        QCOMPARE(dialog.lblStatus->text(), QStringLiteral("已停止"));

        TPathReport denied;
        denied.Finished = true;
        denied.Failure = TTryCause::Denied;
        dialog.ShowReport(denied);
        QCOMPARE(dialog.tblHops->rowCount(), 0);
        QVERIFY(dialog.lblStatus->text().startsWith(QStringLiteral("无权发送ICMP请求")));
        QVERIFY(dialog.lblStatus->text().contains(QStringLiteral("cap_net_raw")));
        QVERIFY(dialog.lblStatus->text().contains(QStringLiteral("ping_group_range")));

        TPathReport other = denied;
        other.Failure = TTryCause::Other;
        dialog.ShowReport(other);
        QVERIFY(dialog.lblStatus->text().startsWith(QStringLiteral("无法跟踪：")));
        QVERIFY(dialog.lblStatus->text().size() > 5);
    }

    // The clipboard gets the header and every line, the columns lined up
    // in a fixed-width font (a Chinese character is two places wide).
    void copyPutsTheTableOnTheClipboard()
    {
        TPathTraceDialog dialog(nullptr, QStringLiteral("a"), "127.0.0.1");
        dialog.ShowReport(MadeUpReport());
        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(dialog.btnCopy, Qt::LeftButton);
        const QString text = QGuiApplication::clipboard()->text();
        QCOMPARE(text, dialog.TableText());
        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].startsWith(QStringLiteral("跳数  地址")));
        QVERIFY(lines[0].endsWith(QStringLiteral("标准差(毫秒)")));
        QCOMPARE(lines[2].simplified(), QStringLiteral("2 ??? 100.0 3"));
        QCOMPARE(lines[4].trimmed(), QStringLiteral("fd77:0:0:9::2"));
        // The figures end where their caption ends.
        const auto places = [](const QString& text) {
            return text.size() + int(std::count_if(text.begin(), text.end(), [](QChar ch) { return ch.unicode() >= 0x2E80; }));
        };
        const QString mean = QStringLiteral("平均(毫秒)");
        const int captionEnd = places(lines[0].left(lines[0].indexOf(mean) + mean.size()));
        QCOMPARE(places(lines[1].left(lines[1].indexOf(QStringLiteral("0.567")) + 5)), captionEnd);
        const int last = lines[3].indexOf(QStringLiteral("2.000"));
        QCOMPARE(places(lines[3].left(lines[3].indexOf(QStringLiteral("2.000"), last + 5) + 5)), captionEnd);
    }

    void alignedTextPadsByDisplayWidth()
    {
        const QString text = AlignedText({{"号", "地址", "值"}, {"10", "a", "1.5"}, {"7", "long-address", "12.25"}});
        QCOMPARE(text, QStringLiteral("号  地址             值\n"
                                      "10  a               1.5\n"
                                      " 7  long-address  12.25\n"));
    }

    // A name that does not resolve says so and may be tried again.
    void aNameThatDoesNotResolve()
    {
        THostLookupScope lookup([](const std::string&) -> std::optional<std::string> { return std::nullopt; });
        TPathTraceDialog dialog(nullptr, QStringLiteral("a"), "nowhere.test");
        dialog.Start();
        QTRY_COMPARE(dialog.lblStatus->text(), QStringLiteral("域名解析失败"));
        QCOMPARE(dialog.lblAddress->text(), QStringLiteral("--"));
        QVERIFY(!dialog.btnStop->isEnabled());
        QVERIFY(dialog.btnRestart->isEnabled());
    }

    // A real trace: loopback answers at the first hop; a name is looked up
    // first; closing while rounds remain ends the trace at once.
    void tracesLoopbackInANamespace()
    {
        TThreadNetns netns;
        if (!netns.Ok())
            QSKIP(qPrintable(QStringLiteral("no network namespace of our own: ") + QString::fromStdString(netns.Why())));
        if (!WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"))
            QSKIP("cannot allow ping sockets in the namespace");
        THostLookupScope lookup([](const std::string& host) -> std::optional<std::string> {
            return host == "trace.test" ? std::optional<std::string>("127.0.0.1") : std::nullopt;
        });
        {
            TPathTraceDialog::TSetupScope setup({3, 50ms, 30, 500ms});
            TPathTraceDialog dialog(nullptr, QStringLiteral("本机"), "trace.test");
            dialog.show();
            dialog.Start();
            QTRY_COMPARE_WITH_TIMEOUT(dialog.lblStatus->text(), QStringLiteral("已到达目标"), 10000);
            QCOMPARE(dialog.lblAddress->text(), QStringLiteral("127.0.0.1"));
            QCOMPARE(dialog.tblHops->rowCount(), 1);
            QCOMPARE(RowTexts(*dialog.tblHops, 0).mid(0, 4), (QStringList{"1", "127.0.0.1", "0.0", "3"}));
            QVERIFY(!dialog.tblHops->item(0, kMean)->text().isEmpty());
            QVERIFY(dialog.btnRestart->isEnabled());

            // Again, stopped by the button.
            QTest::mouseClick(dialog.btnRestart, Qt::LeftButton);
            QVERIFY(dialog.btnStop->isEnabled());
            QTest::mouseClick(dialog.btnStop, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(dialog.lblStatus->text(), QStringLiteral("已停止"), 5000);
            QVERIFY(dialog.btnRestart->isEnabled());
        }
        TPathTraceDialog::TSetupScope slow({10, 300ms, 30, 2000ms});
        TPathTraceDialog dialog(nullptr, QStringLiteral("本机"), "127.0.0.1");
        dialog.show();
        dialog.Start();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.tblHops->rowCount() == 1, 5000);
        QElapsedTimer clock;
        clock.start();
        dialog.reject();
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!dialog.isVisible());
        const unsigned long sent = EchoRequestsSent();
        QTest::qWait(800);  // two more rounds, were it still running
        QCOMPARE(EchoRequestsSent(), sent);
    }

    void tracesAChainWithASilentRouter()
    {
        TThreadNetns netns;
        if (!netns.Ok())
            QSKIP(qPrintable(QStringLiteral("no network namespace of our own: ") + QString::fromStdString(netns.Why())));
        if (!WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"))
            QSKIP("cannot allow ping sockets in the namespace");
        TPathChainSetup silent;
        silent.SilentRouter = 2;
        TPathChain chain(silent);
        if (!chain.Ok())
            QSKIP(qPrintable(QStringLiteral("no chain: ") + QString::fromStdString(chain.Why())));
        for (const int family : {AF_INET, AF_INET6}) {
            TPathTraceDialog::TSetupScope setup({3, 50ms, 30, 500ms});
            TPathTraceDialog dialog(nullptr, QStringLiteral("目标"), chain.Destination(family));
            dialog.show();
            dialog.Start();
            QTRY_COMPARE_WITH_TIMEOUT(dialog.lblStatus->text(), QStringLiteral("已到达目标"), 10000);
            QCOMPARE(dialog.tblHops->rowCount(), chain.Hops());
            for (int hop = 1; hop <= chain.Hops(); ++hop) {
                const QStringList row = RowTexts(*dialog.tblHops, hop - 1);
                const QString address = hop == 2 ? QStringLiteral("???") : QString::fromStdString(chain.HopAddress(hop, family));
                QCOMPARE(row.mid(0, 4), (QStringList{QString::number(hop), address, hop == 2 ? "100.0" : "0.0", "3"}));
                QCOMPARE(dialog.tblHops->item(hop - 1, kMean)->text().isEmpty(), hop == 2);
            }
        }
    }
};

QTEST_MAIN(TestPathtrace)
#include "test_Pathtrace.moc"
