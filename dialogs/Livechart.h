#pragma once
// The live chart: every try of the open plan's items as it comes in, a line
// per ticked item and failed tries as marks on the time axis, over the last
// 5 minutes, 30 minutes or 2 hours. The wheel zooms the time axis, dragging
// pans it; while the view is away from the live end it stays put, until
// 回到最新 follows the live end again. Each line is thinned to a few points
// per pixel before Qt Charts sees it, so that hours of a large plan redraw
// quickly.

#include "engine/Livetries.h"

#include <QDialog>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QListWidgetItem;
class QScatterSeries;
class QTimer;
class QValueAxis;

namespace Ui { class TfrmLiveChart; }

class TfrmLiveChart : public QDialog {
    Q_OBJECT
public:
    using TClock = TLiveTries::TClock;
    using TNow = std::function<TClock::time_point()>;
    static constexpr std::chrono::milliseconds kRefreshEvery{1000};
    static constexpr std::chrono::seconds kNarrowest{10};  // the closest zoom
    // The spans of the choice, in its order.
    static const std::vector<std::chrono::seconds>& Spans();

    // tries: what the window gathers; now: the clock (a test's own, or the
    // system's). The window is not modal.
    TfrmLiveChart(QWidget* owner, std::shared_ptr<const TLiveTries> tries, TNow now = TClock::now);
    ~TfrmLiveChart() override;

    // The plan's items by their names (UTF-8), in the plan's order, and the
    // plan's name. Names ticked before stay ticked; new ones are ticked.
    // The same items and plan again change nothing.
    void SetItems(const std::vector<std::string>& names, const QString& plan);
    // Draws what the tries hold now; the timer calls it while shown.
    void Refresh();

    TClock::time_point ViewFrom() const { return FViewTo - FViewSpan; }
    TClock::time_point ViewTo() const { return FViewTo; }
    bool Following() const { return FFollowing; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;  // the wheel and dragging
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void cbSpanChanged(int index);
    void btnLiveClick();
    void lbItemsChanged(QListWidgetItem* entry);
    void RebuildSeries();
    bool SameAsDrawn() const;
    void DrawSeries(TClock::time_point from, TClock::time_point to);
    void FitAxes(TClock::time_point from, TClock::time_point to, double slowest);
    void ZoomAt(int x, int notches);
    void PanBy(int dx);
    void KeepInRange();
    double PlotLeft() const;
    double PlotWidth() const;
    int BucketCount() const;

    std::unique_ptr<Ui::TfrmLiveChart> ui;
    std::shared_ptr<const TLiveTries> FTries;
    TNow FNow;
    QTimer* FTimer;
    std::vector<std::string> FNames;  // the plan's items, in order
    std::set<std::string> FUnticked;  // of them, those not drawn
    std::vector<std::pair<size_t, QLineSeries*>> FLines;  // place in FNames, series
    QScatterSeries* FFailures = nullptr;
    QDateTimeAxis* FTimeAxis = nullptr;
    QValueAxis* FValueAxis = nullptr;
    std::chrono::seconds FSpan{300};
    TClock::duration FViewSpan = std::chrono::seconds(300);
    TClock::time_point FViewTo;
    bool FFollowing = true;
    struct TDrawn {
        uint64_t Version;
        TClock::time_point To;
        TClock::duration Span;
        int Buckets;
    };
    std::optional<TDrawn> FDrawn;  // what the series show now
    bool FDragging = false;
    int FDragX = 0;
    TClock::time_point FDragTo;
};
