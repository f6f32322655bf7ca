// Exits with 1 when the silent switch is on in this process's own command line, else 0.
#include "silent_switch.hpp"

int main() {
    return kov::read_silent_switch() ? 1 : 0;
}
