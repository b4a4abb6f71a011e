#include "controls/Rtflabel.h"
#include "controls/Rtfreader.h"
#include "dialogs/Help.h"

#include <QApplication>
#include <QImage>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <string>
#include <vector>

namespace {

struct TExpectedParagraph {
    std::string Text;
    std::string Bold;  // the one bold run, or empty
};

const std::vector<TExpectedParagraph> HelpParagraphs = {
    {"1.本软件有什么用?", "1.本软件有什么用?"},
    {"    本软件可通过和你指定的若干网站或服务器进行多次简短通讯，"
     "得到一个能对你的网速快慢有个客观评价的速度平均值。每个测速项可选用一种测速方式："
     "Ping（发送回显请求）、取首页内容（以HTTP或HTTPS取网站的首页）、"
     "DNS查询（向DNS服务器查询一个域名）或TCP连接（与\"主机:端口\"建立一个连接）。",
     ""},
    {"  ", ""},
    {"2.怎么使用本软件?", "2.怎么使用本软件?"},
    {"    运行软件后，我们会为你默认打开一个\"常见网站\"的测速项列表，"
     "这时候你只需选择菜单\"操作\"下的\"开始测速\"命令即可开始对你网络进行测速。等待测速结束后，"
     "在软件下方偏右的位置会显示出一个你当前网速的平均值出来。",
     "选择菜单\"操作\"下的\"开始测速\"命令"},
    {"    软件为方便经常测试网络速度的用户使用，还设计有把测速项列表保存成测速方案等功能："
     "菜单\"方案\"下有\"新建测速方案\"、\"打开测速方案\"、\"保存测速方案\"、"
     "\"另存方案为\"和\"删除测速方案\"，菜单\"编辑\"下有\"增加测速项\"、\"删除测速项\"和\"修改测速项\"。",
     ""},
    {"", ""},
    {"3.怎样查看测速的结果?", "3.怎样查看测速的结果?"},
    {"    测速结束后，在列表中选中一个测速项，选择菜单\"操作\"下的\"测速详情\"命令（或按回车键），"
     "即可看到它每次测速的耗时或失败的原因，以及最快、平均、最慢耗时和标准差。"
     "菜单\"方案\"下的\"导出结果\"命令把测速结果保存为CSV文件，可用电子表格程序打开。"
     "每次测速的结果都记入测速历史："
     "菜单\"操作\"下的\"测速历史\"命令以图表列出当前测速方案每次测速的总平均耗时，也可导出为CSV文件。",
     ""},
    {"", ""},
    {"4.怎样停止测速或连续测速?", "4.怎样停止测速或连续测速?"},
    {"    测速的过程中，为了结果的简洁，暂时屏蔽了大多数测速方案操作功能。"
     "选择菜单\"操作\"下的\"停止测速\"命令（或按Esc键）可随时停止：已测完的测速项保留结果，"
     "其余的回到\"待测速\"，停止的测速不记入测速历史。"
     "\"操作\"下的\"连续测速\"命令每隔若干秒（5到3600秒）测一次，直到停止测速为止，每次测完都记入测速历史。",
     ""},
    {"", ""},
    {"5.怎样实时查看网速?", "5.怎样实时查看网速?"},
    {"    选择菜单\"操作\"下的\"实时图表\"命令：列表中勾选的测速项每次测速的耗时画成一条线，"
     "失败的测速标在时间轴上；可看最近5分钟、30分钟或2小时，用鼠标滚轮缩放，拖动平移，"
     "\"回到最新\"回到当前时间。测速项没有响应或恢复响应时，桌面会弹出通知"
     "（可用\"操作\"下的\"桌面通知\"关闭），系统托盘图标显示上次测速的平均耗时。",
     ""},
    {"", ""},
    {"6.怎样找出网速慢在哪一段?", "6.怎样找出网速慢在哪一段?"},
    {"    在列表中选中一个测速项，选择菜单\"操作\"下的\"路由跟踪\"命令（或在列表上单击右键），"
     "即可打开路由跟踪窗口。它每秒向该测速项的地址逐跳发送一轮请求，列出沿途每一跳的地址、丢包率和耗时；"
     "没有响应的一跳显示为???。可以随时停止、重新开始，或把结果复制到剪贴板。",
     ""},
    {"", ""},
    {"7.能在终端里测速吗?", "7.能在终端里测速吗?"},
    {"    可以。终端程序orvel-cli与本软件使用同样的测速方式和测速方案：不带参数运行时，"
     "它测试上次打开的测速方案；也可在命令行上直接给出要测的主机，或用--history查看测速历史。"
     "详见orvel-cli --help。",
     ""},
};

std::string BoldText(const TRtfParagraph& paragraph)
{
    std::string bold;
    for (const TRtfRun& run : paragraph.Runs)
        if (run.Bold)
            bold += run.Text;
    return bold;
}

std::string AllText(const TRtfDocument& document)
{
    std::string text;
    for (const TRtfParagraph& paragraph : document.Paragraphs)
        text += paragraph.Text() + "|";
    return text;
}

// Every pixel of the image has the colour.
bool IsFilledWith(const QImage& image, QColor color)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != color)
                return false;
    return true;
}

int CountPixelsNot(const QImage& image, QColor color)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) != color;
    return count;
}

}  // namespace

class TestRtflabel : public QObject {
    Q_OBJECT
private slots:
    void readsTheHelpText()
    {
        const TRtfDocument document = ReadRtf(HelpRtf);
        QCOMPARE(document.CodePage, 936);
        QCOMPARE(document.Fonts.size(), size_t(1));
        QCOMPARE(document.Fonts[0].Name, std::string("宋体"));
        QCOMPARE(document.Fonts[0].Charset, 134);
        QCOMPARE(document.Paragraphs.size(), HelpParagraphs.size());
        for (size_t i = 0; i < HelpParagraphs.size(); ++i) {
            const TRtfParagraph& paragraph = document.Paragraphs[i];
            QCOMPARE(paragraph.Text(), HelpParagraphs[i].Text);
            QCOMPARE(BoldText(paragraph), HelpParagraphs[i].Bold);
            for (const TRtfRun& run : paragraph.Runs) {
                QCOMPARE(run.FontName, std::string("宋体"));
                QCOMPARE(run.HalfPoints, 18);
                QVERIFY(!run.Italic && !run.Underline && !run.Color);
            }
        }
        // the bold run sits in the middle of paragraph 5, normal text on both sides
        const TRtfParagraph& fifth = document.Paragraphs[4];
        QCOMPARE(fifth.Runs.size(), size_t(3));
        QVERIFY(!fifth.Runs[0].Bold && fifth.Runs[1].Bold && !fifth.Runs[2].Bold);
    }

    void readsTablesEscapesAndUnicode()
    {
        const TRtfDocument document = ReadRtf(
            "{\\rtf1\\ansi\\ansicpg936\\deff1{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fnil\\fcharset134 "
            "\\'cb\\'ce\\'cc\\'e5;}{\\f2\\fnil Odd\\'3bName;}}"
            "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
            "{\\*\\generator Some Writer;}{\\info{\\title hidden}}"
            "\\pard\\lang2052\\fs20 a\\cf1 b\\cf2\\i c\\i0\\ul d\\ulnone\\f0 e\\plain f\\par"
            "\\f2 x\\{\\}\\\\\\tab y\\line z\\~\\u-10179?\\u-8704?\\u26412?w\\uc0\\u26412 v\\par}");
        QCOMPARE(document.Fonts.size(), size_t(3));
        QCOMPARE(document.Fonts[2].Name, std::string("Odd;Name"));
        QCOMPARE(document.Paragraphs.size(), size_t(2));

        const std::vector<TRtfRun>& runs = document.Paragraphs[0].Runs;
        QCOMPARE(runs.size(), size_t(6));
        QCOMPARE(runs[0].Text, std::string("a"));
        QCOMPARE(runs[0].FontName, std::string("宋体"));  // \deff1
        QCOMPARE(runs[0].HalfPoints, 20);
        QVERIFY(!runs[0].Color);
        QCOMPARE(runs[1].Color.value_or(0), 0xFF0000u);
        QVERIFY(runs[2].Italic);
        QCOMPARE(runs[2].Color.value_or(0), 0x0000FFu);
        QVERIFY(runs[3].Underline && !runs[3].Italic);
        QCOMPARE(runs[4].FontName, std::string("Arial"));
        QCOMPARE(runs[5].Text, std::string("f"));
        QCOMPARE(runs[5].HalfPoints, 24);  // \plain

        QCOMPARE(document.Paragraphs[1].Text(), std::string("x{}\\\ty\nz\u00A0\U0001F600本w本v"));
    }

    void malformedInputRendersWhatItCan_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("stray closing braces") << QByteArray("}}{\\rtf1 ab}") << QByteArray("ab|");
        QTest::newRow("text after the document") << QByteArray("{\\rtf1 ab}}} cd") << QByteArray("ab|");
        QTest::newRow("never closed") << QByteArray("{\\rtf1{{{\\b ab\\par cd") << QByteArray("ab|cd|");
        QTest::newRow("escape cut at the end") << QByteArray("{\\rtf1 ab\\'") << QByteArray("ab|");
        QTest::newRow("escape with one digit") << QByteArray("{\\rtf1 ab\\'4") << QByteArray("ab|");
        QTest::newRow("escape without digits") << QByteArray("{\\rtf1 ab\\'zz}") << QByteArray("abzz|");
        QTest::newRow("half a GBK character")
            << QByteArray("{\\rtf1\\ansicpg936 \\'b1\\'be\\'c8}") << QByteArray("本\xEF\xBF\xBD|");
        QTest::newRow("backslash at the end") << QByteArray("{\\rtf1 ab\\") << QByteArray("ab|");
        QTest::newRow("huge numbers")
            << QByteArray("{\\rtf1\\fs99999999999999999999999 a\\b-99999999999999999 b\\f99999999999 c"
                          "\\cf-1 d\\uc99999999999\\u99999999999 e\\u-99999999999 f}")
            << QByteArray("abcd\xEF\xBF\xBD\xEF\xBF\xBD|");
        QTest::newRow("binary run longer than the source")
            << QByteArray("{\\rtf1 ab\\bin99999999999 cd}") << QByteArray("ab|");
        QTest::newRow("overlong control word")
            << (QByteArray("{\\rtf1 a\\") + QByteArray(100000, 'x') + QByteArray("1 b}")) << QByteArray("ab|");
        QTest::newRow("very deep groups")
            << (QByteArray("{\\rtf1 a") + QByteArray(100000, '{') + "b" + QByteArray(100000, '}') + "c}")
            << QByteArray("abc|");
        QTest::newRow("unterminated font table")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset134 \\'cb\\'ce") << QByteArray("");
        QTest::newRow("ignorable mark outside a group") << QByteArray("{\\rtf1\\*ab}") << QByteArray("ab|");
        QTest::newRow("lone low surrogate") << QByteArray("{\\rtf1 \\u-8704?x}") << QByteArray("\xEF\xBF\xBDx|");
    }

    void malformedInputRendersWhatItCan()
    {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, text);
        QCOMPARE(QByteArray::fromStdString(AllText(ReadRtf(source.toStdString()))), text);
    }

    void sizesAreClamped()
    {
        const TRtfDocument document = ReadRtf("{\\rtf1\\fs99999999999 a\\fs-4 b\\fs0 c\\fs d}");
        const std::vector<TRtfRun>& runs = document.Paragraphs.at(0).Runs;
        QCOMPARE(runs.size(), size_t(3));
        QCOMPARE(runs[0].HalfPoints, RtfMaxHalfPoints);
        QCOMPARE(runs[1].HalfPoints, RtfMinHalfPoints);
        QCOMPARE(runs[1].Text, std::string("bc"));
        QCOMPARE(runs[2].HalfPoints, 24);
    }

    void writerAndQtDocumentGiveBackTheSameParagraphs()
    {
        const TRtfDocument help = ReadRtf(HelpRtf);
        QCOMPARE(ReadRtf(WriteRtf(help.Paragraphs)).Paragraphs, help.Paragraphs);

        QTextDocument document;
        LoadRtfInto(HelpRtf, document);
        QCOMPARE(document.blockCount(), 21);
        QCOMPARE(ReadRtf(SaveRtfFrom(document)).Paragraphs, help.Paragraphs);

        // characters GBK cannot hold survive as \u escapes
        TRtfParagraph odd;
        TRtfRun run;
        run.Text = "é€😀\xEF\xBF\xBD;{}\\";
        run.FontName = "Ünï;{x}";
        odd.Runs.push_back(run);
        QCOMPARE(ReadRtf(WriteRtf({odd})).Paragraphs, std::vector<TRtfParagraph>{odd});
    }

    void targetRectangleInTwips()
    {
        QCOMPARE(RTFTargetTwips(QRect(0, 0, 369, 305), 96, 96), (TTwipsRect{15, 15, 5535, 4575}));
        QCOMPARE(RTFTargetTwips(QRect(0, 0, 369, 305), 0, 0), (TTwipsRect{15, 15, 5535, 4575}));
        // each value rounded on its own: 1440/100 = 14.4, 368*14.4 = 5299.2, 2*1440/7 = 411.4
        QCOMPARE(RTFTargetTwips(QRect(0, 1, 369, 10), 100, 7), (TTwipsRect{14, 411, 5313, 2262}));
    }

    void versionIsFixed()
    {
        TRTFLabel label;
        QCOMPARE(label.GetVersion(), QString("1.3.0.0"));
        QCOMPARE(label.GetVersionNr(), 0x01030000u);
        label.setProperty("Version", QString("2.0.0.0"));
        label.SetVersion("9.9");
        QCOMPARE(label.property("Version").toString(), QString("1.3.0.0"));
    }

    void updatesPaintTheBackgroundOnly()
    {
        QWidget parent;
        TRTFLabel label(&parent);
        label.setGeometry(0, 0, 200, 80);
        label.SetColor(Qt::red);
        label.SetRichText(std::string(HelpRtf));
        label.Loaded();

        QVERIFY(CountPixelsNot(label.grab().toImage(), Qt::red) > 0);

        label.BeginUpdate();
        label.BeginUpdate();
        QVERIFY(IsFilledWith(label.grab().toImage(), Qt::red));
        label.EndUpdate();
        QVERIFY(IsFilledWith(label.grab().toImage(), Qt::red));
        label.EndUpdate();
        QCOMPARE(label.UpdateCount(), 0);
        QVERIFY(CountPixelsNot(label.grab().toImage(), Qt::red) > 0);
        // an update that composed nothing keeps the text
        QCOMPARE(label.RichText(), std::string(HelpRtf));

        label.EndUpdate();  // unmatched
        QCOMPARE(label.UpdateCount(), 0);
        QCOMPARE(label.RichText(), std::string(HelpRtf));

        label.SetRichText({});
        QVERIFY(IsFilledWith(label.grab().toImage(), Qt::red));
    }

    void transparentLabelTakesTheParentsColour()
    {
        QWidget parent;
        QPalette palette = parent.palette();
        palette.setColor(QPalette::Window, Qt::green);
        parent.setPalette(palette);
        TRTFLabel label(&parent);
        label.setGeometry(0, 0, 50, 20);
        label.SetColor(Qt::red);
        label.SetTransparent(true);
        label.SetRichText("{\\rtf1 }");
        const QImage image = label.grab().toImage();
        QCOMPARE(image.pixelColor(10, 10), QColor(Qt::green));
    }

    void composingInTheEditorReplacesTheText()
    {
        TRTFLabel orphan;
        QVERIFY(orphan.GetRichEdit() == nullptr);

        QWidget parent;
        TRTFLabel label(&parent);
        label.SetRichText(std::string(HelpRtf));
        label.BeginUpdate();
        QTextEdit* editor = label.GetRichEdit();
        QVERIFY(editor);
        QVERIFY(editor->document()->isEmpty());
        QTextCursor cursor(editor->document());
        QTextCharFormat bold;
        bold.setFontWeight(QFont::Bold);
        cursor.insertText("plain ");
        cursor.insertText("粗体", bold);
        QCOMPARE(label.RichText(), std::string(HelpRtf));
        label.EndUpdate();

        const TRtfDocument composed = ReadRtf(label.RichText());
        QCOMPARE(composed.Paragraphs.size(), size_t(1));
        QCOMPARE(composed.Paragraphs[0].Text(), std::string("plain 粗体"));
        QCOMPARE(BoldText(composed.Paragraphs[0]), std::string("粗体"));
        QVERIFY(editor->parentWidget() == nullptr);

        QTextEdit other;
        label.CopyToRichEdit(&other);
        QCOMPARE(other.toPlainText(), QString("plain 粗体"));
        other.setPlainText("again");
        label.CopyFromRichEdit(&other);
        QCOMPARE(ReadRtf(label.RichText()).Paragraphs.at(0).Text(), std::string("again"));
    }

    void printAsksThePrintDialog()
    {
        TRTFLabel orphan;
        orphan.Print("none");  // no parent: nothing to ask, returns at once

        QWidget parent;
        TRTFLabel label(&parent);
        label.SetRichText(std::string(HelpRtf));
        QString asked;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())) {
                asked = dialog->printer()->docName();
                dialog->reject();
            }
        });
        answer.start(10);
        label.Print("帮助");
        QCOMPARE(asked, QString("帮助"));
    }
};

QTEST_MAIN(TestRtflabel)
#include "test_Rtflabel.moc"
