#include "Shell.h"
