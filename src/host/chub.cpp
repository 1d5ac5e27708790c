#include "host/chub.h"

// Controller input arrives with the controller work; until then the program
// runs without a controller, exactly as it does when none is plugged in.
void open_chub() {}
void chub_run() {}
void chub_closz() {}
