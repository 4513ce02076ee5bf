#pragma once

// Ensures and opens the database, shows the main window, and at its close
// saves the SMS text and writes the day's backup. Returns the exit status:
// non-zero when the database could not be prepared.
int runProgram(int &argc, char **argv);
