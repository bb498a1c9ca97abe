#pragma once

// The program block: creates the fifteen windows in their order, each followed by its creation
// handler. An error in a creation handler is shown and start-up goes on with the next window.
void createWindows();

// Deletes the windows again (tests start the program several times in one process).
void destroyWindows();
