// The plan list dialog and the plan name dialog.
#include "dialogs/Inputprojectname.h"
#include "dialogs/Projectlist.h"

#include "Dialogscript.h"
#include "Pixels.h"
#include "vqlib/Gbkwidgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

const QString kChooseFirst = QStringLiteral("请先选择一个测速方案。");
const QString kBadPlanName = QStringLiteral("测速方案名称不能含有=#^和回车字符。");

void CheckFont(const QWidget& dialog)
{
    QCOMPARE(dialog.font().family(), QStringLiteral("宋体"));
    QCOMPARE(dialog.font().pointSize(), 9);
}

}  // namespace

class TestProjectDialogs : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmProjectList> List;
    std::unique_ptr<TfrmProjectName> Name;

    void DoubleClickRow(int row)
    {
        QListWidget* box = List->lbProjectList;
        const QRect rect = box->visualItemRect(box->item(row));
        QTest::mouseDClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }

private slots:
    void init()
    {
        List = std::make_unique<TfrmProjectList>(nullptr);
        Name = std::make_unique<TfrmProjectName>(nullptr);
    }
    void cleanup()
    {
        List.reset();
        Name.reset();
    }

    void planListLayout()
    {
        TfrmProjectList& d = *List;
        QCOMPARE(d.objectName(), QStringLiteral("frmProjectList"));
        QCOMPARE(d.windowTitle(), QStringLiteral("测速方案列表"));
        QCOMPARE(d.size(), QSize(244, 261));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        CheckFont(d);
        QCOMPARE(d.Label1->geometry(), QRect(8, 13, 138, 12));
        QCOMPARE(d.lbProjectList->geometry(), QRect(8, 39, 225, 177));
        QCOMPARE(d.btnConfirm->geometry(), QRect(49, 227, 87, 25));
        QCOMPARE(d.btnCancel->geometry(), QRect(146, 227, 87, 25));
        QCOMPARE(d.Label1->text(), QStringLiteral("现有的测速方案列表(&L)："));
        QCOMPARE(d.Label1->buddy(), d.lbProjectList);
        QCOMPARE(d.btnConfirm->text(), QStringLiteral("确定(&Y)"));
        QCOMPARE(d.btnCancel->text(), QStringLiteral("取消(&C)"));
        QCOMPARE(d.lbProjectList->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(NextTabStop(d.lbProjectList), d.btnConfirm);
        QCOMPARE(NextTabStop(d.btnConfirm), d.btnCancel);
        QVERIFY(!d.FConfirmed);
    }

    // Entries keep the caller's order and their exact bytes; none is selected.
    void planListKeepsOrderAndBytes()
    {
        const std::string odd = "x\xFF";
        List->SetProjects({"zeta", "\xBC\xD2\xC0\xEF", "alpha", "zeta", odd});
        QListWidget* box = List->lbProjectList;
        QCOMPARE(box->count(), 5);
        QCOMPARE(box->item(0)->text(), QStringLiteral("zeta"));
        QCOMPARE(box->item(1)->text(), QStringLiteral("家里"));
        QCOMPARE(box->item(2)->text(), QStringLiteral("alpha"));
        QCOMPARE(box->item(1)->sizeHint().height(), std::max(12, box->fontMetrics().height()));
        QVERIFY(box->selectedItems().isEmpty());
        QCOMPARE(List->SelectedProject(), std::nullopt);
        box->item(4)->setSelected(true);
        QCOMPARE(List->SelectedProject(), std::optional<std::string>(odd));

        List->SetProjects({"one"});
        QCOMPARE(box->count(), 1);
        QVERIFY(box->selectedItems().isEmpty());
    }

    // The entries are as high as the font needs, at least the designed 12
    // pixels: letters that reach below the line keep their tails.
    void planListRowsFollowTheFont()
    {
        QListWidget* box = List->lbProjectList;
        List->show();
        QVERIFY(QTest::qWaitForWindowExposed(List.get()));
        const auto inkOf = [&](const char* name) {
            List->SetProjects({"", "x"});
            QCoreApplication::processEvents();  // the list lays its entries out later
            const QImage blank = box->viewport()->grab().toImage();
            List->SetProjects({name, "x"});
            QCoreApplication::processEvents();
            return Differences(blank, box->viewport()->grab().toImage());
        };
        const QRect capitals = inkOf("ABCDE");
        const QRect tails = inkOf("gypjq");
        const QRect row = box->visualItemRect(box->item(0));
        QVERIFY(row.height() >= std::max(12, box->fontMetrics().height()));
        QVERIFY(row.contains(tails));
        QVERIFY2(tails.bottom() >= capitals.bottom() + 2,
                 qPrintable(QString("tails end at %1, capitals at %2, row at %3")
                                .arg(tails.bottom()).arg(capitals.bottom()).arg(row.bottom())));

        QFont small = box->font();
        small.setPixelSize(6);
        box->setFont(small);
        List->SetProjects({"a", "b"});
        QCoreApplication::processEvents();
        QCOMPARE(box->visualItemRect(box->item(1)).height(), 12);
    }

    void planListConfirmNeedsASelection()
    {
        List->SetProjects({"a", "b"});
        List->show();
        QVERIFY(QTest::qWaitForWindowExposed(List.get()));
        {
            TBoxScript boxes;
            List->btnConfirm->click();
            QCOMPARE(boxes.Texts(), QStringList{kChooseFirst});
            QCOMPARE(boxes.Seen[0].Caption, QStringLiteral("信息"));
        }
        QVERIFY(List->isVisible());
        QVERIFY(!List->FConfirmed);
        QCOMPARE(List->focusWidget(), List->lbProjectList);

        List->lbProjectList->item(1)->setSelected(true);
        TBoxScript boxes;
        List->btnConfirm->click();
        QVERIFY(boxes.Seen.empty());
        QVERIFY(List->FConfirmed);
        QCOMPARE(List->SelectedProject(), std::optional<std::string>("b"));
    }

    // Under exec(): a double-click on an entry confirms it at once; on an
    // empty list it does nothing and Escape closes unconfirmed.
    void planListDoubleClick()
    {
        List->SetProjects({"a", "b", "c"});
        WhenModal(QStringLiteral("frmProjectList"), [this](QDialog&) { DoubleClickRow(2); });
        List->exec();
        QVERIFY(List->FConfirmed);
        QCOMPARE(List->SelectedProject(), std::optional<std::string>("c"));

        TfrmProjectList empty(nullptr);
        bool openAfterDoubleClick = false;
        WhenModal<TfrmProjectList>(QStringLiteral("frmProjectList"), [&](TfrmProjectList& d) {
            TBoxScript boxes;
            QTest::mouseDClick(d.lbProjectList->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
            QCoreApplication::processEvents();
            openAfterDoubleClick = d.isVisible() && boxes.Seen.empty();
            QTest::keyClick(d.lbProjectList, Qt::Key_Escape);
        });
        empty.exec();
        QVERIFY(openAfterDoubleClick);
        QVERIFY(!empty.FConfirmed);
    }

    void planListCancelAndEnter()
    {
        List->SetProjects({"a"});
        bool openAfterEnter = false;
        WhenModal<TfrmProjectList>(QStringLiteral("frmProjectList"), [&](TfrmProjectList& d) {
            d.lbProjectList->item(0)->setSelected(true);
            QTest::keyClick(d.lbProjectList, Qt::Key_Return);
            openAfterEnter = d.isVisible();
            QTest::mouseClick(d.btnCancel, Qt::LeftButton);
        });
        List->exec();
        QVERIFY(openAfterEnter);
        QVERIFY(!List->FConfirmed);
    }

    void planNameLayout()
    {
        TfrmProjectName& d = *Name;
        QCOMPARE(d.objectName(), QStringLiteral("frmProjectName"));
        QCOMPARE(d.windowTitle(), QStringLiteral("另存测速方案为..."));
        QCOMPARE(d.size(), QSize(394, 84));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        CheckFont(d);
        QCOMPARE(d.Label1->geometry(), QRect(8, 8, 126, 12));
        QCOMPARE(d.edtProjectName->geometry(), QRect(8, 24, 378, 20));
        QCOMPARE(d.btnConfirm->geometry(), QRect(201, 52, 87, 25));
        QCOMPARE(d.btnCancel->geometry(), QRect(299, 52, 87, 25));
        QCOMPARE(d.Label1->text(), QStringLiteral("请输入测速方案名(&N)："));
        QCOMPARE(d.Label1->buddy(), d.edtProjectName);
        QCOMPARE(d.btnConfirm->text(), QStringLiteral("确定(&Y)"));
        QCOMPARE(d.btnCancel->text(), QStringLiteral("取消(&C)"));
        QVERIFY(d.edtProjectName->text().isEmpty());
        QCOMPARE(NextTabStop(d.edtProjectName), d.btnConfirm);
        QCOMPARE(NextTabStop(d.btnConfirm), d.btnCancel);
        QVERIFY(!d.FConfirmed);
    }

    void planNameRefusesSeparators_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("equals") << "a=b";
        QTest::newRow("hash") << "家里#2";
        QTest::newRow("caret") << "^";
        QTest::newRow("trail byte 0x5E") << "區";
    }
    void planNameRefusesSeparators()
    {
        QFETCH(QString, name);
        Name->show();
        QVERIFY(QTest::qWaitForWindowExposed(Name.get()));
        Name->edtProjectName->setText(name);
        TBoxScript boxes;
        Name->btnConfirm->click();
        QCOMPARE(boxes.Texts(), QStringList{kBadPlanName});
        QCOMPARE(Name->edtProjectName->text(), name);
        QCOMPARE(Name->focusWidget(), Name->edtProjectName);
        QVERIFY(Name->isVisible());
        QVERIFY(!Name->FConfirmed);
    }

    // Blank names confirm (the caller then saves nothing); blanks around a
    // name are handed back for the caller to trim.
    void planNameConfirms_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks") << "   ";
        QTest::newRow("padded") << "  家里 ";
        QTest::newRow("long") << QString(300, QChar(0x5BB6));
    }
    void planNameConfirms()
    {
        QFETCH(QString, name);
        Name->edtProjectName->setText(name);
        TBoxScript boxes;
        Name->btnConfirm->click();
        QVERIFY(boxes.Seen.empty());
        QVERIFY(Name->FConfirmed);
        QCOMPARE(Name->ProjectNameText(), ToGbk(name));
    }

    void planNameTyping()
    {
        Name->show();
        QVERIFY(QTest::qWaitForWindowExposed(Name.get()));
        QLineEdit* edit = Name->edtProjectName;
        edit->setFocus();
        TypeText(edit, QString(150, QChar(0x5BB6)));
        QCOMPARE(edit->text().size(), 150);
        TypeText(edit, QStringLiteral("ก"));
        edit->insert(QString::fromUtf8("\xF0\x9F\x98\x80"));
        QCOMPARE(edit->text().size(), 150);
    }

    // Under exec(): Enter in the field presses OK, the default button, which
    // checks the name first.
    void planNameUnderExec()
    {
        QVERIFY(Name->btnConfirm->isDefault());
        QStringList refused;
        bool openAfterRefusal = false;
        WhenModal<TfrmProjectName>(QStringLiteral("frmProjectName"), [&](TfrmProjectName& d) {
            d.edtProjectName->setFocus();
            {
                TBoxScript boxes;
                boxes.Answer({IDOK});
                QTest::keyClicks(d.edtProjectName, QStringLiteral("a^"));
                QTest::keyClick(d.edtProjectName, Qt::Key_Return);
                refused = boxes.Texts();
                openAfterRefusal = d.isVisible();
            }
            d.edtProjectName->clear();
            QTest::keyClicks(d.edtProjectName, QStringLiteral(" office "));
            QTest::keyClick(d.edtProjectName, Qt::Key_Return);
        });
        Name->exec();
        QCOMPARE(refused, QStringList{kBadPlanName});
        QVERIFY(openAfterRefusal);
        QVERIFY(Name->FConfirmed);
        QCOMPARE(Name->ProjectNameText(), std::optional<std::string>(" office "));

        TfrmProjectName escaped(nullptr);
        WhenModal<TfrmProjectName>(QStringLiteral("frmProjectName"), [](TfrmProjectName& d) {
            d.edtProjectName->setText(QStringLiteral("x"));
            QTest::keyClick(d.edtProjectName, Qt::Key_Escape);
        });
        escaped.exec();
        QVERIFY(!escaped.FConfirmed);
    }
};

QTEST_MAIN(TestProjectDialogs)
#include "test_Projectlist.moc"
