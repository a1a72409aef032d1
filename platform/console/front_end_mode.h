// The two front ends of a run, which the session, the keyboard and the console each tell apart.
#pragma once

enum class FrontEndMode {
    Terminal, // stdin and stdout are a terminal: raw keys, the screen drawn, a boxed dialog
    Pipe,     // keys are the bytes of key_fd; every ended row is a line on output_fd
};
