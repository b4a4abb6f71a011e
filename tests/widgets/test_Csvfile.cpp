// The CSV the exports write, byte for byte.

#include "dialogs/Csvfile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

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

    // An export over a file keeps what the file had, as the store's files do.
    void replacingKeepsModeAndLinks()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        QVERIFY(!WriteCsvFile(path, {{"old"}}));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        QVERIFY(QFile::link(path, dir.filePath("link.csv")));
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(dir.filePath("hard.csv")).constData()) == 0);
        QVERIFY(!WriteCsvFile(dir.filePath("link.csv"), {{"new"}}));
        QFile hard(dir.filePath("hard.csv"));
        QVERIFY(hard.open(QIODevice::ReadOnly));
        QCOMPARE(hard.readAll(), QByteArray("\xEF\xBB\xBF" "new\r\n"));
        QCOMPARE(QFile::permissions(path) & QFileDevice::Permissions(0x7077),  // owner, group, others
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        QVERIFY(QFileInfo(dir.filePath("link.csv")).isSymLink());
        QVERIFY(WriteCsvFile(dir.path(), {{"x"}}).has_value());  // a folder is no file to replace
    }
};

QTEST_MAIN(TestCsvfile)
#include "test_Csvfile.moc"
