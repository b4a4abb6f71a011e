// The CSV the exports write, byte for byte.

#include "dialogs/Csvfile.h"

#include <QTemporaryDir>
#include <QtTest>

class TestCsvfile : public QObject {
    Q_OBJECT

private slots:
    void quotesWhatMustBeQuoted()
    {
        const QByteArray bytes = CsvBytes({{"名称", "a,b", "say \"hi\"", "two\nlines", " pad"}, {"", "1.50"}});
        QCOMPARE(bytes, QByteArray("\xEF\xBB\xBF"
                                   "名称,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\" pad\"\r\n"
                                   ",1.50\r\n"));
    }

    // A shared plan's name must not become a formula in the spreadsheet.
    void formulasStayText()
    {
        QCOMPARE(CsvBytes({{"=1+1", "+cmd", "@x", "-3", "12.5"}}).mid(3), QByteArray("'=1+1,'+cmd,'@x,-3,12.5\r\n"));
    }

    // A file that cannot be written is left as it was and the reason given.
    void writesWholeFilesOnly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        QVERIFY(!WriteCsvFile(path, {{"a"}}));
        QVERIFY(WriteCsvFile(dir.filePath("none/r.csv"), {{"b"}}).has_value());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBF" "a\r\n"));
    }
};

QTEST_MAIN(TestCsvfile)
#include "test_Csvfile.moc"
