#pragma once
// The help dialog: a fixed rich text that explains the program.

#include <QDialog>

#include <memory>
#include <string_view>

namespace Ui { class TfrmHelp; }

class TfrmHelp : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHelp(QWidget* owner);
    ~TfrmHelp() override;

    void btnExitClick();

private:
    std::unique_ptr<Ui::TfrmHelp> ui;  // RTFLabel1, btnExit
};

// The help text as RTF in code page 936.
extern const std::string_view HelpRtf;
