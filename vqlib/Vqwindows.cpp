#include "vqlib/Vqwindows.h"

// TODO: not written yet.
