#pragma once
// The tries of one item of the last run: each try's time or why it failed,
// a home page's phases and answer, their figures and the address measured.

#include "engine/Trytimes.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace Ui { class TfrmItemDetails; }

// Texts of the details, also used where the tries are exported.
QString TryTimeText(const std::optional<std::chrono::microseconds>& time);  // "12.345", or "失败"
QString FigureText(double milliseconds);                                      // "12.35"

// What the dialog shows, as display texts.
struct TItemDetails {
    QString Name, Host, Method, Address;
    TTryOutcomes Tries;
    QString QueryName;  // the name a DNS item asked for; empty for the other methods
    bool HomePage = false;  // its tries have phases, a status and a body
    bool Https = false;     // a home page over https: its tries have a TLS phase
};

class TfrmItemDetails : public QDialog {
    Q_OBJECT
public:
    explicit TfrmItemDetails(QWidget* owner);
    ~TfrmItemDetails() override;

    QLabel* lblName;
    QLabel* lblHost;
    QLabel* lblMethod;
    QLabel* lblAddress;
    QLabel* lblQueryName;  // with its caption, shown for a DNS item only
    QTreeWidget* lvTries;
    QLabel* lblFastest;
    QLabel* lblMean;
    QLabel* lblSlowest;
    QLabel* lblStdDev;
    QPushButton* btnClose;

    void ShowDetails(const TItemDetails& details);

private:
    void ShowQueryName(const QString& name);
    void ShowHttpColumns(bool shown);
    void AddTryRow(int index, const std::optional<TTryOutcome>& outcome);
    void AddMeansRow(const TTryOutcomes& tries);
    bool FHttps = false;  // of the item shown

    std::unique_ptr<Ui::TfrmItemDetails> ui;
    bool FQueryNameShown = false;
    bool FHttpColumnsShown = false;
};
