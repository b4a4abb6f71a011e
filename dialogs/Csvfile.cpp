#include "dialogs/Csvfile.h"

#include "vqlib/Csv.h"
#include "vqlib/Vqfiles.h"
#include "vqlib/Vqwindows.h"

#include <QFile>
#include <QFileDialog>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

namespace {

THook<TSaveFileAnswer> SaveFileHook;

std::vector<std::vector<std::string>> Utf8Rows(const QList<QStringList>& rows)
{
    std::vector<std::vector<std::string>> records;
    records.reserve(size_t(rows.size()));
    for (const QStringList& row : rows) {
        std::vector<std::string>& record = records.emplace_back();
        for (const QString& field : row)
            record.push_back(field.toStdString());
    }
    return records;
}

}  // namespace

QByteArray CsvBytes(const QList<QStringList>& rows)
{
    // A shared plan's names come from anyone: the spreadsheet must not run them.
    return QByteArray("\xEF\xBB\xBF") + QByteArray::fromStdString(CsvText(Utf8Rows(rows), kSpreadsheetCsv));
}

// The store's writer rather than QSaveFile: a file replaced keeps its owner,
// mode, attributes and hard links there as well.
std::optional<QString> WriteCsvFile(const QString& path, const QList<QStringList>& rows)
{
    const QByteArray bytes = CsvBytes(rows);
    if (ReplaceFileContent(QFile::encodeName(path).toStdString(), bytes.toStdString()))
        return std::nullopt;
    return QString::fromStdString(std::generic_category().message(errno));
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
