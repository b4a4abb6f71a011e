#include "controls/Rtflabel.h"
