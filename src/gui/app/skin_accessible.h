#pragma once
// What assistive technology sees of the skin windows, which paint their own controls:
//   - an image button is a push button named by its window (accessibleName), pressed through
//     its click path; a label button (action 0 or -1) is static text;
//   - a layer of a stack lists only its shown children, so hidden buttons are not exposed;
//   - the main frame lists its painted caption buttons as push buttons of their own, each
//     pressed as a click on it is.
// Installed once per process, before the first window is shown.
void InstallSkinAccessibility();
