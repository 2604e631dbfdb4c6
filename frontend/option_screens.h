// The handlers of the option screens: Options (the options menu),
// ControllerOptions (one of three control presets on a 3D controller
// model), ControllerOptions2 (a turning model that shows each item in
// turn), GameOptions (the difficulty) and SoundOptions (music and effects
// volumes in sixteenths and a two-state option, with a confirm step, a
// restore on cancel and the autosave on confirm).
//
// The model screens draw their first animation's model over the background
// from a camera node of their own at the origin, with a field of view of
// 0.55: ControllerOptions' camera eases towards the button of the focused
// label (each label points at its button), ControllerOptions2's towards the
// control its shown item names ("Item<n>"), SoundOptions' looks straight
// ahead. SoundOptions holds its text file's section on the two-state
// option's value, so the data lays out how each value shows.
//
// The screens run without their models: a missing scene, animation or node
// is neither placed nor drawn.
//
// Main thread only.
#pragma once

// Frees what a model screen made (root and model nodes, the 2D batch) and
// gives the screen's animations back their nodes' parents: the exit of the
// front end while such a screen is shown.
void FrontEnd_ReleaseModelScreen(void);

void FrontEnd_OptionsEnter(int);
void FrontEnd_ControllerOptionsEnter(int);
void FrontEnd_ControllerOptionsExit(int);
void FrontEnd_ControllerOptionsUpdate(float* dt);
void FrontEnd_ControllerOptionsRenderBack(float* time);
void FrontEnd_ControllerOptionsRenderFront(float* time);
// ControllerOptions' texts: what each button of the controller does in the
// layout chosen (one label per item, beside it), the player's controller
// and the layout's number.
void FrontEnd_DrawBindingLabels(void);
void FrontEnd_ControllerOptions2Enter(int);
void FrontEnd_ControllerOptions2Exit(int);
void FrontEnd_ControllerOptions2Update(float* dt);
void FrontEnd_ControllerOptions2RenderBack(float* time);
void FrontEnd_GameOptionsEnter(int);
void FrontEnd_GameOptionsUpdate(float* dt);
void FrontEnd_SoundOptionsEnter(int);
void FrontEnd_SoundOptionsExit(int);
void FrontEnd_SoundOptionsUpdate(float* dt);
void FrontEnd_SoundOptionsRenderBack(float* time);
