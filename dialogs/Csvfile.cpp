#include "dialogs/Csvfile.h"

#include "vqlib/Vqwindows.h"

#include <QFileDialog>
#include <QSaveFile>

namespace {

THook<TSaveFileAnswer> SaveFileHook;

bool NeedsQuotes(const QString& field)
{
    return field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) || field.contains(QLatin1Char('\n'))
        || field.contains(QLatin1Char('\r')) || field.startsWith(QLatin1Char(' ')) || field.endsWith(QLatin1Char(' '));
}

// A plan's names come from anyone who shares one; a leading =, + or @ would
// make the spreadsheet run them.
bool LooksLikeFormula(const QString& field)
{
    return !field.isEmpty()
        && (field[0] == QLatin1Char('=') || field[0] == QLatin1Char('+') || field[0] == QLatin1Char('@')
            || field[0] == QLatin1Char('\t'));
}

QString CsvField(QString field)
{
    if (LooksLikeFormula(field))
        field.prepend(QLatin1Char('\''));
    if (!NeedsQuotes(field))
        return field;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

}  // namespace

QByteArray CsvBytes(const QList<QStringList>& rows)
{
    QByteArray bytes("\xEF\xBB\xBF");
    for (const QStringList& row : rows) {
        QStringList fields;
        for (const QString& field : row)
            fields << CsvField(field);
        bytes += fields.join(QLatin1Char(',')).toUtf8();
        bytes += "\r\n";
    }
    return bytes;
}

std::optional<QString> WriteCsvFile(const QString& path, const QList<QStringList>& rows)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = CsvBytes(rows);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

QString AskCsvFileName(QWidget* parent, const QString& caption, const QString& suggestedName)
{
    if (TSaveFileAnswer answer = SaveFileHook.Get())
        return answer(caption, suggestedName);
    return QFileDialog::getSaveFileName(parent, caption, suggestedName, QStringLiteral("CSV文件 (*.csv);;所有文件 (*)"));
}

TSaveFileScope::TSaveFileScope(TSaveFileAnswer answer) : FScope(SaveFileHook, std::move(answer)) {}

bool ExportCsv(QWidget* parent, const QString& caption, const QString& suggestedName, const QList<QStringList>& rows)
{
    const QString path = AskCsvFileName(parent, caption, suggestedName);
    if (path.isEmpty())
        return false;
    if (const std::optional<QString> error = WriteCsvFile(path, rows)) {
        InfoBox(QStringLiteral("无法写入文件“%1”：%2").arg(path, *error));
        return false;
    }
    return true;
}
