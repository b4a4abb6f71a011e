#include "controls/Rtfreader.h"
#include "dialogs/Help.h"
#include "controls/Rtflabel.h"

#include <QPushButton>
#include <QTest>
#include <QTextDocument>

namespace {

TRTFLabel& Text(const TfrmHelp& dialog)
{
    auto* label = dialog.findChild<TRTFLabel*>(QStringLiteral("RTFLabel1"));
    if (label == nullptr)
        qFatal("no RTFLabel1 in the dialog");
    return *label;
}

QPushButton* ExitButton(const TfrmHelp& dialog) { return dialog.findChild<QPushButton*>(QStringLiteral("btnExit")); }

}  // namespace

class TestHelp : public QObject {
    Q_OBJECT
private slots:
    void showsTheHelpText()
    {
        TfrmHelp dialog(nullptr);
        QCOMPARE(dialog.windowTitle(), QString("帮助"));
        QCOMPARE(dialog.size(), QSize(520, 724));
        QCOMPARE(Text(dialog).geometry(), QRect(8, 8, 504, 680));
        QCOMPARE(Text(dialog).RichText(), std::string(HelpRtf));
        QCOMPARE(Text(dialog).text(), QString());
        QVERIFY(!Text(dialog).WordWrap());
        QCOMPARE(ExitButton(dialog)->text(), QString("取消(&C)"));
        QVERIFY(ExitButton(dialog)->isDefault());
    }

    void theTextFitsTheLabel()
    {
        // the last paragraph must not be cut off at the bottom of the label
        TfrmHelp dialog(nullptr);
        QTextDocument document;
        document.setDefaultFont(Text(dialog).font());
        document.setDocumentMargin(0);
        LoadRtfInto(HelpRtf, document);
        document.setTextWidth(Text(dialog).width() - 1);
        QVERIFY2(document.size().height() <= Text(dialog).height() - 1,
                 qPrintable(QString::number(document.size().height())));
    }

    void enterEscapeAndTheButtonClose_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
        QTest::newRow("button") << 0;
    }

    void enterEscapeAndTheButtonClose()
    {
        QFETCH(int, key);
        TfrmHelp dialog(nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (key)
            QTest::keyClick(&dialog, Qt::Key(key));
        else
            QTest::mouseClick(ExitButton(dialog), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestHelp)
#include "test_Help.moc"
