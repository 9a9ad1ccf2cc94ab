#pragma once
// Chooses how the web views' frames reach the screen, once, after the application object is
// made and before the first web view: the GL renderer of an offscreen context decides.
void ChooseRenderPath();
