#include "app/Startup.h"

#include "app/Apperror.h"
#include "app/Images.h"
#include "app/Main_quellan.h"
#include "app/Singleinstance.h"
#include "vqlib/Storedir.h"

#include "Orvelversion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

namespace {

const QString QtTranslationName = QStringLiteral("qtbase_zh_CN");

// -h, --help and -v, --version. Qt's options are single-dash words, so
// orvel's are read the same way: "-reverse" is one option, not -r -e -v ...
void DescribeOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Orvel网络测速器, a network speed tester for the desktop.\n"
                       "Also takes the standard options of Qt applications, such as -platform NAME and -style NAME."));
    // Not addHelpOption: its --help-all lists Qt's options, which only a
    // running application knows.
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays help on commandline options.")));
    parser.addVersionOption();
}

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int RefuseUsage(const QString& error)
{
    Print(stderr, QStringLiteral("orvel: %1 (see --help)\n").arg(error.simplified()));
    return 2;
}

// The options QGuiApplication, QApplication and the X11 platform take out of
// the command line themselves.
bool IsQtOption(const QString& name)
{
    static const QStringList names{
        QStringLiteral("platform"),  QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"),    QStringLiteral("qmljsdebugger"),      QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowicon"), QStringLiteral("qwindowtitle"),     QStringLiteral("reverse"),
        QStringLiteral("session"),   QStringLiteral("style"),              QStringLiteral("stylesheet"),
        QStringLiteral("widgetcount"), QStringLiteral("display"),          QStringLiteral("geometry"),
        QStringLiteral("name"),      QStringLiteral("title"),              QStringLiteral("visual"),
        QStringLiteral("ncols"),     QStringLiteral("cmap"),               QStringLiteral("dialogs"),
        QStringLiteral("fontengine"), QStringLiteral("nograb"),            QStringLiteral("dograb"),
        QStringLiteral("sync"),
    };
    return names.contains(name);
}

}  // namespace

void SetApplicationNames(QApplication& app)
{
    // The window titles carry the product's name. Set as the display name,
    // Qt would append it to every title; the application name names the
    // window class (WM_CLASS "orvel") and, with no organisation, the per-user
    // data folder $XDG_DATA_HOME/orvel.
    app.setOrganizationName(QString());
    app.setApplicationName(QStringLiteral("orvel"));
    app.setApplicationVersion(QString::fromLatin1(kOrvelVersion));
}

std::optional<int> AnswerWithoutDisplay(const QStringList& arguments)
{
    QCommandLineParser parser;
    DescribeOptions(parser);
    // Qt's options are not known yet and may make the parse fail; what was
    // recognised counts all the same.
    parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help"))) {
        // The usage line names the program only while an application lives;
        // a core one needs no display.
        int argc = 1;
        char program[] = "orvel";
        char* argv[] = {program, nullptr};
        const QCoreApplication app(argc, argv);
        Print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        Print(stdout, QStringLiteral("orvel %1\n").arg(QString::fromLatin1(kOrvelVersion)));
        return 0;
    }
    // Arguments are left for later: they may be the values of Qt's options.
    for (const QString& name : parser.unknownOptionNames()) {
        if (!IsQtOption(name))
            return RefuseUsage(QStringLiteral("Unknown option '%1'.").arg(name));
    }
    return std::nullopt;
}

std::optional<int> RefuseUnknownArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    DescribeOptions(parser);
    if (!parser.parse(arguments))
        return RefuseUsage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return RefuseUsage(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));
    return std::nullopt;
}

void InstallQtTranslations(QCoreApplication& app)
{
    if (app.findChild<QTranslator*>(QtTranslationName, Qt::FindDirectChildrenOnly))
        return;
    auto* translator = new QTranslator(&app);
    translator->setObjectName(QtTranslationName);
    // Without the translations installed, Qt's texts stay English.
    if (translator->load(QtTranslationName, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
}

std::unique_ptr<TfrmTarnix> CreateForms(QApplication& app)
{
    std::unique_ptr<TfrmTarnix> window;
    RunGuarded([&] {
        SetApplicationNames(app);
        InstallQtTranslations(app);
        app.setWindowIcon(ApplicationIcon());
        // The dialogs are created by the commands that show them.
        window = std::make_unique<TfrmTarnix>();
    });
    return window;
}

int RunApplication(QApplication& app)
{
    SetApplicationNames(app);
    // The folder the window will open its store in.
    TSingleInstance instance(QFile::decodeName(QByteArray::fromStdString(StoreDir(UserDataDir()))));
    if (!instance.Claim())
        return 0;
    std::unique_ptr<TfrmTarnix> window = CreateForms(app);
    if (!window)
        return 0;
    QObject::connect(&instance, &TSingleInstance::Activated, window.get(),
                     [target = window.get()] { BringToFront(*target); });
    RunGuarded([&] {
        window->show();
        app.exec();
    });
    return 0;
}
