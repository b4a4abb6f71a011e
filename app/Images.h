#pragma once
// The pictures of the main window: the command icons and the application
// icon, drawn from their vector sources (icons/*.svg, compiled in) at the
// size and scale each use asks for, so that they stay sharp at any scale.

#include <QIcon>

#include <vector>

// Command image indexes (ilDisplay).
enum : int {
    imgNew = 0, imgOpen = 1, imgSave = 2, imgAddItem = 3, imgDelItem = 4, imgModifyItem = 5,
    imgTestSpending = 6, imgStopTest = 7, kCommandImageCount = 8,
};

// The eight command icons, 16x16 by design; each greys itself for a
// disabled command.
std::vector<QIcon> CommandIcons();

// The application's icon (icons/orvel.svg).
QIcon ApplicationIcon();
