#include "vqlib/Vqfiles.h"

// TODO: not written yet.
