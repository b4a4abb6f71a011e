// The dialog asking for the interval of continuous runs.

#include "dialogs/Watchinterval.h"

#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

class TestWatchInterval : public QObject {
    Q_OBJECT

private slots:
    void offersSixtySecondsWithinFiveAndAnHour()
    {
        TfrmWatchInterval dialog(nullptr);
        QCOMPARE(dialog.objectName(), QStringLiteral("frmWatchInterval"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("连续测速"));
        QCOMPARE(dialog.Interval(), 60);
        QCOMPARE(dialog.spnInterval->minimum(), 5);
        QCOMPARE(dialog.spnInterval->maximum(), 3600);
        QVERIFY(dialog.btnConfirm->isDefault());
        QVERIFY(!dialog.btnCancel->isDefault());
        dialog.SetInterval(1);
        QCOMPARE(dialog.Interval(), 5);
        dialog.SetInterval(7200);
        QCOMPARE(dialog.Interval(), 3600);
    }

    // What is typed counts on OK, and Enter is OK.
    void typedSecondsAreTakenOnEnter()
    {
        TfrmWatchInterval dialog(nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.spnInterval->setFocus();
        dialog.spnInterval->selectAll();
        QTest::keyClicks(dialog.spnInterval, QStringLiteral("125"));
        QTest::keyClick(dialog.spnInterval, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Interval(), 125);
    }

    void cancelRejects()
    {
        TfrmWatchInterval dialog(nullptr);
        dialog.show();
        dialog.btnCancel->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestWatchInterval)
#include "test_Watchinterval.moc"
