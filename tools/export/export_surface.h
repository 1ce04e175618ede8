#pragma once

// dispdome-export's whole run, its main's: the arguments as a command line
// gives them, the files written into the working folder, the exit status.
// The web page's module runs it too, on files in its own memory.
int exportMain(int argc, char** argv);
