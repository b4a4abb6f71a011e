#include "dialogs/About.h"
#include "dialogs/Hideinfo.h"
#include "vqlib/Gbk.h"

#include "Orvelversion.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <set>
#include <vector>

namespace {

std::string Gbk(const char* utf8)
{
    return Utf8ToGbk(utf8).value();
}

// Remembers what would have been opened, so no test ever starts a browser.
class TOpenedUrls {
public:
    std::vector<QString> Addresses;

private:
    TOpenUrlHookScope FScope{[this](const QString& address) { Addresses.push_back(address); }};
};

}  // namespace

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void descramblerYieldsTheTenTexts()
    {
        const std::pair<THiddenText, const char*> expected[] = {
            {THiddenText::Author, "作者：Orvel开发组"},
            {THiddenText::Messaging, "即时通讯：#orvel"},
            {THiddenText::Email, "邮箱：team@orvel.example.org"},
            {THiddenText::Title, "Orvel网络测速器"},
            {THiddenText::Date, "2026.12"},
            {THiddenText::Info, "欢迎访问本项目主页："},
            {THiddenText::Web, "https://orvel.example.org/"},
            {THiddenText::Caption, "关于Orvel网络测速器"},
            {THiddenText::ExitButton, "确定(&O)"},
        };
        QCOMPARE(std::size(expected), size_t(THiddenText::Count));
        for (const auto& [which, text] : expected)
            QCOMPARE(HiddenText(which), Gbk(text));
        QCOMPARE(HiddenText(THiddenText::Count), std::string());
    }

    void tableHoldsEveryByteOnce()
    {
        // a permutation: any text can be stored, and no two indices mean the same byte
        uint8_t all[256];
        for (int i = 0; i < 256; ++i)
            all[i] = uint8_t(i);
        const std::string bytes = Descramble(all, 256);
        QCOMPARE(std::set<char>(bytes.begin(), bytes.end()).size(), size_t(256));
        QCOMPARE(Descramble(all, 0), std::string());
        QCOMPARE(Descramble(all + 7, 1), bytes.substr(7, 1));
    }

    void dialogShowsTheTextsInTheirPlaces()
    {
        TfrmAbout dialog(nullptr);
        const auto label = [&](const char* name) { return dialog.findChild<QLabel*>(QLatin1String(name)); };
        QCOMPARE(label("lblAuthor")->text(), QString("作者：Orvel开发组"));
        QCOMPARE(label("lblQQ")->text(), QString("即时通讯：#orvel"));
        QCOMPARE(label("lblEmail")->text(), QString("邮箱：team@orvel.example.org"));
        QCOMPARE(label("lblTitle")->text(), QString("Orvel网络测速器"));
        // the build's version, major and minor
        QCOMPARE(label("lblVersion")->text(), "V" + QString(kOrvelVersion).section('.', 0, 1));
        QCOMPARE(label("lblVersion")->text(), VersionText());
        QCOMPARE(label("lblDate")->text(), QString("2026.12"));
        QCOMPARE(label("lblInfo")->text(), QString("欢迎访问本项目主页："));
        QCOMPARE(label("lblWeb")->text(), QString("https://orvel.example.org/"));
        QCOMPARE(dialog.windowTitle(), QString("关于Orvel网络测速器"));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("btnExit"))->text(), QString("确定(&O)"));
        QCOMPARE(dialog.size(), QSize(321, 202));
        // labels grow to their text from their designed place
        QCOMPARE(label("lblWeb")->pos(), QPoint(9, 150));
        QVERIFY(label("lblWeb")->width() >= label("lblWeb")->fontMetrics().horizontalAdvance(label("lblWeb")->text()));
        QVERIFY(label("lblWeb")->font().underline());
        QCOMPARE(label("lblWeb")->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(label("lblTitle")->font().bold());
    }

    void clickingTheLinkOpensItsCaption()
    {
        TOpenedUrls opened;
        TfrmAbout dialog(nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QLabel* web = dialog.findChild<QLabel*>(QStringLiteral("lblWeb"));
        QVERIFY(web != nullptr);

        QTest::mouseClick(web, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(opened.Addresses, std::vector<QString>{"https://orvel.example.org/"});
        QVERIFY(dialog.isVisible());

        QTest::mouseClick(web, Qt::RightButton, {}, QPoint(5, 5));
        QCOMPARE(opened.Addresses.size(), size_t(1));

        web->setText(QString());
        web->resize(20, 12);
        QTest::mouseClick(web, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(opened.Addresses.size(), size_t(2));
        QCOMPARE(opened.Addresses.back(), QString());
        QVERIFY(dialog.isVisible());
    }

    // Scopes nest: leaving the inner one gives the addresses back to the outer.
    void urlHookScopesRestoreWhatWasBefore()
    {
        TOpenedUrls outer;
        {
            TOpenedUrls inner;
            OpenUrl(QStringLiteral("https://a.example/"));
            QCOMPARE(inner.Addresses, std::vector<QString>{"https://a.example/"});
        }
        OpenUrl(QStringLiteral("https://b.example/"));
        QCOMPARE(outer.Addresses, std::vector<QString>{"https://b.example/"});
    }

    void enterAndEscapeClose_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }

    void enterAndEscapeClose()
    {
        QFETCH(int, key);
        TfrmAbout dialog(nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key(key));
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestAbout)
#include "test_About.moc"
