// How the system's refusal of a file operation reaches the user: its errno turned into the code
// of the failure box, one table per kind of operation, side by side so that their differences
// show (EBUSY is 70 on an open and 55 on a deletion).
#pragma once

#include <string>

#include "platform/file_layer/failure.h"

// A refused open, or a refused look at or emptying of the file just opened. name tells a
// missing folder from a missing file, which give the same errno.
Failure open_refusal(int error, const std::string& name);

// A refused deletion.
Failure delete_refusal(int error);

// A refused or failed read, or a refused look at the size of a file being read.
Failure read_refusal(int error);

// A refused, failed or incomplete write, or a close that reports a lost write; error 0 is a
// write call that wrote nothing.
Failure write_refusal(int error);
