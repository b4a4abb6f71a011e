// The header sort arrow on a plain QTreeWidget, checked on grabbed pixels,
// and the arrow pictures themselves.

#include "Pixels.h"

#include "app/Sortarrows.h"
#include "vqlib/Vqcontrolex.h"

#include <QHeaderView>
#include <QPixmap>
#include <QRegion>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <optional>

namespace {

const QColor kDark(51, 51, 51);
const QColor kLight(204, 204, 204);
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

QImage Grab(QWidget* widget) { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Records what the header's viewport is asked to repaint.
class TPaintRecorder : public QObject {
public:
    QRegion Painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            Painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

}  // namespace

class TestListViewTool : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTreeWidget> FTree;
    std::unique_ptr<vqlib::TListViewTool> FTool;
    QPixmap FUp;
    QPixmap FDown;
    TPaintRecorder FRecorder;

    QHeaderView* Header() { return FTree->header(); }
    QWidget* HeaderViewport() { return FTree->header()->viewport(); }
    QRect Section(int column)
    {
        return QRect(Header()->sectionViewportPosition(column), 0, Header()->sectionSize(column),
                     HeaderViewport()->height());
    }
    QImage GrabHeader() { return Grab(HeaderViewport()); }
    QPoint SectionCentre(int column) { return Section(column).center(); }

    // The arrow's offset in the header; fails the test unless exactly one.
    std::optional<QPoint> ArrowAt(const QImage& arrow)
    {
        const QList<QPoint> found = FindArrow(GrabHeader(), arrow);
        if (found.size() != 1)
            return std::nullopt;
        return found.first();
    }

    // Rightmost x of the caption's ink in a section, found by blanking it.
    int CaptionInkRight(int column)
    {
        const QImage withCaption = GrabHeader();
        const QString caption = FTree->headerItem()->text(column);
        FTree->headerItem()->setText(column, QString());
        const QImage without = GrabHeader();
        FTree->headerItem()->setText(column, caption);
        return Differences(withCaption, without).right();
    }

private slots:
    void init()
    {
        FUp = QPixmap::fromImage(MakeUpArrowImage());
        FDown = QPixmap::fromImage(MakeDownArrowImage());
        FTree = std::make_unique<QTreeWidget>();
        FTree->setColumnCount(5);
        FTree->setHeaderLabels({"名称", "域名/IP地址", "测速方式", "耗时(毫秒)", "说明"});
        const int widths[] = {100, 100, 72, 72, 260};
        for (int i = 0; i < 5; ++i)
            FTree->setColumnWidth(i, widths[i]);
        FTree->header()->setSectionsClickable(true);
        FTree->resize(640, 200);
        HeaderViewport()->installEventFilter(&FRecorder);
        FTree->show();
        QVERIFY(QTest::qWaitForWindowExposed(FTree.get()));
        FTool = std::make_unique<vqlib::TListViewTool>();
        FTool->Attach(FTree.get(), &FUp, &FDown);
    }

    void cleanup()
    {
        FTool.reset();
        FTree.reset();
    }

    void arrowPicturesAreTheTriangleOnRed()
    {
        const QImage up = MakeUpArrowImage();
        const QImage down = MakeDownArrowImage();
        for (const QImage* image : {&up, &down}) {
            QCOMPARE(image->size(), QSize(16, 16));
            QCOMPARE(image->format(), QImage::Format_RGB888);
            QCOMPARE(image->depth(), 24);
        }
        auto drawn = [](const QImage& image, int x, int y) { return image.pixelColor(x, y) != kRed; };
        QRect upBox, downBox;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                if (drawn(up, x, y))
                    upBox |= QRect(x, y, 1, 1);
                if (drawn(down, x, y))
                    downBox |= QRect(x, y, 1, 1);
                // Same shape, mirrored top to bottom (rows 5..11 map onto each other).
                if (y >= 5 && y <= 11)
                    QCOMPARE(drawn(down, x, y), drawn(up, x, 16 - y));
            }
        }
        QCOMPARE(upBox, QRect(QPoint(4, 5), QPoint(11, 11)));
        QCOMPARE(downBox, upBox);

        // Up: rows widen from a 2-pixel apex to the 8-pixel base, symmetric
        // around the middle, without gaps; edges grey, inside white.
        int previousWidth = 0;
        bool sawWhite = false;
        for (int y = 5; y <= 11; ++y) {
            int first = -1, last = -1;
            for (int x = 0; x < 16; ++x)
                if (drawn(up, x, y)) {
                    if (first < 0)
                        first = x;
                    last = x;
                }
            QVERIFY(first >= 0);
            for (int x = first; x <= last; ++x)
                QVERIFY(drawn(up, x, y));
            QCOMPARE(first + last, 15);
            QVERIFY(last - first + 1 >= previousWidth);
            previousWidth = last - first + 1;
            QCOMPARE(up.pixelColor(first, y), kDark);
            QCOMPARE(up.pixelColor(last, y), kLight);
            for (int x = first + 1; x < last; ++x) {
                const QColor c = up.pixelColor(x, y);
                if (y == 11) {
                    QCOMPARE(c, kLight);  // the base
                } else {
                    QCOMPARE(c, kWhite);
                    sawWhite = true;
                }
            }
        }
        QCOMPARE(previousWidth, 8);
        QVERIFY(sawWhite);
        for (int x = 0; x < 16; ++x)
            QCOMPARE(drawn(up, x, 5), x == 7 || x == 8);

        // Down: the base row on top, its other pixels only the three colours.
        QCOMPARE(down.pixelColor(4, 5), kDark);
        for (int y = 5; y <= 11; ++y)
            for (int x = 4; x <= 11; ++x) {
                const QColor c = down.pixelColor(x, y);
                QVERIFY(c == kRed || c == kDark || c == kLight || c == kWhite);
            }
        QCOMPARE(down.pixelColor(7, 8), kWhite);
    }

    void arrowFollowsTheCaptionAndPointsTheWayOfTheSort()
    {
        const QImage baseline = GrabHeader();
        const int captionRight = CaptionInkRight(0);
        const int captionRight4 = CaptionInkRight(4);
        QVERIFY(captionRight > Section(0).left());

        FTool->SetSortColumn(0, false);
        QCOMPARE(FTool->Column(), 0);
        const QImage sorted = GrabHeader();
        const QRect changed = Differences(baseline, sorted);
        QVERIFY(!changed.isEmpty());
        // The drawn part of the picture starts 4 pixels into it, 5 down.
        const QPoint offset = changed.topLeft() - QPoint(4, 5);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QPoint p = offset + QPoint(x, y);
                const QColor c = FUp.toImage().pixelColor(x, y);
                if (c == kRed)
                    QCOMPARE(sorted.pixelColor(p), baseline.pixelColor(p));
                else
                    QCOMPARE(sorted.pixelColor(p), c);
            }
        QVERIFY(Section(0).contains(changed));
        QVERIFY2(offset.x() > captionRight && offset.x() <= captionRight + 4,
                 qPrintable(QString("arrow at %1, caption ends at %2").arg(offset.x()).arg(captionRight)));
        QVERIFY(qAbs(changed.center().y() - Section(0).center().y()) <= 2);

        FTool->SetSortColumn(0, true);
        QCOMPARE(ArrowAt(MakeDownArrowImage()), std::optional<QPoint>(offset));
        QVERIFY(FindArrow(GrabHeader(), MakeUpArrowImage()).isEmpty());

        // The arrow moves: the old section looks as it did before sorting.
        FTool->SetSortColumn(4, false);
        const QImage moved = GrabHeader();
        QVERIFY(Section(4).contains(Differences(baseline, moved)));
        const std::optional<QPoint> at = ArrowAt(MakeUpArrowImage());
        QVERIFY(at && at->x() > captionRight4);

        FTool->SetSortColumn(-1, false);
        QCOMPARE(FTool->Column(), -1);
        QCOMPARE(GrabHeader(), baseline);
    }

    // A caption that keeps to the right edge has its room on the left: the
    // arrow goes there, just before the caption, and never over it.
    void rightAlignedCaptionHasTheArrowBeforeIt()
    {
        FTree->headerItem()->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        const QImage baseline = GrabHeader();
        const QString caption = FTree->headerItem()->text(3);
        FTree->headerItem()->setText(3, QString());
        const QRect ink = Differences(baseline, GrabHeader());
        FTree->headerItem()->setText(3, caption);
        QVERIFY(!ink.isEmpty());

        FTool->SetSortColumn(3, true);
        const QImage sorted = GrabHeader();
        const QRect arrow = Differences(baseline, sorted);
        QVERIFY(Section(3).contains(arrow));
        QVERIFY2(arrow.right() < ink.left() && ink.left() - arrow.right() <= 8,
                 qPrintable(QString("arrow ends at %1, caption starts at %2").arg(arrow.right()).arg(ink.left())));
        QCOMPARE(ArrowAt(MakeDownArrowImage()), std::optional<QPoint>(arrow.topLeft() - QPoint(4, 5)));

        // Too narrow for both: flush with the left edge, over the caption.
        Header()->resizeSection(3, ink.width() + 6);
        const std::optional<QPoint> at = ArrowAt(MakeDownArrowImage());
        QVERIFY(at);
        QCOMPARE(at->x(), Section(3).left());
    }

    void narrowColumnPutsTheArrowFlushRightAndClipsIt()
    {
        FTool->SetSortColumn(0, false);
        Header()->resizeSection(0, 36);  // caption and arrow do not both fit
        std::optional<QPoint> at = ArrowAt(MakeUpArrowImage());
        QVERIFY(at);
        QCOMPARE(at->x() + 16, Section(0).left() + Section(0).width());

        Header()->setMinimumSectionSize(1);  // the style would keep it wider
        Header()->resizeSection(0, 10);  // narrower than the picture
        FTool->SetSortColumn(-1, false);
        const QImage baseline = GrabHeader();
        FTool->SetSortColumn(0, false);
        const QImage sorted = GrabHeader();
        const QRect changed = Differences(baseline, sorted);
        QVERIFY(!changed.isEmpty());
        QVERIFY(Section(0).contains(changed));
        // Flush with the left edge: picture columns 4..9 are the visible ones.
        const QImage up = MakeUpArrowImage();
        const int left = Section(0).left();
        const int top = changed.top() - 5;
        for (int y = 5; y <= 11; ++y)
            for (int x = 4; x < 10; ++x)
                if (up.pixelColor(x, y) != kRed)
                    QCOMPARE(sorted.pixelColor(left + x, top + y), up.pixelColor(x, y));
    }

    void pressingTheSortedSectionLowersTheArrowByOne()
    {
        FTool->SetSortColumn(0, false);
        const std::optional<QPoint> normal = ArrowAt(MakeUpArrowImage());
        QVERIFY(normal);

        QTest::mousePress(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(0));
        QVERIFY(FTool->Pressed());
        QCOMPARE(ArrowAt(MakeUpArrowImage()), std::optional<QPoint>(*normal + QPoint(0, 1)));

        // Leaving the section, also below the header, lifts it again.
        QTest::mouseMove(HeaderViewport(), SectionCentre(1));
        QVERIFY(!FTool->Pressed());
        QTest::mouseMove(HeaderViewport(), SectionCentre(0));
        QTest::mouseRelease(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(0));
        QCOMPARE(ArrowAt(MakeUpArrowImage()), normal);

        QTest::mousePress(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(0));
        QVERIFY(FTool->Pressed());
        QTest::mouseMove(HeaderViewport(), SectionCentre(0) + QPoint(0, 40));
        QVERIFY(!FTool->Pressed());
        QTest::mouseRelease(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(0) + QPoint(0, 40));

        // The click completing clears it; so does every new sort column.
        QTest::mousePress(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(0));
        QTest::mouseRelease(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(0));
        QVERIFY(!FTool->Pressed());
        QTest::mousePress(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(0));
        FTool->SetSortColumn(0, true);
        QVERIFY(!FTool->Pressed());
        QTest::mouseRelease(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(0));

        // Other sections and other buttons do not press it.
        QTest::mousePress(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(2));
        QVERIFY(!FTool->Pressed());
        QTest::mouseRelease(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(2));
        QTest::mousePress(HeaderViewport(), Qt::RightButton, {}, SectionCentre(0));
        QVERIFY(!FTool->Pressed());
        QTest::mouseRelease(HeaderViewport(), Qt::RightButton, {}, SectionCentre(0));
    }

    void onlyTheOldAndTheNewSectionAreRepainted()
    {
        FRecorder.Painted = QRegion();
        FTool->SetSortColumn(1, false);
        QTRY_VERIFY(FRecorder.Painted.contains(Section(1).center()));
        FRecorder.Painted = QRegion();

        FTool->SetSortColumn(3, true);
        QTRY_VERIFY(FRecorder.Painted.contains(Section(1).center()) && FRecorder.Painted.contains(Section(3).center()));
        const QRegion expected = QRegion(Section(1)) + Section(3);
        QCOMPARE(FRecorder.Painted - expected, QRegion());
    }

    void detachingGivesTheHeaderItsOwnPaintingBack()
    {
        const QImage baseline = GrabHeader();
        FTool->SetSortColumn(2, false);
        QVERIFY(GrabHeader() != baseline);
        FTool.reset();
        QCOMPARE(GrabHeader(), baseline);
        // Mouse events reach nothing of the tool any more.
        QTest::mouseClick(HeaderViewport(), Qt::LeftButton, {}, SectionCentre(2));
        QCOMPARE(GrabHeader(), baseline);

        // Attaching elsewhere releases the first list.
        QTreeWidget other;
        other.setHeaderLabels({"A", "B"});
        other.show();
        vqlib::TListViewTool tool;
        tool.Attach(FTree.get(), &FUp, &FDown);
        tool.SetSortColumn(2, false);
        tool.Attach(&other, &FUp, &FDown);
        QCOMPARE(tool.Column(), -1);
        QCOMPARE(GrabHeader(), baseline);
        tool.SetSortColumn(1, true);
        QVERIFY(!FindArrow(Grab(other.header()->viewport()), MakeDownArrowImage()).isEmpty());
    }

    void survivesMisuse()
    {
        vqlib::TListViewTool unattached;
        unattached.SetSortColumn(1, false);
        QCOMPARE(unattached.Column(), -1);

        FTool->SetSortColumn(17, false);  // no such section: nothing drawn
        QVERIFY(FindArrow(GrabHeader(), MakeUpArrowImage()).isEmpty());

        vqlib::TListViewTool noPictures;
        noPictures.Attach(FTree.get(), nullptr, nullptr);
        noPictures.SetSortColumn(0, false);
        GrabHeader();

        // The list going first leaves the tool harmless.
        auto tree = std::make_unique<QTreeWidget>();
        tree->show();
        vqlib::TListViewTool tool;
        tool.Attach(tree.get(), &FUp, &FDown);
        tool.SetSortColumn(0, false);
        tree.reset();
        tool.SetSortColumn(1, false);
    }
};

QTEST_MAIN(TestListViewTool)
#include "test_Vqcontrolex.moc"
