// The main view as the shell reaches it: the engine layer's View_* hooks when
// the executable filled them, else a view of the shell's own, so that the
// state stack's load and render brackets and the frame's present work for
// any state. The own view is one camera over the main window with colour
// and depth rasters of screenWidth x screenHeight, cleared black at each
// begin and shown with Raster_Show.
#pragma once

struct Camera;

// View_Init, or the own view (1 when it was made). Call after the window's
// size is final and the engine has started.
int MainView_Init(void);
// View_Shutdown, or the own view destroyed.
void MainView_Shutdown(void);
// View_SetMainUpdating: 1 begins the camera update (the own view clears),
// 0 ends it. Nothing when there is no view.
void MainView_SetUpdating(int begin);
// View_ShowRaster: presents the picture in the main window.
void MainView_Show(void);
// The own view's camera, or null (no own view, or the engine layer's view).
Camera* MainView_GetCamera(void);
