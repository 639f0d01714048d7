#include "appcast.h"
