#include "controls/Rtfreader.h"
#include "dialogs/Help.h"
#include "ui_Help.h"

#include <QTest>
#include <QTextDocument>

class TestHelp : public QObject {
    Q_OBJECT
private slots:
    void showsTheHelpText()
    {
        TfrmHelp dialog(nullptr);
        QCOMPARE(dialog.windowTitle(), QString("帮助"));
        QCOMPARE(dialog.size(), QSize(386, 349));
        QCOMPARE(dialog.ui->RTFLabel1->geometry(), QRect(8, 8, 369, 305));
        QCOMPARE(dialog.ui->RTFLabel1->RichText, std::string(HelpRtf));
        QCOMPARE(dialog.ui->RTFLabel1->text(), QString());
        QVERIFY(!dialog.ui->RTFLabel1->WordWrap());
        QCOMPARE(dialog.ui->btnExit->text(), QString("取消(&C)"));
        QVERIFY(dialog.ui->btnExit->isDefault());
    }

    void theTextFitsTheLabel()
    {
        // the last paragraph must not be cut off at the bottom of the label
        TfrmHelp dialog(nullptr);
        QTextDocument document;
        document.setDefaultFont(dialog.ui->RTFLabel1->font());
        document.setDocumentMargin(0);
        LoadRtfInto(HelpRtf, document);
        document.setTextWidth(dialog.ui->RTFLabel1->width() - 1);
        QVERIFY(document.size().height() <= dialog.ui->RTFLabel1->height() - 1);
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
            QTest::mouseClick(dialog.ui->btnExit, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestHelp)
#include "test_Help.moc"
