#include "updatercontroller.h"
