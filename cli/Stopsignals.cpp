#include "cli/Stopsignals.h"
