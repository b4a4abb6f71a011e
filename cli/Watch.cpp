#include "cli/Watch.h"
