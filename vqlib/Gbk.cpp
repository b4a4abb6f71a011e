#include "vqlib/Gbk.h"

// TODO: not written yet.
