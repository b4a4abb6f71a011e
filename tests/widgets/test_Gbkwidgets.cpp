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

    // A paste goes in as far as the limit allows, cut at a whole character,
    // where the cursor is or over the selection; what GBK cannot hold is
    // refused whole, and so is a paste of which nothing fits.
    void pasteInsertsWhatFits()
    {
        QLineEdit edit;
        LimitGbkEdit(&edit, 6);
        edit.show();
        edit.setFocus();
        const auto paste = [&](const QString& text) {
            QApplication::clipboard()->setText(text);
            QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        };
        QTest::keyClicks(&edit, QStringLiteral("ab"));
        paste(QStringLiteral("12345"));
        QCOMPARE(edit.text(), QStringLiteral("ab1234"));
        QCOMPARE(edit.cursorPosition(), 6);

        edit.clear();
        QTest::keyClicks(&edit, QStringLiteral("ab"));
        edit.setCursorPosition(1);
        paste(QStringLiteral("测试测"));  // room for 4 bytes: two characters
        QCOMPARE(edit.text(), QStringLiteral("a测试b"));
        QCOMPARE(edit.cursorPosition(), 3);

        edit.clear();
        QTest::keyClicks(&edit, QStringLiteral("abc"));
        paste(QStringLiteral("测试"));  // room for 3 bytes: never half a character
        QCOMPARE(edit.text(), QStringLiteral("abc测"));

        edit.clear();
        QTest::keyClicks(&edit, QStringLiteral("abcdef"));
        edit.setSelection(2, 2);
        paste(QStringLiteral("WXYZ"));
        QCOMPARE(edit.text(), QStringLiteral("abWXef"));
        QCOMPARE(edit.cursorPosition(), 4);

        edit.setSelection(5, 1);
        paste(QStringLiteral("测"));  // one byte of room: nothing fits, the selection stays
        QCOMPARE(edit.text(), QStringLiteral("abWXef"));
        QCOMPARE(edit.selectedText(), QStringLiteral("f"));

        edit.clear();
        QTest::keyClicks(&edit, QStringLiteral("ab"));
        paste(QStringLiteral("x한"));
        QCOMPARE(edit.text(), QStringLiteral("ab"));
        paste(QStringLiteral("x한yyyyyy"));
        QCOMPARE(edit.text(), QStringLiteral("ab"));
        paste(QStringLiteral("四字"));
        QCOMPARE(edit.text(), QStringLiteral("ab四字"));
        paste(QStringLiteral("x"));
        QCOMPARE(edit.text(), QStringLiteral("ab四字"));
        QVERIFY(edit.hasAcceptableInput());
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
