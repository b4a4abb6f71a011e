#include "vqlib/Vqwindows.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs `answer` on the message box as soon as it is shown.
void WhenBoxShows(std::function<void(QMessageBox*)> answer)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        answer(box);
    });
    timer->start();
}

QStringList ButtonTexts(QMessageBox* box)
{
    QStringList texts;
    for (auto* button : box->buttons())
        texts << button->text();
    texts.sort();
    return texts;
}

}  // namespace

class TestVqwindows : public QObject {
    Q_OBJECT

private slots:
    void captionFollowsTheIcon_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("caption");
        QTest::newRow("error") << 0x10 << QStringLiteral("错误");
        QTest::newRow("question") << 0x20 << QStringLiteral("询问");
        QTest::newRow("warning") << 0x30 << QStringLiteral("注意");
        QTest::newRow("information") << 0x40 << QStringLiteral("信息");
        QTest::newRow("none") << 0x00 << QStringLiteral("信息");
        QTest::newRow("other") << 0x50 << QStringLiteral("信息");
    }

    void captionFollowsTheIcon()
    {
        QFETCH(int, icon);
        QFETCH(QString, caption);
        TMsgBoxRequest seen;
        const TMsgBoxHookScope hook([&](const TMsgBoxRequest& request) {
            seen = request;
            return IDYES;
        });
        QCOMPARE(MsgBox(QStringLiteral("文本"), static_cast<uint8_t>(icon), MB_YESNOCANCEL, 0x0100), IDYES);
        QCOMPARE(seen.Caption, caption);
        QCOMPARE(seen.Text, QStringLiteral("文本"));
        QCOMPARE(seen.Style, static_cast<unsigned>(icon | MB_YESNOCANCEL | 0x0100));
    }

    void infoAndConfirmUseTheirStyles()
    {
        QList<TMsgBoxRequest> seen;
        int answer = IDOK;
        const TMsgBoxHookScope hook([&](const TMsgBoxRequest& request) {
            seen << request;
            return answer;
        });
        InfoBox(QStringLiteral("提示"));
        QVERIFY(ConfirmBox(QStringLiteral("删除吗?"), 0, MB_ICONQUESTION));
        answer = IDCANCEL;
        QVERIFY(!ConfirmBox(QStringLiteral("删除吗?"), 0, MB_ICONQUESTION));
        QCOMPARE(seen.size(), 3);
        QCOMPARE(seen[0].Caption, QStringLiteral("信息"));
        QCOMPARE(seen[0].Style, unsigned(MB_ICONINFORMATION | MB_OK));
        QCOMPARE(seen[1].Caption, QStringLiteral("询问"));
        QCOMPARE(seen[1].Style, unsigned(MB_ICONQUESTION | MB_OKCANCEL));
    }

    // Scopes nest; leaving one gives the box back to the hook before it, and
    // leaving the last shows real boxes again.
    void hookScopesRestoreWhatWasBefore()
    {
        QStringList answeredBy;
        {
            const TMsgBoxHookScope outer([&](const TMsgBoxRequest&) {
                answeredBy << "outer";
                return IDNO;
            });
            {
                const TMsgBoxHookScope inner([&](const TMsgBoxRequest&) {
                    answeredBy << "inner";
                    return IDYES;
                });
                QCOMPARE(MsgBox(QStringLiteral("保存吗?"), MB_ICONQUESTION, MB_YESNO, 0), IDYES);
            }
            QCOMPARE(MsgBox(QStringLiteral("保存吗?"), MB_ICONQUESTION, MB_YESNO, 0), IDNO);
        }
        QCOMPARE(answeredBy, QStringList({"inner", "outer"}));
        bool shown = false;
        WhenBoxShows([&](QMessageBox* box) {
            shown = true;
            box->close();
        });
        InfoBox(QStringLiteral("完成"));
        QVERIFY(shown);
        QCOMPARE(answeredBy.size(), 2);
    }

    void realBoxIsOwnedByTheActiveWindowAndEscapeCancels()
    {
        QMainWindow window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QWidget* owner = nullptr;
        QString caption;
        QStringList buttons;
        WhenBoxShows([&](QMessageBox* box) {
            owner = box->parentWidget();
            caption = box->windowTitle();
            buttons = ButtonTexts(box);
            QTest::keyClick(box, Qt::Key_Escape);
        });
        QVERIFY(!ConfirmBox(QStringLiteral("删除选中的项目吗?"), 0, MB_ICONQUESTION));
        QCOMPARE(owner, &window);
        QCOMPARE(caption, QStringLiteral("询问"));
        QCOMPARE(buttons, (QStringList{QStringLiteral("取消"), QStringLiteral("确定")}));
    }

    void realBoxReturnsTheButtonPressed()
    {
        WhenBoxShows([](QMessageBox* box) {
            for (auto* button : box->buttons()) {
                if (button->text() == QStringLiteral("否(&N)"))
                    button->click();
            }
        });
        QCOMPARE(MsgBox(QStringLiteral("保存吗?"), MB_ICONQUESTION, MB_YESNOCANCEL, 0), IDNO);

        WhenBoxShows([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QCOMPARE(MsgBox(QStringLiteral("保存吗?"), MB_ICONQUESTION, MB_YESNOCANCEL, 0), IDCANCEL);

        WhenBoxShows([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QCOMPARE(MsgBox(QStringLiteral("继续吗?"), MB_ICONQUESTION, MB_YESNO, 0), IDNO);

        WhenBoxShows([](QMessageBox* box) { box->close(); });
        QCOMPARE(MsgBox(QStringLiteral("完成"), MB_ICONINFORMATION, MB_OK, 0), IDOK);

        // The second button as default: Return presses it.
        WhenBoxShows([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        QCOMPARE(MsgBox(QStringLiteral("保存吗?"), MB_ICONQUESTION, MB_YESNOCANCEL, 0x0100), IDNO);
    }

    // The save question: each answer has its key, Escape still cancels.
    void yesNoCancelButtonsHaveKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("answer");
        QTest::newRow("Alt+Y") << int(Qt::Key_Y) << int(IDYES);
        QTest::newRow("Alt+N") << int(Qt::Key_N) << int(IDNO);
        QTest::newRow("Alt+C") << int(Qt::Key_C) << int(IDCANCEL);
    }
    void yesNoCancelButtonsHaveKeys()
    {
        QFETCH(int, key);
        QFETCH(int, answer);
        QStringList buttons;
        bool closedByKey = false;
        WhenBoxShows([&](QMessageBox* box) {
            buttons = ButtonTexts(box);
            box->activateWindow();  // its keys are its window's shortcuts
            QVERIFY(QTest::qWaitForWindowActive(box));
            QTest::keyClick(box, Qt::Key(key), Qt::AltModifier);
            closedByKey = QTest::qWaitFor([box] { return !box->isVisible(); }, 2000);  // a key clicks animated
            if (!closedByKey)
                box->close();
        });
        QCOMPARE(MsgBox(QStringLiteral("保存吗?"), MB_ICONQUESTION, MB_YESNOCANCEL, 0), answer);
        QVERIFY(closedByKey);
        QCOMPARE(buttons, (QStringList{QStringLiteral("取消(&C)"), QStringLiteral("否(&N)"), QStringLiteral("是(&Y)")}));
    }

    void textIsShownAsPlainText()
    {
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        WhenBoxShows([&](QMessageBox* box) {
            shown = box->text();
            format = box->textFormat();
            box->close();
        });
        InfoBox(QStringLiteral("<b>名称</b>"));
        QCOMPARE(shown, QStringLiteral("<b>名称</b>"));
        QCOMPARE(format, Qt::PlainText);
    }
};

QTEST_MAIN(TestVqwindows)
#include "test_Vqwindows.moc"
