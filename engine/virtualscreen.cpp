#include "engine/virtualscreen.h"

#include "app/shell.h"

VirtualScreenMap VirtualScreen_GetMap(int on)
{
    const float w = (float)App_GetScreenWidth(), h = (float)App_GetScreenHeight();
    if (!on) return VirtualScreenMap{1.0f, 1.0f, w, h};
    const float vw = (float)VIRTUAL_SCREEN_WIDTH, vh = (float)VIRTUAL_SCREEN_HEIGHT;
    return VirtualScreenMap{w / vw, h / vh, vw, vh};
}
