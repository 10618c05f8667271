#pragma once

// Start-up steps of the program, apart so that tests run them too.

// Appends ".", "imageformats", "platforms" and "sqldrivers", as plain relative
// names, after the plug-in folders Qt already lists.
void appendPluginPaths();

// Routes the libraries' messages to a modal message box that shows only the
// text.
void installMessageBoxReporter();
