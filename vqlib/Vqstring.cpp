#include "vqlib/Vqstring.h"

// TODO: not written yet.
