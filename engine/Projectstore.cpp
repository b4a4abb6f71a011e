#include "engine/Projectstore.h"

// TODO: not written yet.
