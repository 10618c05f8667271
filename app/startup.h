#pragma once

// Start-up steps of the program, apart so that tests run them too.

// Appends the program's own folder and its "imageformats", "platforms" and
// "sqldrivers" subfolders, in that order, after the plug-in folders Qt
// already lists. Nothing relative to the working folder is ever searched.
void appendPluginPaths();

// Routes the libraries' messages to a modal message box that shows only the
// text.
void installMessageBoxReporter();
