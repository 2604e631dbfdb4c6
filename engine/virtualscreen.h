// The 640 x 480 virtual screen on which sprites and texts are placed, and
// its one mapping onto the real target (the window's raster, whatever its
// size): x is stretched by target width / 640 and y by target height / 480,
// each on its own, so a target that is not 4:3 stretches the picture as it
// stretches the 3D views. Sprites and fonts each keep a switch that turns
// the virtual screen off; their positions are then target pixels.
#pragma once

enum : int {
    VIRTUAL_SCREEN_WIDTH = 640,
    VIRTUAL_SCREEN_HEIGHT = 480,
};

struct VirtualScreenMap {
    float scaleX, scaleY;  // target pixels per position unit
    float width, height;   // the screen in position units (edge modes count back from these)
};

// The mapping of positions onto the target: the virtual screen's when on,
// the target's own pixels (scale 1) when off.
VirtualScreenMap VirtualScreen_GetMap(int on);
