#pragma once
// Results written for a spreadsheet program: CSV in UTF-8 with a byte-order
// mark, so that the Chinese texts open right, and the save dialog that picks
// the file, which tests answer through a scope.

#include "vqlib/Vqhook.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// The file's bytes: BOM, fields quoted where they must be, CRLF line ends.
// A text that a spreadsheet would take for a formula is kept as text.
QByteArray CsvBytes(const QList<QStringList>& rows);

// Replaces the file as a whole or leaves it as it was; the reason otherwise.
std::optional<QString> WriteCsvFile(const QString& path, const QList<QStringList>& rows);

// The save dialog: the chosen path, or empty when cancelled.
QString AskCsvFileName(QWidget* parent, const QString& caption, const QString& suggestedName);

// Test seam: while alive, AskCsvFileName asks answer instead of the user.
using TSaveFileAnswer = std::function<QString(const QString& caption, const QString& suggestedName)>;
class TSaveFileScope {
public:
    explicit TSaveFileScope(TSaveFileAnswer answer);

private:
    THookScope<TSaveFileAnswer> FScope;
};

// Asks for a file and writes rows into it; a failure is told in a box.
// True when written.
bool ExportCsv(QWidget* parent, const QString& caption, const QString& suggestedName, const QList<QStringList>& rows);
