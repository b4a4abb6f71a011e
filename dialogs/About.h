#pragma once
// The About dialog: title, version, date, team and contact lines and a web link.

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

    std::unique_ptr<Ui::TfrmAbout> ui;  // lblTitle, lblVersion, ..., lblWeb, btnExit

    void lblWebClick();
    void btnExitClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// "V" and the major and minor version, as the dialog shows it.
QString VersionText();

// Opens an address with the system's default handler, without waiting and
// without reporting failure. Test seam: while a hook is set it receives the
// text instead.
using TOpenUrlHook = std::function<void(const QString& address)>;
void SetOpenUrlHook(TOpenUrlHook hook);
void OpenUrl(const QString& address);
