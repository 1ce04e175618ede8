#pragma once

// Opens the viewer's 700 x 700 double-buffered RGBA window with a depth
// buffer, as the program does, so tests get a real GL context. Needs an X
// display (Xvfb in CI). Safe to call more than once.
void openTestWindow();

// Lets GLUT handle pending window-system events (map, expose, reshape).
void pumpEvents(int rounds = 10);
