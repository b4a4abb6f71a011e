#include "dialogs/Help.h"

#include "dialogs/Dialogsetup.h"
#include "ui_Help.h"

const std::string_view HelpRtf = R"rtf(
{\rtf1\ansi\ansicpg936\deff0\deflang1033\deflangfe2052{\fonttbl{\f0\fnil\fcharset134 \'cb\'ce
\'cc\'e5;}}
\viewkind4\uc1\pard\lang2052\f0\fs18\b 1.\'b1\'be\'c8\'ed\'bc\'fe\'d3\'d0\'ca\'b2\'c3\'b4\'d3\'c3?\b0\par
    \'b1\'be\'c8\'ed\'bc\'fe\'bf\'c9\'cd\'a8\'b9\'fd\'ba\'cd\'c4\'e3\'d6\'b8\'b6\'a8\'b5
\'c4\'c8\'f4\'b8\'c9\'cd\'f8\'d5\'be\'bb\'f2\'b7\'fe\'ce\'f1\'c6\'f7\'bd\'f8\'d0\'d0\'b6
\'e0\'b4\'ce\'bc\'f2\'b6\'cc\'cd\'a8\'d1\'b6\'a3\'ac\'b5\'c3\'b5\'bd\'d2\'bb\'b8\'f6\'c4
\'dc\'b6\'d4\'c4\'e3\'b5\'c4\'cd\'f8\'cb\'d9\'bf\'ec\'c2\'fd\'d3\'d0\'b8\'f6\'bf\'cd\'b9
\'db\'c6\'c0\'bc\'db\'b5\'c4\'cb\'d9\'b6\'c8\'c6\'bd\'be\'f9\'d6\'b5\'a1\'a3\'c3\'bf\'b8
\'f6\'b2\'e2\'cb\'d9\'cf\'ee\'bf\'c9\'d1\'a1\'d3\'c3\'d2\'bb\'d6\'d6\'b2\'e2\'cb\'d9\'b7
\'bd\'ca\'bd\'a3\'baPing\'a3\'a8\'b7\'a2\'cb\'cd\'bb\'d8\'cf\'d4\'c7\'eb\'c7\'f3\'a3\'a9
\'a1\'a2\'c8\'a1\'ca\'d7\'d2\'b3\'c4\'da\'c8\'dd\'a3\'a8\'d2\'d4HTTP\'bb\'f2HTTPS\'c8\'a1
\'cd\'f8\'d5\'be\'b5\'c4\'ca\'d7\'d2\'b3\'a3\'a9\'a1\'a2DNS\'b2\'e9\'d1\'af\'a3\'a8\'cf
\'f2DNS\'b7\'fe\'ce\'f1\'c6\'f7\'b2\'e9\'d1\'af\'d2\'bb\'b8\'f6\'d3\'f2\'c3\'fb\'a3\'a9
\'bb\'f2TCP\'c1\'ac\'bd\'d3\'a3\'a8\'d3\'eb"\'d6\'f7\'bb\'fa:\'b6\'cb\'bf\'da"\'bd\'a8\'c1
\'a2\'d2\'bb\'b8\'f6\'c1\'ac\'bd\'d3\'a3\'a9\'a1\'a3\par
  \par
\b 2.\'d4\'f5\'c3\'b4\'ca\'b9\'d3\'c3\'b1\'be\'c8\'ed\'bc\'fe?\b0\par
    \'d4\'cb\'d0\'d0\'c8\'ed\'bc\'fe\'ba\'f3\'a3\'ac\'ce\'d2\'c3\'c7\'bb\'e1\'ce\'aa\'c4
\'e3\'c4\'ac\'c8\'cf\'b4\'f2\'bf\'aa\'d2\'bb\'b8\'f6"\'b3\'a3\'bc\'fb\'cd\'f8\'d5\'be"\'b5
\'c4\'b2\'e2\'cb\'d9\'cf\'ee\'c1\'d0\'b1\'ed\'a3\'ac\'d5\'e2\'ca\'b1\'ba\'f2\'c4\'e3\'d6
\'bb\'d0\'e8\b \'d1\'a1\'d4\'f1\'b2\'cb\'b5\'a5"\'b2\'d9\'d7\'f7"\'cf\'c2\'b5\'c4"\'bf\'aa
\'ca\'bc\'b2\'e2\'cb\'d9"\'c3\'fc\'c1\'ee\b0\'bc\'b4\'bf\'c9\'bf\'aa\'ca\'bc\'b6\'d4\'c4
\'e3\'cd\'f8\'c2\'e7\'bd\'f8\'d0\'d0\'b2\'e2\'cb\'d9\'a1\'a3\'b5\'c8\'b4\'fd\'b2\'e2\'cb
\'d9\'bd\'e1\'ca\'f8\'ba\'f3\'a3\'ac\'d4\'da\'c8\'ed\'bc\'fe\'cf\'c2\'b7\'bd\'c6\'ab\'d3
\'d2\'b5\'c4\'ce\'bb\'d6\'c3\'bb\'e1\'cf\'d4\'ca\'be\'b3\'f6\'d2\'bb\'b8\'f6\'c4\'e3\'b5
\'b1\'c7\'b0\'cd\'f8\'cb\'d9\'b5\'c4\'c6\'bd\'be\'f9\'d6\'b5\'b3\'f6\'c0\'b4\'a1\'a3\par
    \'c8\'ed\'bc\'fe\'ce\'aa\'b7\'bd\'b1\'e3\'be\'ad\'b3\'a3\'b2\'e2\'ca\'d4\'cd\'f8\'c2
\'e7\'cb\'d9\'b6\'c8\'b5\'c4\'d3\'c3\'bb\'a7\'ca\'b9\'d3\'c3\'a3\'ac\'bb\'b9\'c9\'e8\'bc
\'c6\'d3\'d0\'b0\'d1\'b2\'e2\'cb\'d9\'cf\'ee\'c1\'d0\'b1\'ed\'b1\'a3\'b4\'e6\'b3\'c9\'b2
\'e2\'cb\'d9\'b7\'bd\'b0\'b8\'b5\'c8\'b9\'a6\'c4\'dc\'a3\'ba\'b2\'cb\'b5\'a5"\'b7\'bd\'b0
\'b8"\'cf\'c2\'d3\'d0"\'d0\'c2\'bd\'a8\'b2\'e2\'cb\'d9\'b7\'bd\'b0\'b8"\'a1\'a2"\'b4\'f2
\'bf\'aa\'b2\'e2\'cb\'d9\'b7\'bd\'b0\'b8"\'a1\'a2"\'b1\'a3\'b4\'e6\'b2\'e2\'cb\'d9\'b7\'bd
\'b0\'b8"\'a1\'a2"\'c1\'ed\'b4\'e6\'b7\'bd\'b0\'b8\'ce\'aa"\'ba\'cd"\'c9\'be\'b3\'fd\'b2
\'e2\'cb\'d9\'b7\'bd\'b0\'b8"\'a3\'ac\'b2\'cb\'b5\'a5"\'b1\'e0\'bc\'ad"\'cf\'c2\'d3\'d0"
\'d4\'f6\'bc\'d3\'b2\'e2\'cb\'d9\'cf\'ee"\'a1\'a2"\'c9\'be\'b3\'fd\'b2\'e2\'cb\'d9\'cf
\'ee"\'ba\'cd"\'d0\'de\'b8\'c4\'b2\'e2\'cb\'d9\'cf\'ee"\'a1\'a3\par
\par
\b 3.\'d4\'f5\'d1\'f9\'b2\'e9\'bf\'b4\'b2\'e2\'cb\'d9\'b5\'c4\'bd\'e1\'b9\'fb?\b0\par
    \'b2\'e2\'cb\'d9\'bd\'e1\'ca\'f8\'ba\'f3\'a3\'ac\'d4\'da\'c1\'d0\'b1\'ed\'d6\'d0\'d1
\'a1\'d6\'d0\'d2\'bb\'b8\'f6\'b2\'e2\'cb\'d9\'cf\'ee\'a3\'ac\'d1\'a1\'d4\'f1\'b2\'cb\'b5
\'a5"\'b2\'d9\'d7\'f7"\'cf\'c2\'b5\'c4"\'b2\'e2\'cb\'d9\'cf\'ea\'c7\'e9"\'c3\'fc\'c1\'ee
\'a3\'a8\'bb\'f2\'b0\'b4\'bb\'d8\'b3\'b5\'bc\'fc\'a3\'a9\'a3\'ac\'bc\'b4\'bf\'c9\'bf\'b4
\'b5\'bd\'cb\'fc\'c3\'bf\'b4\'ce\'b2\'e2\'cb\'d9\'b5\'c4\'ba\'c4\'ca\'b1\'bb\'f2\'ca\'a7
\'b0\'dc\'b5\'c4\'d4\'ad\'d2\'f2\'a3\'ac\'d2\'d4\'bc\'b0\'d7\'ee\'bf\'ec\'a1\'a2\'c6\'bd
\'be\'f9\'a1\'a2\'d7\'ee\'c2\'fd\'ba\'c4\'ca\'b1\'ba\'cd\'b1\'ea\'d7\'bc\'b2\'ee\'a1\'a3
\'b2\'cb\'b5\'a5"\'b7\'bd\'b0\'b8"\'cf\'c2\'b5\'c4"\'b5\'bc\'b3\'f6\'bd\'e1\'b9\'fb"\'c3
\'fc\'c1\'ee\'b0\'d1\'b2\'e2\'cb\'d9\'bd\'e1\'b9\'fb\'b1\'a3\'b4\'e6\'ce\'aaCSV\'ce\'c4
\'bc\'fe\'a3\'ac\'bf\'c9\'d3\'c3\'b5\'e7\'d7\'d3\'b1\'ed\'b8\'f1\'b3\'cc\'d0\'f2\'b4\'f2
\'bf\'aa\'a1\'a3\'c3\'bf\'b4\'ce\'b2\'e2\'cb\'d9\'b5\'c4\'bd\'e1\'b9\'fb\'b6\'bc\'bc\'c7
\'c8\'eb\'b2\'e2\'cb\'d9\'c0\'fa\'ca\'b7\'a3\'ba\'b2\'cb\'b5\'a5"\'b2\'d9\'d7\'f7"\'cf\'c2
\'b5\'c4"\'b2\'e2\'cb\'d9\'c0\'fa\'ca\'b7"\'c3\'fc\'c1\'ee\'d2\'d4\'cd\'bc\'b1\'ed\'c1\'d0
\'b3\'f6\'b5\'b1\'c7\'b0\'b2\'e2\'cb\'d9\'b7\'bd\'b0\'b8\'c3\'bf\'b4\'ce\'b2\'e2\'cb\'d9
\'b5\'c4\'d7\'dc\'c6\'bd\'be\'f9\'ba\'c4\'ca\'b1\'a3\'ac\'d2\'b2\'bf\'c9\'b5\'bc\'b3\'f6
\'ce\'aaCSV\'ce\'c4\'bc\'fe\'a1\'a3\par
\par
\b 4.\'d4\'f5\'d1\'f9\'cd\'a3\'d6\'b9\'b2\'e2\'cb\'d9\'bb\'f2\'c1\'ac\'d0\'f8\'b2\'e2
\'cb\'d9?\b0\par
    \'b2\'e2\'cb\'d9\'b5\'c4\'b9\'fd\'b3\'cc\'d6\'d0\'a3\'ac\'ce\'aa\'c1\'cb\'bd\'e1\'b9\'fb
\'b5\'c4\'bc\'f2\'bd\'e0\'a3\'ac\'d4\'dd\'ca\'b1\'c6\'c1\'b1\'ce\'c1\'cb\'b4\'f3\'b6\'e0
\'ca\'fd\'b2\'e2\'cb\'d9\'b7\'bd\'b0\'b8\'b2\'d9\'d7\'f7\'b9\'a6\'c4\'dc\'a1\'a3\'d1\'a1
\'d4\'f1\'b2\'cb\'b5\'a5"\'b2\'d9\'d7\'f7"\'cf\'c2\'b5\'c4"\'cd\'a3\'d6\'b9\'b2\'e2
\'cb\'d9"\'c3\'fc\'c1\'ee\'a3\'a8\'bb\'f2\'b0\'b4Esc\'bc\'fc\'a3\'a9\'bf\'c9\'cb\'e6
\'ca\'b1\'cd\'a3\'d6\'b9\'a3\'ba\'d2\'d1\'b2\'e2\'cd\'ea\'b5\'c4\'b2\'e2\'cb\'d9\'cf\'ee
\'b1\'a3\'c1\'f4\'bd\'e1\'b9\'fb\'a3\'ac\'c6\'e4\'d3\'e0\'b5\'c4\'bb\'d8\'b5\'bd"
\'b4\'fd\'b2\'e2\'cb\'d9"\'a3\'ac\'cd\'a3\'d6\'b9\'b5\'c4\'b2\'e2\'cb\'d9\'b2\'bb
\'bc\'c7\'c8\'eb\'b2\'e2\'cb\'d9\'c0\'fa\'ca\'b7\'a1\'a3"\'b2\'d9\'d7\'f7"\'cf\'c2
\'b5\'c4"\'c1\'ac\'d0\'f8\'b2\'e2\'cb\'d9"\'c3\'fc\'c1\'ee\'c3\'bf\'b8\'f4\'c8\'f4
\'b8\'c9\'c3\'eb\'a3\'a85\'b5\'bd3600\'c3\'eb\'a3\'a9\'b2\'e2\'d2\'bb\'b4\'ce\'a3\'ac
\'d6\'b1\'b5\'bd\'cd\'a3\'d6\'b9\'b2\'e2\'cb\'d9\'ce\'aa\'d6\'b9\'a3\'ac\'c3\'bf\'b4\'ce
\'b2\'e2\'cd\'ea\'b6\'bc\'bc\'c7\'c8\'eb\'b2\'e2\'cb\'d9\'c0\'fa\'ca\'b7\'a1\'a3\par
\par
\b 5.\'d4\'f5\'d1\'f9\'ca\'b5\'ca\'b1\'b2\'e9\'bf\'b4\'cd\'f8\'cb\'d9?\b0\par
    \'d1\'a1\'d4\'f1\'b2\'cb\'b5\'a5"\'b2\'d9\'d7\'f7"\'cf\'c2\'b5\'c4"\'ca\'b5\'ca\'b1
\'cd\'bc\'b1\'ed"\'c3\'fc\'c1\'ee\'a3\'ba\'c1\'d0\'b1\'ed\'d6\'d0\'b9\'b4\'d1\'a1
\'b5\'c4\'b2\'e2\'cb\'d9\'cf\'ee\'c3\'bf\'b4\'ce\'b2\'e2\'cb\'d9\'b5\'c4\'ba\'c4\'ca\'b1
\'bb\'ad\'b3\'c9\'d2\'bb\'cc\'f5\'cf\'df\'a3\'ac\'ca\'a7\'b0\'dc\'b5\'c4\'b2\'e2\'cb\'d9
\'b1\'ea\'d4\'da\'ca\'b1\'bc\'e4\'d6\'e1\'c9\'cf\'a3\'bb\'bf\'c9\'bf\'b4\'d7\'ee\'bd\'fc
5\'b7\'d6\'d6\'d3\'a1\'a230\'b7\'d6\'d6\'d3\'bb\'f22\'d0\'a1\'ca\'b1\'a3\'ac\'d3\'c3
\'ca\'f3\'b1\'ea\'b9\'f6\'c2\'d6\'cb\'f5\'b7\'c5\'a3\'ac\'cd\'cf\'b6\'af\'c6\'bd\'d2\'c6
\'a3\'ac"\'bb\'d8\'b5\'bd\'d7\'ee\'d0\'c2"\'bb\'d8\'b5\'bd\'b5\'b1\'c7\'b0\'ca\'b1
\'bc\'e4\'a1\'a3\'b2\'e2\'cb\'d9\'cf\'ee\'c3\'bb\'d3\'d0\'cf\'ec\'d3\'a6\'bb\'f2\'bb\'d6
\'b8\'b4\'cf\'ec\'d3\'a6\'ca\'b1\'a3\'ac\'d7\'c0\'c3\'e6\'bb\'e1\'b5\'af\'b3\'f6\'cd\'a8
\'d6\'aa\'a3\'a8\'bf\'c9\'d3\'c3"\'b2\'d9\'d7\'f7"\'cf\'c2\'b5\'c4"\'d7\'c0\'c3\'e6
\'cd\'a8\'d6\'aa"\'b9\'d8\'b1\'d5\'a3\'a9\'a3\'ac\'cf\'b5\'cd\'b3\'cd\'d0\'c5\'cc
\'cd\'bc\'b1\'ea\'cf\'d4\'ca\'be\'c9\'cf\'b4\'ce\'b2\'e2\'cb\'d9\'b5\'c4\'c6\'bd\'be\'f9
\'ba\'c4\'ca\'b1\'a1\'a3\par
\par
\b 6.\'d4\'f5\'d1\'f9\'d5\'d2\'b3\'f6\'cd\'f8\'cb\'d9\'c2\'fd\'d4\'da\'c4\'c4\'d2\'bb\'b6
\'ce?\b0\par
    \'d4\'da\'c1\'d0\'b1\'ed\'d6\'d0\'d1\'a1\'d6\'d0\'d2\'bb\'b8\'f6\'b2\'e2\'cb\'d9\'cf
\'ee\'a3\'ac\'d1\'a1\'d4\'f1\'b2\'cb\'b5\'a5"\'b2\'d9\'d7\'f7"\'cf\'c2\'b5\'c4"\'c2\'b7
\'d3\'c9\'b8\'fa\'d7\'d9"\'c3\'fc\'c1\'ee\'a3\'a8\'bb\'f2\'d4\'da\'c1\'d0\'b1\'ed\'c9\'cf
\'b5\'a5\'bb\'f7\'d3\'d2\'bc\'fc\'a3\'a9\'a3\'ac\'bc\'b4\'bf\'c9\'b4\'f2\'bf\'aa\'c2\'b7
\'d3\'c9\'b8\'fa\'d7\'d9\'b4\'b0\'bf\'da\'a1\'a3\'cb\'fc\'c3\'bf\'c3\'eb\'cf\'f2\'b8\'c3
\'b2\'e2\'cb\'d9\'cf\'ee\'b5\'c4\'b5\'d8\'d6\'b7\'d6\'f0\'cc\'f8\'b7\'a2\'cb\'cd\'d2\'bb
\'c2\'d6\'c7\'eb\'c7\'f3\'a3\'ac\'c1\'d0\'b3\'f6\'d1\'d8\'cd\'be\'c3\'bf\'d2\'bb\'cc\'f8
\'b5\'c4\'b5\'d8\'d6\'b7\'a1\'a2\'b6\'aa\'b0\'fc\'c2\'ca\'ba\'cd\'ba\'c4\'ca\'b1\'a3\'bb
\'c3\'bb\'d3\'d0\'cf\'ec\'d3\'a6\'b5\'c4\'d2\'bb\'cc\'f8\'cf\'d4\'ca\'be\'ce\'aa???\'a1
\'a3\'bf\'c9\'d2\'d4\'cb\'e6\'ca\'b1\'cd\'a3\'d6\'b9\'a1\'a2\'d6\'d8\'d0\'c2\'bf\'aa\'ca
\'bc\'a3\'ac\'bb\'f2\'b0\'d1\'bd\'e1\'b9\'fb\'b8\'b4\'d6\'c6\'b5\'bd\'bc\'f4\'cc\'f9\'b0
\'e5\'a1\'a3\par
\par
\b 7.\'c4\'dc\'d4\'da\'d6\'d5\'b6\'cb\'c0\'ef\'b2\'e2\'cb\'d9\'c2\'f0?\b0\par
    \'bf\'c9\'d2\'d4\'a1\'a3\'d6\'d5\'b6\'cb\'b3\'cc\'d0\'f2orvel-cli\'d3\'eb\'b1\'be\'c8
\'ed\'bc\'fe\'ca\'b9\'d3\'c3\'cd\'ac\'d1\'f9\'b5\'c4\'b2\'e2\'cb\'d9\'b7\'bd\'ca\'bd\'ba
\'cd\'b2\'e2\'cb\'d9\'b7\'bd\'b0\'b8\'a3\'ba\'b2\'bb\'b4\'f8\'b2\'ce\'ca\'fd\'d4\'cb\'d0
\'d0\'ca\'b1\'a3\'ac\'cb\'fc\'b2\'e2\'ca\'d4\'c9\'cf\'b4\'ce\'b4\'f2\'bf\'aa\'b5\'c4\'b2
\'e2\'cb\'d9\'b7\'bd\'b0\'b8\'a3\'bb\'d2\'b2\'bf\'c9\'d4\'da\'c3\'fc\'c1\'ee\'d0\'d0\'c9
\'cf\'d6\'b1\'bd\'d3\'b8\'f8\'b3\'f6\'d2\'aa\'b2\'e2\'b5\'c4\'d6\'f7\'bb\'fa\'a3\'ac\'bb
\'f2\'d3\'c3--history\'b2\'e9\'bf\'b4\'b2\'e2\'cb\'d9\'c0\'fa\'ca\'b7\'a1\'a3\'cf\'ea\'bc
\'fborvel-cli --help\'a1\'a3\par
}
)rtf";

TfrmHelp::TfrmHelp(QWidget* owner) : QDialog(owner), ui(std::make_unique<Ui::TfrmHelp>())
{
    SetUpFixedDialog(*this, *ui);
    ui->RTFLabel1->SetRichText(std::string(HelpRtf));
    ui->RTFLabel1->Loaded();
    // btnExit is the default button, so Enter closes; Escape and the close
    // box reject() by themselves.
    connect(ui->btnExit, &QPushButton::clicked, this, &TfrmHelp::btnExitClick);
}

TfrmHelp::~TfrmHelp() = default;

void TfrmHelp::btnExitClick()
{
    reject();
}
