// What the file layer's other parts take from the table of open files: the system's look at an
// open file, with EINTR retried.
#pragma once

#include <sys/stat.h>

int fstat_retrying(int fd, struct stat* info);
