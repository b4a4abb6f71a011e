#include "dialogs/About.h"

#include "dialogs/Dialogsetup.h"
#include "dialogs/Hideinfo.h"
#include "ui_About.h"
#include "vqlib/Gbkwidgets.h"

#include "Orvelversion.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

#include <utility>

namespace {

THook<TOpenUrlHook> OpenUrlHook;

QString Hidden(THiddenText which)
{
    return FromGbk(HiddenText(which));
}

void ShowText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

void ShowText(QLabel* label, THiddenText which) { ShowText(label, Hidden(which)); }

}  // namespace

QString VersionText()
{
    return QStringLiteral("V%1.%2").arg(kOrvelVersionMajor).arg(kOrvelVersionMinor);
}

TOpenUrlHookScope::TOpenUrlHookScope(TOpenUrlHook hook) : FScope(OpenUrlHook, std::move(hook)) {}

void OpenUrl(const QString& address)
{
    if (const TOpenUrlHook hook = OpenUrlHook.Get()) {
        hook(address);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromUserInput(address));  // starts the handler detached
}

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner), ui(std::make_unique<Ui::TfrmAbout>())
{
    SetUpFixedDialog(*this, *ui);
    ShowText(ui->lblAuthor, THiddenText::Author);
    ShowText(ui->lblQQ, THiddenText::Messaging);
    ShowText(ui->lblEmail, THiddenText::Email);
    ShowText(ui->lblTitle, THiddenText::Title);
    ShowText(ui->lblVersion, VersionText());
    ShowText(ui->lblDate, THiddenText::Date);
    ShowText(ui->lblInfo, THiddenText::Info);
    ShowText(ui->lblWeb, THiddenText::Web);
    setWindowTitle(Hidden(THiddenText::Caption));
    ui->btnExit->setText(Hidden(THiddenText::ExitButton));

    ui->lblWeb->installEventFilter(this);
    connect(ui->btnExit, &QPushButton::clicked, this, &TfrmAbout::btnExitClick);
}

TfrmAbout::~TfrmAbout() = default;

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    // A click is a left-button release over the label, as for a button.
    if (watched == ui->lblWeb && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && ui->lblWeb->rect().contains(mouse->position().toPoint())) {
            lblWebClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAbout::lblWebClick()
{
    OpenUrl(ui->lblWeb->text());
}

void TfrmAbout::btnExitClick()
{
    reject();
}
