// Start-up: Qt's own texts in Chinese, and the built orvel run as a process
// for its command line and for a second start on the same store folder.

#include "app/Startup.h"
#include "tests/support/Scratchdir.h"

#include "Orvelversion.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

#include <sys/stat.h>

#include <filesystem>

namespace {

constexpr int kProcessTimeoutMs = 60000;

QString Orvel() { return QStringLiteral(ORVEL_BIN_DIR "/orvel"); }

struct TOutcome {
    int Status = -1;
    QString Out;
    QString Err;
};

// The environment of a terminal without any display unless one is given.
QProcessEnvironment Terminal(const QString& platform = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    if (!platform.isEmpty())
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    return environment;
}

TOutcome RunOrvel(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(Orvel(), arguments);
    TOutcome outcome;
    if (!process.waitForFinished(kProcessTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.Out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.Err = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

// A copy of orvel in a folder of the test's own: it keeps its store there,
// empty, so nothing of the build's delivered plan is opened.
QString OrvelIn(const TScratchDir& dir)
{
    const std::filesystem::path copy = dir.Path() / "orvel";
    std::error_code linkError;
    std::filesystem::create_hard_link(Orvel().toStdString(), copy, linkError);
    if (linkError)
        std::filesystem::copy_file(Orvel().toStdString(), copy);
    return QFile::decodeName(copy.c_str());
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void qtsOwnTextsAreChinese()
    {
        auto& app = *qobject_cast<QApplication*>(QCoreApplication::instance());
        InstallQtTranslations(app);
        InstallQtTranslations(app);  // once only, however often start-up runs
        QCOMPARE(app.findChildren<QTranslator*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);

        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Save);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        QCOMPARE(buttons.button(QDialogButtonBox::Save)->text(), QStringLiteral("保存"));

        QFileDialog dialog(nullptr, QStringLiteral("导出测速结果"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        const auto* label = dialog.findChild<QLabel*>(QStringLiteral("fileTypeLabel"));
        QVERIFY(label);
        QVERIFY2(!label->text().contains(QStringLiteral("Files of type")), qPrintable(label->text()));
    }

    void helpAndVersionNeedNoDisplay()
    {
        const TOutcome help = RunOrvel({QStringLiteral("--help")}, Terminal());
        QCOMPARE(help.Status, 0);
        QVERIFY2(help.Out.contains(QStringLiteral("--version")) && help.Out.contains(QStringLiteral("-platform")),
                 qPrintable(help.Out));
        QCOMPARE(help.Err, QString());
        QCOMPARE(RunOrvel({QStringLiteral("-h")}, Terminal()).Out, help.Out);

        const QString version = QStringLiteral("orvel %1\n").arg(QString::fromLatin1(kOrvelVersion));
        for (const QString& option : {QStringLiteral("--version"), QStringLiteral("-v")}) {
            const TOutcome outcome = RunOrvel({option}, Terminal());
            QCOMPARE(outcome.Status, 0);
            QCOMPARE(outcome.Out, version);
        }
    }

    void anArgumentOrvelDoesNotTakeIsOneLineAndStatusTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("platform");
        const QString none;
        const QString offscreen = QStringLiteral("offscreen");
        QTest::newRow("long") << QStringList{"--bogus"} << QStringLiteral("bogus") << offscreen;
        QTest::newRow("short") << QStringList{"-x"} << QStringLiteral("x") << offscreen;
        QTest::newRow("without a display") << QStringList{"--bogus"} << QStringLiteral("bogus") << none;
        QTest::newRow("after Qt's own") << QStringList{"-platform", "offscreen", "-reverse", "--bogus"}
                                        << QStringLiteral("bogus") << none;
        QTest::newRow("a file") << QStringList{"plan.dat"} << QStringLiteral("plan.dat") << offscreen;
        QTest::newRow("a file after Qt's own") << QStringList{"-style", "fusion", "plan.dat"}
                                               << QStringLiteral("plan.dat") << offscreen;
    }
    void anArgumentOrvelDoesNotTakeIsOneLineAndStatusTwo()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        QFETCH(QString, platform);
        const TOutcome outcome = RunOrvel(arguments, Terminal(platform));
        QCOMPARE(outcome.Status, 2);
        QCOMPARE(outcome.Out, QString());
        QVERIFY2(outcome.Err.startsWith(QStringLiteral("orvel: ")) && outcome.Err.count('\n') == 1 &&
                     outcome.Err.endsWith('\n') && outcome.Err.contains(QLatin1Char('\'') + named + QLatin1Char('\'')),
                 qPrintable(outcome.Err));
    }

    void aSecondStartOnTheSameStoreHandsOverAndEnds()
    {
        TScratchDir dir;
        const QString program = OrvelIn(dir);
        const std::filesystem::path runtime = dir.Path() / "runtime";
        QVERIFY(std::filesystem::create_directory(runtime));
        ::chmod(runtime.c_str(), 0700);
        QProcessEnvironment environment = Terminal(QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QFile::decodeName(runtime.c_str()));

        QProcess first;
        first.setProcessEnvironment(environment);
        first.start(program, QStringList());
        QVERIFY(first.waitForStarted());
        const QDir sockets(QFile::decodeName(runtime.c_str()));
        QTRY_VERIFY_WITH_TIMEOUT(!sockets.entryList({QStringLiteral("orvel-*")}, QDir::System).isEmpty(),
                                 kProcessTimeoutMs);

        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(program, QStringList());
        QVERIFY(second.waitForFinished(kProcessTimeoutMs));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        first.terminate();
        QVERIFY(first.waitForFinished(kProcessTimeoutMs));
    }
};

QTEST_MAIN(TestStartup)
#include "test_Startup.moc"
