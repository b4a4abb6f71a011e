#pragma once
// The path to one item's address, hop by hop, filled in round by round while
// the engine's trace (engine/Pathtrace.h) runs; it stops when the dialog
// closes.

#include "engine/Dnsdispinfo.h"
#include "engine/Pathtrace.h"
#include "vqlib/Vqhook.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class THostResolution;

namespace Ui { class TfrmPathTrace; }

// The host an item's path is traced to, as typed: a home page's host, the
// host of a TCP item's host:port, else the text itself; an address in
// brackets without them. UTF-8.
std::string TraceHost(const TDNSDispInfo& item);

// The table's lines as text, one line for the header and each row, its
// columns padded with spaces to line up in a fixed-width font.
QString AlignedText(const QList<QStringList>& rows);

class TPathTraceDialog : public QDialog {
    Q_OBJECT
public:
    // How a trace is made; tests shorten the rounds.
    struct TSetup {
        int Rounds = 10;
        std::chrono::milliseconds Interval{1000};
        int MaxHops = 30;
        std::chrono::milliseconds Timeout{2000};
    };
    // Test seam: dialogs made while a scope is alive trace with this setup.
    class TSetupScope {
    public:
        explicit TSetupScope(TSetup setup);

    private:
        THookScope<TSetup> FScope;
    };

    // host: an address or a name (UTF-8), looked up off this thread with the
    // lookup a run uses. Nothing starts until Start.
    TPathTraceDialog(QWidget* owner, const QString& itemName, std::string host);
    ~TPathTraceDialog() override;

    QLabel* lblTarget;
    QLabel* lblAddress;
    QTableWidget* tblHops;
    QLabel* lblStatus;
    QPushButton* btnStop;
    QPushButton* btnRestart;
    QPushButton* btnCopy;
    QPushButton* btnClose;

    // Looks the host up where needed and starts tracing; again after a stop.
    void Start();
    // Shows a round's report: the table, the status line and the buttons.
    void ShowReport(const TPathReport& report);
    // The table with its header, as the clipboard gets it.
    QString TableText() const;

    void done(int result) override;  // closing stops the trace at once

private:
    void Guarded(const std::function<void()>& slot);
    void AddressResolved(const std::optional<std::string>& address);
    void StartTrace();
    void StopTrace();
    void Failed(const QString& why);
    void ShowRunning(bool running);
    void AddRow(const std::vector<std::string>& texts);
    void btnStopClick();
    void btnCopyClick();

    std::unique_ptr<Ui::TfrmPathTrace> ui;
    TSetup FSetup;
    std::string FHost;
    sockaddr_storage FAddress{};
    bool FAddressKnown = false;
    uint64_t FGeneration = 0;  // of the trace whose reports are shown
    std::unique_ptr<THostResolution> FResolution;
    std::unique_ptr<TPathTrace> FTrace;  // its destructor waits for the updates to end
};
