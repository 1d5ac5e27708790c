// A rectangle in window pixels, as the ratio set records its voice boxes at
// every repaint: x1, y1 the left and top edge, x2, y2 the right and bottom
// edge (signed; a box may stick out of the window on the left). The matrix
// displays place their marks inside these and hit-test strictly inside:
// x1 < x < x2 and y1 < y < y2.
#pragma once

struct BoxRect {
    int x1;
    int y1;
    int x2;
    int y2;
};
