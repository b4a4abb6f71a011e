#pragma once
// The pictures of the main window, drawn in code.

#include <QPixmap>

#include <vector>

// Command image indexes (ilDisplay / ilDisable).
enum : int {
    imgNew = 0, imgOpen = 1, imgSave = 2, imgAddItem = 3, imgDelItem = 4, imgModifyItem = 5,
    imgTestSpending = 6, kCommandImageCount = 7,
};

// The seven 16x16 command images in their normal form.
std::vector<QPixmap> DrawCommandImages();
// The same images greyed, for disabled commands.
std::vector<QPixmap> DrawDisabledImages();

