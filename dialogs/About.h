#pragma once
// The About dialog: title, version, date, team and contact lines and a web link.

#include "vqlib/Vqhook.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

namespace Ui { class TfrmAbout; }

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* owner);
    ~TfrmAbout() override;

    void lblWebClick();
    void btnExitClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TfrmAbout> ui;  // lblTitle, lblVersion, ..., lblWeb, btnExit
};

// "V" and the major and minor version, as the dialog shows it.
QString VersionText();

// Opens an address with the system's default handler, without waiting and
// without reporting failure.
void OpenUrl(const QString& address);

// Test seam: while a scope is alive its hook receives the addresses instead,
// so no test starts a browser; leaving the scope restores the previous hook.
using TOpenUrlHook = std::function<void(const QString& address)>;
class TOpenUrlHookScope {
public:
    explicit TOpenUrlHookScope(TOpenUrlHook hook);

private:
    THookScope<TOpenUrlHook> FScope;
};
