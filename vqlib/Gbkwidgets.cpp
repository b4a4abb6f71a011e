#include "vqlib/Gbkwidgets.h"

// TODO: not written yet.
