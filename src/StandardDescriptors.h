#pragma once

// Makes sure that no file the camera library opens becomes standard input,
// output or error. A closed standard input or error is opened on /dev/null;
// standard output is where the report goes, so a closed one is an output
// failure. Returns 0, or the error of a standard output that cannot be used.
int prepareStandardDescriptors();
