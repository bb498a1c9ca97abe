#pragma once

// The program block: creates the fifteen windows in their order, each followed by its creation
// handler, then starts the live results page. An error in a creation handler is shown and start-up
// goes on with the next window.
void createWindows();
// The port of the live results page for the windows created next: 0 turns it off; -1 (the default) takes
// "--web-port N" from the command line, or 8080.
void setWebPort(int port);

// Deletes the windows again (tests start the program several times in one process).
void destroyWindows();
