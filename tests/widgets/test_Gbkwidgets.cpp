#include "vqlib/Gbkwidgets.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QtTest>

namespace {

// Types the text one character at a time, as a keyboard or an input method
// would; QTest::keyClicks() only knows Latin-1.
void Type(QWidget* widget, const QString& text)
{
    for (const char32_t codePoint : text.toUcs4()) {
        const QString character = QString::fromUcs4(&codePoint, 1);
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, character, Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, character, Qt::NoModifier);
    }
}

}  // namespace

class TestGbkwidgets : public QObject {
    Q_OBJECT

private slots:
    void convertsAtTheWidgetBoundary()
    {
        QCOMPARE(FromGbk("\xBC\xD2\xC0\xEF"), QStringLiteral("家里"));
        QCOMPARE(ToGbk(QStringLiteral("家里a")), std::optional<std::string>("\xBC\xD2\xC0\xEF" "a"));
        QVERIFY(!ToGbk(QStringLiteral("a😀")));
        QVERIFY(!ToGbk(QString(QChar(0xD800))));  // lone surrogate
        QCOMPARE(ToGbk(QString()), std::optional<std::string>(""));
    }

    void typingStopsAtTheByteLimit()
    {
        QLineEdit edit;
        LimitGbkEdit(&edit, 5);
        edit.show();
        edit.setFocus();
        Type(&edit, QStringLiteral("ab测cd"));  // 测 counts two bytes
        QCOMPARE(edit.text(), QStringLiteral("ab测c"));
        Type(&edit, QStringLiteral("试"));
        QCOMPARE(edit.text(), QStringLiteral("ab测c"));
        QVERIFY(edit.hasAcceptableInput());
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QTest::keyClick(&edit, Qt::Key_Backspace);
        Type(&edit, QStringLiteral("试"));
        QCOMPARE(edit.text(), QStringLiteral("ab试"));
    }

    void charactersGbkCannotHoldAreRefused()
    {
        QLineEdit edit;
        LimitGbkEdit(&edit, 50);
        edit.show();
        edit.setFocus();
        Type(&edit, QStringLiteral("网ש站€"));  // Hebrew letter has no GBK code
        QCOMPARE(edit.text(), QStringLiteral("网站€"));
        Type(&edit, QStringLiteral("😀"));
        QCOMPARE(edit.text(), QStringLiteral("网站€"));
    }

    void pasteIsRefusedWhole()
    {
        QLineEdit edit;
        LimitGbkEdit(&edit, 6);
        edit.show();
        edit.setFocus();
        QTest::keyClicks(&edit, QStringLiteral("ab"));
        QApplication::clipboard()->setText(QStringLiteral("12345"));
        edit.paste();
        QCOMPARE(edit.text(), QStringLiteral("ab"));  // not cut to fit
        QApplication::clipboard()->setText(QStringLiteral("x한"));
        edit.paste();
        QCOMPARE(edit.text(), QStringLiteral("ab"));
        QApplication::clipboard()->setText(QStringLiteral("四字"));
        edit.paste();
        QCOMPARE(edit.text(), QStringLiteral("ab四字"));
    }

    void textSetByTheProgramIsShownUnaltered()
    {
        QLineEdit edit;
        LimitGbkEdit(&edit, 4);
        edit.show();
        edit.setFocus();
        edit.setText(QStringLiteral("超长的名称"));  // 10 bytes
        QCOMPARE(edit.text(), QStringLiteral("超长的名称"));
        QVERIFY(!edit.hasAcceptableInput());
        edit.end(false);
        QTest::keyClicks(&edit, QStringLiteral("x"));
        QCOMPARE(edit.text(), QStringLiteral("超长的名称"));  // may not grow
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QStringLiteral("超长的名"));  // may shrink
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QStringLiteral("超长"));
        QVERIFY(edit.hasAcceptableInput());
        QTest::keyClicks(&edit, QStringLiteral("a"));
        QCOMPARE(edit.text(), QStringLiteral("超长"));

        edit.setText(QStringLiteral("ab"));
        QTest::keyClicks(&edit, QStringLiteral("cde"));
        QCOMPARE(edit.text(), QStringLiteral("abcd"));
    }
};

QTEST_MAIN(TestGbkwidgets)
#include "test_Gbkwidgets.moc"
