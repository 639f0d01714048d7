#include "desktopnotifier.h"
