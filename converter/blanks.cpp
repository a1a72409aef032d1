// Blank handling shared by the run and the header scan.
#include "converter/blanks.h"

void trim_blanks(std::string& text) {
    std::size_t last = text.find_last_not_of(' ');
    if (last == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(last + 1);
    text.erase(0, text.find_first_not_of(' '));
}
