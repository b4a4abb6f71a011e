#include "vqlib/Vqnet.h"

// TODO: not written yet.
